#include "tests/support/test_console.h"

#include "directory/data_files.h"
#include "queue/message_file.h"
#include "queue/status.h"
#include "queue/unique_name.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace brimlow::test {
namespace {

using Clock = std::chrono::steady_clock;

// Polls done every few milliseconds until it holds (true) or timeoutMs passed (false).
template <typename Done> bool Poll(Done done, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
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

void RecordingOperator::Add(std::vector<std::string>& to, const std::string& text) {
    std::lock_guard lock(m_mutex);
    to.push_back(text);
}

std::vector<std::string> RecordingOperator::Copy(const std::vector<std::string>& from) const {
    std::lock_guard lock(m_mutex);
    return from;
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
    console.workers.WaitIdle(30000); // workers may still post: the drain goes on until they are gone
    m_stop = true;
    if (m_drain.joinable())
        m_drain.join();
}

std::vector<std::string> TestConsole::StatusLines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
}

bool TestConsole::WaitForStatus(const std::string& text, int timeoutMs) const {
    auto has = [&] {
        std::vector<std::string> lines = StatusLines();
        return std::any_of(lines.begin(), lines.end(), [&](auto& line) { return line.find(text) != line.npos; });
    };
    return Poll(has, timeoutMs);
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
    std::filesystem::create_directories(folder);
    std::string path = JoinPath(folder, prefix + kNameTemplate);
    EXPECT_TRUE(WriteUniqueFile(console, path, MessageFileBytes(record, text))) << path;
    return path;
}

FolderWatch::FolderWatch(const std::vector<std::string>& folders) : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    for (const std::string& folder : folders)
        EXPECT_GE(inotify_add_watch(m_fd, folder.c_str(), IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO), 0)
            << folder;
}

FolderWatch::~FolderWatch() {
    close(m_fd);
}

FolderWatch::Seen FolderWatch::Take() {
    Seen seen;
    alignas(inotify_event) char events[8192];
    for (ssize_t got; (got = read(m_fd, events, sizeof events)) > 0;)
        for (char* at = events; at < events + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            (event->mask & IN_MOVED_TO ? seen.renamedTo : seen.writtenAs).push_back(event->len ? event->name : "");
            at += sizeof(inotify_event) + event->len;
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

std::string SourceDir() {
    const char* dir = getenv("BRIMLOW_SOURCE_DIR");
    return dir ? dir : ".";
}

int SpawnProcess(pid_t& pid, const posix_spawn_file_actions_t& actions, std::vector<std::string> args,
                 const std::vector<std::string>& env) {
    std::vector<std::string> environment = env; // first, since a child's getenv takes the first of a name
    for (char** e = environ; *e; ++e)
        environment.push_back(*e);
    std::vector<char*> argv, envp;
    for (auto [from, to] : {std::pair{&args, &argv}, {&environment, &envp}}) {
        for (std::string& s : *from)
            to->push_back(s.data());
        to->push_back(nullptr);
    }
    return posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
}

RunResult RunBrimlow(const std::vector<std::string>& args, const std::vector<std::string>& env,
                     const std::string& stdinText) {
    BrimlowProcess process;
    int status = process.Start(args, env, stdinText) ? process.Wait(120000) : -1;
    return {status, process.Output(), process.Errors()};
}

BrimlowProcess::~BrimlowProcess() {
    Signal(SIGKILL);
    if (m_pid > 0)
        waitpid(m_pid, nullptr, 0);
}

bool BrimlowProcess::Launch(const std::vector<std::string>& args, const std::vector<std::string>& env,
                            const std::string* input) {
    const std::string in = m_files.File("in"), out = m_files.File("out"), err = m_files.File("err");
    WriteFile(in, input ? *input : "");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (input)
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    else
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const char* binary = getenv("BRIMLOW_BINARY");
    std::vector<std::string> argv{binary ? binary : "brimlow"};
    argv.insert(argv.end(), args.begin(), args.end());
    if (SpawnProcess(m_pid, actions, argv, env) != 0)
        m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return m_pid > 0;
}

bool BrimlowProcess::Ended() {
    int status = 0;
    if (m_pid > 0 && waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        m_pid = -1;
    }
    return m_pid <= 0;
}

bool BrimlowProcess::WaitForOutput(const std::string& text, int timeoutMs) {
    auto shown = [&] { return Output().find(text) != std::string::npos; };
    Poll([&] { return shown() || Ended(); }, timeoutMs);
    return shown();
}

int BrimlowProcess::Wait(int timeoutMs) {
    if (Poll([&] { return Ended(); }, timeoutMs))
        return m_status;
    Signal(SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
    return -1;
}

} // namespace brimlow::test
