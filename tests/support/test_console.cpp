#include "tests/support/test_console.h"

#include "directory/data_files.h"
#include "queue/message_file.h"
#include "queue/status.h"
#include "queue/unique_name.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace brimlow::test {
namespace {

// Polls done every few milliseconds until it holds or timeoutMs passed; its last answer.
template <typename Done> bool Poll(Done done, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace

TempDir::TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "brimlow-test-XXXXXX").string();
    char* made = mkdtemp(templ.data());
    m_path = made ? made : "/tmp";
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void RecordingOperator::ShowMessage(MessageIcon, const std::string&, const std::string& text) {
    std::lock_guard lock(m_mutex);
    m_texts.push_back(text);
}

void RecordingOperator::AddResultLine(const std::string& text) {
    std::lock_guard lock(m_mutex);
    m_resultLines.push_back(text);
}

std::vector<std::string> RecordingOperator::MessageTexts() const {
    std::lock_guard lock(m_mutex);
    return m_texts;
}

std::vector<std::string> RecordingOperator::ResultLines() const {
    std::lock_guard lock(m_mutex);
    return m_resultLines;
}

TestConsole::TestConsole(bool drainStatus) {
    console.dataDir = dir.Path();
    console.op = &op;
    if (drainStatus)
        m_drain = std::thread([this] {
            while (!m_stop)
                if (auto line = WaitStatus(console, 20)) {
                    std::lock_guard lock(m_mutex);
                    m_lines.push_back(*line);
                }
        });
}

TestConsole::~TestConsole() {
    // Workers may still post; keep draining until they are gone.
    console.workers.WaitIdle(30000);
    m_stop = true;
    if (m_drain.joinable())
        m_drain.join();
}

std::vector<std::string> TestConsole::StatusLines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
}

bool TestConsole::WaitForStatus(const std::string& text, int timeoutMs) const {
    return Poll(
        [&] {
            for (const std::string& line : StatusLines())
                if (line.find(text) != std::string::npos)
                    return true;
            return false;
        },
        timeoutMs);
}

std::vector<std::string> TestConsole::WaitForLines(size_t count, int timeoutMs) const {
    Poll([&] { return StatusLines().size() >= count; }, timeoutMs);
    return StatusLines();
}

std::string ReadFile(const std::string& path) {
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool FileExists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

std::vector<std::string> ListDir(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(path, ec))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

SubscriberRecord MakeSubscriber(const std::string& name, int company, const std::string& pin, int tab) {
    SubscriberRecord r{};
    SetText(r.Name, name);
    SetText(r.PIN, pin);
    r.Company = company;
    r.Tab = static_cast<int8_t>(tab);
    return r;
}

CompanyRecord MakeCompany(const std::string& name, const std::string& address, int socket) {
    CompanyRecord c{};
    SetText(c.Name, name);
    SetText(c.Address, address);
    c.Socket = static_cast<int16_t>(socket);
    c.Baud = 9600;
    c.MaxChars = 300;
    return c;
}

int AddGroup(Directory& dir, const std::string& name, const std::vector<std::string>& members, int tab) {
    int group = AllocateGroupNumber(dir);
    for (size_t m = 0; m < members.size(); ++m)
        SetText(dir.groups[group].Members[m], members[m]);
    AddSubscriber(dir, MakeSubscriber(name, -group, "", tab));
    return group;
}

std::string WritePage(Console& console, const std::string& folder, const std::string& prefix,
                      const SubscriberRecord& record, const std::string& text) {
    mkdir(folder.c_str(), 0700);
    std::string path = JoinPath(folder, prefix + kNameTemplate);
    EXPECT_TRUE(WriteUniqueFile(console, path, MessageFileBytes(record, text))) << path;
    return path;
}

FolderWatch::FolderWatch(const std::vector<std::string>& folders) {
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    EXPECT_GE(m_fd, 0);
    for (const std::string& folder : folders)
        EXPECT_GE(inotify_add_watch(m_fd, folder.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO), 0)
            << folder;
}

FolderWatch::~FolderWatch() {
    if (m_fd >= 0)
        close(m_fd);
}

FolderWatch::Seen FolderWatch::Take() {
    Seen seen;
    alignas(inotify_event) char events[8192];
    ssize_t got;
    while ((got = read(m_fd, events, sizeof events)) > 0) {
        for (char* at = events; at < events + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            (event->mask & IN_MOVED_TO ? seen.renamedTo : seen.writtenAs).push_back(event->len ? event->name : "");
            at += sizeof(inotify_event) + event->len;
        }
    }
    return seen;
}

std::string WriteQueueEntry(const std::string& dataDir, const std::string& entry, int company,
                            const CompanyRecord& record) {
    std::string folder = dataDir + "/Queue/" + entry + "/" + std::to_string(company);
    std::filesystem::create_directories(folder);
    WriteFile(folder + "/Company.dat", RecordBytes(record));
    return folder;
}

std::string BrimlowBinary() {
    const char* binary = getenv("BRIMLOW_BINARY");
    return binary ? binary : "brimlow";
}

std::string SourceDir() {
    const char* dir = getenv("BRIMLOW_SOURCE_DIR");
    return dir ? dir : ".";
}

int SpawnProcess(pid_t& pid, const posix_spawn_file_actions_t& actions, std::vector<std::string> args,
                 const std::vector<std::string>& env) {
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e)
        envStrings.push_back(*e);
    envStrings.insert(envStrings.end(), env.begin(), env.end());
    std::vector<char*> argv, envp;
    for (std::string& a : args)
        argv.push_back(a.data());
    for (std::string& e : envStrings)
        envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    return posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
}

RunResult RunBrimlow(const std::vector<std::string>& args, const std::vector<std::string>& env,
                     const std::string& stdinText) {
    BrimlowProcess process;
    RunResult result;
    if (!process.Start(args, env, stdinText))
        return result;
    result.status = process.Wait(120000);
    result.out = process.Output();
    result.err = process.Errors();
    return result;
}

BrimlowProcess::~BrimlowProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    for (int fd : {m_out, m_err})
        if (fd >= 0)
            close(fd);
}

bool BrimlowProcess::Start(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    return Launch(args, env, nullptr);
}

bool BrimlowProcess::Start(const std::vector<std::string>& args, const std::vector<std::string>& env,
                           const std::string& input) {
    return Launch(args, env, &input);
}

bool BrimlowProcess::Launch(const std::vector<std::string>& args, const std::vector<std::string>& env,
                            const std::string* input) {
    int out[2], err[2] = {-1, -1}, in[2] = {-1, -1};
    if (pipe(out) != 0 || (input && (pipe(err) != 0 || pipe(in) != 0)))
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input)
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, input ? err[1] : out[1], 2);
    for (int fd : {out[0], out[1], err[0], err[1], in[0], in[1]})
        if (fd >= 0)
            posix_spawn_file_actions_addclose(&actions, fd);
    std::vector<std::string> argv{BrimlowBinary()};
    argv.insert(argv.end(), args.begin(), args.end());
    int rc = SpawnProcess(m_pid, actions, argv, env);
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {out[1], err[1], in[0]})
        if (fd >= 0)
            close(fd);
    m_out = out[0];
    m_err = err[0];
    if (rc != 0)
        m_pid = -1;
    if (input) {
        // A child that ends without reading gets what fits in the pipe; the rest is not its concern.
        if (rc == 0 && !input->empty() && write(in[1], input->data(), input->size()) < 0) {
        }
        close(in[1]);
    }
    return rc == 0;
}

void BrimlowProcess::Pump(int timeoutMs) {
    pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}}; // poll passes over the one that is -1
    if ((m_out < 0 && m_err < 0) || poll(fds, 2, timeoutMs) <= 0)
        return;
    for (int i = 0; i < 2; ++i) {
        int& fd = i == 0 ? m_out : m_err;
        char buffer[4096];
        if (fd < 0 || fds[i].revents == 0)
            continue;
        if (ssize_t n = read(fd, buffer, sizeof buffer); n > 0) {
            (i == 0 ? m_output : m_errors).append(buffer, static_cast<size_t>(n));
        } else {
            close(fd);
            fd = -1;
        }
    }
}

bool BrimlowProcess::WaitForOutput(const std::string& text, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_output.find(text) == std::string::npos) {
        if (m_out < 0 || std::chrono::steady_clock::now() >= deadline)
            return false;
        Pump(50);
    }
    return true;
}

void BrimlowProcess::Signal(int sig) {
    if (m_pid > 0)
        kill(m_pid, sig);
}

int BrimlowProcess::Wait(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (int status = 0; m_pid > 0; Pump(20)) {
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            m_pid = -1;
        } else if (std::chrono::steady_clock::now() >= deadline) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
            return -1;
        }
    }
    while (m_out >= 0 || m_err >= 0)
        Pump(100);
    return m_status;
}

std::string BrimlowProcess::Output() {
    Pump(0);
    return m_output;
}

} // namespace brimlow::test
