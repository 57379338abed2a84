// The real brimlow window process on an X server of its own (Xvfb), driven by synthetic keys (xdotool) as an
// operator would: a page to a subscriber reaches the SNPP peer, a second console only asks this one to the
// front, and Escape, Yes ends the console with its files saved, after a save that failed was tried again.
#include "directory/data_files.h"
#include "tests/lan_raw_client.h"
#include "tests/support/line_peer.h"
#include "tests/support/peer_process.h"
#include "tests/support/test_console.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brimlow {
namespace {

// Runs argv to its end; its standard output, or nullopt when it failed.
std::optional<std::string> RunTool(const std::vector<std::string>& argv) {
    int out[2];
    if (pipe(out) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid;
    int rc = test::SpawnProcess(pid, actions, argv);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; rc == 0 && (n = read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    if (rc != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return text;
}

// An X server on the first free display; DISPLAY names it for this process and its children.
class Xvfb {
public:
    Xvfb() {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        int rc = test::SpawnProcess(
            m_pid, actions,
            {"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-noreset", "-nolisten", "tcp"});
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        std::string number;
        char c;
        while (rc == 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        m_numberPipe = fds[0]; // open while the server runs: a server that writes to a closed pipe dies
        if (rc != 0)
            m_pid = -1;
        else if (!number.empty())
            setenv("DISPLAY", (":" + number).c_str(), 1);
        m_ready = !number.empty();
    }
    ~Xvfb() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_numberPipe);
    }
    bool Ready() const { return m_ready; }

private:
    pid_t m_pid = -1;
    int m_numberPipe = -1;
    bool m_ready = false;
};

bool Keys(const std::vector<std::string>& keys) {
    std::vector<std::string> argv{"/usr/bin/xdotool", "key", "--delay", "50"};
    argv.insert(argv.end(), keys.begin(), keys.end());
    return RunTool(argv).has_value();
}

// Focuses the visible window titled exactly title once it is there.
bool FocusWindow(const std::string& title) {
    std::string id;
    bool found = test::WaitFor(
        [&] {
            std::optional<std::string> ids =
                RunTool({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"});
            id = ids ? ids->substr(0, ids->find('\n')) : "";
            return !id.empty();
        },
        20000);
    return found && RunTool({"/usr/bin/xdotool", "windowfocus", "--sync", id}).has_value();
}

TEST(WindowProcess, AnOperatorSendsAPageAndExits) {
    Xvfb display;
    ASSERT_TRUE(display.Ready());
    test::TempDir data, config, peerDir;
    std::string log = peerDir.File("pages.log");
    test::PeerProcess snpp({"/usr/bin/perl", test::PeerScript("snpp_server.pl"), log, peerDir.File("status")});
    ASSERT_GT(snpp.Port(), 0);
    auto dir = Directory::Create();
    dir->companies[0] = test::MakeCompany("Metro", "127.0.0.1", snpp.Port());
    AddSubscriber(*dir, test::MakeSubscriber("Ann", 0, "5551234"));
    ModemSettings modem{};
    ASSERT_TRUE(SaveDirectoryFiles(data.Path(), *dir, modem));
    ASSERT_TRUE(SaveCompanyFile(data.Path(), *dir));

    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("LSAN_OPTIONS", ("suppressions=" + test::SourceDir() + "/tests/lsan.supp").c_str(), 1);
    const std::vector<std::string> env{"XDG_CONFIG_HOME=" + config.Path(),
                                       "BRIMLOW_LAN_PORT=" + std::to_string(test::UnusedPort())};
    test::BrimlowProcess console;
    ASSERT_TRUE(console.Start({"--data", data.Path()}, env));
    ASSERT_TRUE(FocusWindow("Brimlow - Quillfen Labs")) << console.Output();
    // The message has the focus first; Tab leads to the list, whose first row Space selects.
    ASSERT_TRUE(RunTool({"/usr/bin/xdotool", "type", "--delay", "20", "Drill at noon"}));
    ASSERT_TRUE(Keys({"Tab", "space", "ctrl+Return"}));
    EXPECT_TRUE(test::WaitFor([&] { return test::ReadFile(log) == "5551234\tDrill at noon\\n\n"; }, 20000))
        << test::ReadFile(log);

    // A second console on the same desktop asks this one to the front and ends.
    test::RunResult second = test::RunBrimlow({"--data", data.Path()}, env);
    EXPECT_EQ(second.status, 0);
    EXPECT_NE(second.out.find("already running"), std::string::npos) << second.out;

    // A folder in GROUP.DAT's place makes the save at exit fail, even for root; the window offers to try again,
    // and once the folder is gone the second try saves.
    std::filesystem::remove(data.File("GROUP.DAT"));
    std::filesystem::create_directories(data.File("GROUP.DAT/in the way"));
    ASSERT_TRUE(FocusWindow("Brimlow - Quillfen Labs"));
    ASSERT_TRUE(Keys({"Escape"}));
    ASSERT_TRUE(FocusWindow("Brimlow"));
    ASSERT_TRUE(Keys({"Return"})); // Yes, the question's default
    ASSERT_TRUE(test::WaitFor([] {
        return !RunTool({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "^Brimlow - Quillfen Labs$"});
    }));
    ASSERT_TRUE(FocusWindow("Brimlow")); // "Unable to save GROUP.DAT in ... Try again?"
    std::filesystem::remove_all(data.File("GROUP.DAT"));
    ASSERT_TRUE(Keys({"Return"}));
    EXPECT_EQ(console.Wait(30000), 0) << console.Output();
    EXPECT_TRUE(std::filesystem::is_regular_file(data.File("GROUP.DAT")));
    EXPECT_TRUE(test::FileExists(config.File("Quillfen Labs/Brimlow.conf")));
}

} // namespace
} // namespace brimlow
