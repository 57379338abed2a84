// The real brimlow window on an X server of its own (Xvfb), driven by synthetic keys (xdotool) as an operator would,
// from a page to the SNPP peer to an exit whose failed save is tried again.
#include "directory/data_files.h"
#include "tests/lan_raw_client.h"
#include "tests/support/line_peer.h"
#include "tests/support/peer_process.h"
#include "tests/support/test_console.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace brimlow {
namespace {

// An X server on the first free display; DISPLAY names it for this process and its children. The shell prints its
// process id, then Xvfb the display number; the pipe stays open while Xvfb runs, which dies writing to a closed one.
class Xvfb {
public:
    Xvfb()
        : m_pipe(popen("echo $$; exec /usr/bin/Xvfb -displayfd 1 -screen 0 1280x1024x24 -noreset -nolisten tcp", "r")) {
        int display = -1;
        if (m_pipe && fscanf(m_pipe, "%d %d", &m_pid, &display) == 2)
            setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
        ready = display >= 0;
    }
    ~Xvfb() {
        if (m_pid > 0)
            kill(m_pid, SIGTERM);
        if (m_pipe)
            pclose(m_pipe);
    }
    bool ready = false;

private:
    FILE* m_pipe;
    pid_t m_pid = -1;
};

// Runs xdotool with args for at most 20 seconds; true when it succeeded (a search, when it found a window).
bool Xdotool(const std::string& args) {
    return std::system(("timeout 20 /usr/bin/xdotool " + args + " >/dev/null").c_str()) == 0;
}

// Focuses the visible window titled exactly title once it is there.
bool FocusWindow(const std::string& title) {
    return Xdotool("search --sync --onlyvisible --name '^" + title + "$' windowfocus --sync");
}

TEST(WindowProcess, AnOperatorSendsAPageAndExits) {
    Xvfb display;
    ASSERT_TRUE(display.ready);
    test::TempDir data, config, peerDir;
    std::string log = peerDir.File("pages.log");
    test::PeerProcess snpp({"/usr/bin/perl", test::PeerScript("snpp_server.pl"), log});
    ASSERT_GT(snpp.Port(), 0);
    auto dir = Directory::Create();
    dir->companies[0] = test::MakeCompany("Metro", "127.0.0.1", snpp.Port());
    AddSubscriber(*dir, test::MakeSubscriber("Ann", 0, "5551234"));
    ASSERT_TRUE(SaveDirectoryFiles(data.Path(), *dir, ModemSettings{}) && SaveCompanyFile(data.Path(), *dir));

    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("LSAN_OPTIONS", ("suppressions=" + test::SourceDir() + "/tests/lsan.supp").c_str(), 1);
    const std::vector<std::string> env = {"XDG_CONFIG_HOME=" + config.Path(),
                                          "BRIMLOW_LAN_PORT=" + std::to_string(test::UnusedPort())};
    test::BrimlowProcess console;
    ASSERT_TRUE(console.Start({"--data", data.Path()}, env));
    ASSERT_TRUE(FocusWindow("Brimlow - Quillfen Labs")) << console.Output();
    // The message has the focus first; Tab leads to the list, whose first row Space selects.
    ASSERT_TRUE(Xdotool("type --delay 20 'Drill at noon'"));
    ASSERT_TRUE(Xdotool("key --delay 50 Tab space ctrl+Return"));
    EXPECT_TRUE(test::WaitFor([&] { return test::ReadFile(log) == "5551234\tDrill at noon\\n\n"; }, 20000))
        << test::ReadFile(log);

    // A second console on this desktop hands over to this window and ends without creating its data directory.
    test::BrimlowProcess second;
    ASSERT_TRUE(second.Start({"--data", peerDir.File("second")}, env));
    EXPECT_EQ(second.Wait(), 0) << second.Output();
    EXPECT_FALSE(std::filesystem::exists(peerDir.File("second")));

    // A folder in GROUP.DAT's place makes the save at exit fail, even for root, until it is gone.
    std::filesystem::remove(data.File("GROUP.DAT"));
    std::filesystem::create_directories(data.File("GROUP.DAT/in the way"));
    ASSERT_TRUE(FocusWindow("Brimlow - Quillfen Labs"));
    ASSERT_TRUE(Xdotool("key Escape"));
    ASSERT_TRUE(FocusWindow("Brimlow"));
    ASSERT_TRUE(Xdotool("key Return")); // Yes, the question's default
    ASSERT_TRUE(test::WaitFor([] { return !Xdotool("search --onlyvisible --name '^Brimlow - Quillfen Labs$'"); }));
    ASSERT_TRUE(FocusWindow("Brimlow")); // "Unable to save GROUP.DAT in ... Try again?"
    std::filesystem::remove_all(data.File("GROUP.DAT"));
    ASSERT_TRUE(Xdotool("key Return"));
    EXPECT_EQ(console.Wait(30000), 0) << console.Output();
    EXPECT_TRUE(std::filesystem::is_regular_file(data.File("GROUP.DAT")));
    EXPECT_TRUE(test::FileExists(config.File("Quillfen Labs/Brimlow.conf")));
}

} // namespace
} // namespace brimlow
