#pragma once
// What the engine tests share: a console on a temporary data directory, files, records, brimlow run as a child.
#include "console/console.h"

#include <atomic>
#include <csignal>
#include <mutex>
#include <spawn.h>
#include <string>
#include <thread>
#include <vector>

namespace brimlow::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Answers every question Yes.
class RecordingOperator final : public OperatorInterface {
public:
    void ShowMessage(MessageIcon, const std::string&, const std::string& text) override { Add(m_texts, text); }
    bool AskYesNo(MessageIcon, const std::string&, const std::string&) override { return true; }
    void AddResultLine(const std::string& text) override { Add(m_resultLines, text); }
    std::vector<std::string> MessageTexts() const { return Copy(m_texts); }
    std::vector<std::string> ResultLines() const { return Copy(m_resultLines); }

private:
    void Add(std::vector<std::string>& to, const std::string& text);
    std::vector<std::string> Copy(const std::vector<std::string>& from) const;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_texts, m_resultLines;
};

// With drainStatus, a thread empties the status mailbox into StatusLines() as the window's timer would.
class TestConsole {
public:
    explicit TestConsole(bool drainStatus = true);
    ~TestConsole();

    Console console;
    RecordingOperator op;
    TempDir dir;

    std::vector<std::string> StatusLines() const;
    // Waits until a status line containing text has arrived; false after timeoutMs.
    bool WaitForStatus(const std::string& text, int timeoutMs = 10000) const;
    // The status lines once count of them have arrived (or after timeoutMs).
    std::vector<std::string> WaitForLines(size_t count, int timeoutMs = 10000) const;
    std::string DataFile(const std::string& name) const { return dir.File(name); }

private:
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::thread m_drain;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
std::vector<std::string> ListDir(const std::string& path); // sorted, without . and ..

SubscriberRecord MakeSubscriber(const std::string& name, int company, const std::string& pin = "1234", int tab = 0);
CompanyRecord MakeCompany(const std::string& name, const std::string& address = "", int socket = 444);
// Adds a group entry named name with the given members; returns its group number.
int AddGroup(Directory& dir, const std::string& name, const std::vector<std::string>& members, int tab = 0);
// A peer's script (a struct of settings) that differs from the normal one in one field.
template <typename Script, typename Field, typename Value> Script With(Field Script::*field, Value value) {
    Script script;
    script.*field = std::move(value);
    return script;
}
// The bytes of a fixed-layout record, as its file holds them.
template <typename Record> std::string RecordBytes(const Record& record) {
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}
// A page file in folder (made if missing) as the queue writers lay it down, prefix "MSG" or "MSQ"; returns its path.
std::string WritePage(Console& console, const std::string& folder, const std::string& prefix,
                      const SubscriberRecord& record, const std::string& text);
// The names that files in the folders were written under, and renamed to, since the watch began.
class FolderWatch {
public:
    explicit FolderWatch(const std::vector<std::string>& folders);
    ~FolderWatch();
    struct Seen {
        std::vector<std::string> writtenAs, renamedTo;
    };
    Seen Take();

private:
    int m_fd = -1;
};
// A network queue entry as the server lays it down, Queue/<entry>/<company>/Company.dat; returns the folder.
std::string WriteQueueEntry(const std::string& dataDir, const std::string& entry, int company,
                            const CompanyRecord& record);

struct RunResult {
    int status = -1;
    std::string out, err;
};
// Runs the brimlow executable with args to its end.
RunResult RunBrimlow(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                     const std::string& stdinText = "");
std::string SourceDir();
// Starts argv[0] with argv, this process's environment plus env, and actions; 0 or the error number.
int SpawnProcess(pid_t& pid, const posix_spawn_file_actions_t& actions, std::vector<std::string> argv,
                 const std::vector<std::string>& env = {});

// A brimlow process running in the background, for consoles that a test starts, signals and waits for.
class BrimlowProcess {
public:
    ~BrimlowProcess();
    // Standard input is empty and standard error goes with standard output.
    bool Start(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
        return Launch(args, env, nullptr);
    }
    // Standard input carries input and standard error is kept apart (Errors()).
    bool Start(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& input) {
        return Launch(args, env, &input);
    }
    // Waits until standard output holds text; false after timeoutMs or when the process ended without it.
    bool WaitForOutput(const std::string& text, int timeoutMs = 20000);
    void Signal(int sig) {
        if (m_pid > 0)
            kill(m_pid, sig);
    }
    // Waits for the end; the exit status, or -1 after timeoutMs (the process is then killed).
    int Wait(int timeoutMs = 30000);
    std::string Output() { return ReadFile(m_files.File("out")); }
    std::string Errors() const { return ReadFile(m_files.File("err")); }

private:
    bool Launch(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string* input);
    bool Ended();    // keeps the exit status once the process has ended
    TempDir m_files; // what the process reads and writes, in files that outlive it
    pid_t m_pid = -1;
    int m_status = -1;
};

} // namespace brimlow::test
