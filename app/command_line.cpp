#include "app/command_line.h"

#include "app/commands.h"
#include "app/headless.h"
#include "app/install_files.h"
#include "app/qt_settings_store.h"
#include "app/qt_sound.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "directory/data_files.h"
#include "network/net_client_scan.h"
#include "network/server.h"
#include "queue/file_listing.h"
#include "tracking/tracking_check_thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <unistd.h>

namespace brimlow {
namespace {

std::atomic<bool> g_stopRequested{false};
const WakeUp* g_wake = nullptr;

void OnStopSignal(int) {
    g_stopRequested = true;
    if (g_wake)
        g_wake->Notify();
}

struct Options {
    std::string dataDir;
    bool server = false;
    bool headless = false;
    bool help = false;
    std::string command;
    std::vector<std::string> args;
};

struct OptionSpec {
    const char* name;
    const char* value; // the value's placeholder; nullptr for a flag
    const char* help;
};

struct CommandSpec {
    const char* name;
    int (*run)(CommandContext&);
    const char* summary;
    std::vector<OptionSpec> options;
};

const std::vector<CommandSpec>& Commands() {
    static const std::vector<CommandSpec> commands = {
        {"send",
         CommandSend,
         "page the named entries of the local directory (a group pages its members), as the Send button does",
         {{"--mode", "MODE", "netpage (SNPP now), page (modem queue) or email; required"},
          {"--to", "NAME", "a subscriber or group name, exactly; repeat it for more; required"},
          {"--message", "TEXT", "the page; without it the message is read from standard input"},
          {"--subject", "TEXT", "the subject of e-mail pages"},
          {"--signature", nullptr, "append the stored signature"}}},
        {"queue", CommandQueue, "print the queue count and the pending-modem count", {}},
        {"purge", CommandPurge, "delete the queued SNPP pages and the held and ready modem pages", {}},
        {"export",
         CommandExport,
         "write the local directory to three CSV files",
         {{"--companies", "FILE", "the company file (default Company.brw)"},
          {"--subscribers", "FILE", "the subscriber file (default Subscribers.brw)"},
          {"--groups", "FILE", "the group file (default Groups.brw)"},
          {"--network", nullptr, "export the LAN server's directory instead, as this console downloads it"},
          {"--yes", nullptr, "overwrite files that exist"}}},
        {"import",
         CommandImport,
         "replace the local directory from three CSV files (no console may hold the data directory)",
         {{"--companies", "FILE", "the company file (default Company.brw)"},
          {"--subscribers", "FILE", "the subscriber file (default Subscribers.brw)"},
          {"--groups", "FILE", "the group file (default Groups.brw)"}}},
    };
    return commands;
}

const CommandSpec* FindCommand(const std::string& name) {
    for (const CommandSpec& command : Commands())
        if (name == command.name)
            return &command;
    return nullptr;
}

constexpr const char* kExitStatusHelp = "exit status: 0 done, 1 a page or a file operation failed, 2 a usage error "
                                        "(nothing was done)\n";

std::string Usage() {
    std::string text = "usage: brimlow [--data DIR] [--server] --headless   the console without a window\n"
                       "       brimlow [--data DIR] COMMAND [OPTION ...]     one command\n"
                       "       brimlow help [COMMAND], brimlow COMMAND --help\n\n"
                       "  --data DIR   the data directory (default: the current folder); the console creates it,\n"
                       "               a command needs it to exist\n"
                       "  --server     the console serves its directory to the LAN's client consoles\n\n"
                       "commands:\n";
    for (const CommandSpec& command : Commands()) {
        char line[160];
        snprintf(line, sizeof line, "  %-8s %s\n", command.name, command.summary);
        text += line;
    }
    return text + "\n" + kExitStatusHelp;
}

std::string CommandUsage(const CommandSpec& command) {
    std::string text = std::string("usage: brimlow [--data DIR] ") + command.name +
                       (command.options.empty() ? "" : " [OPTION ...]") + "\n" + command.summary + "\n";
    if (!command.options.empty())
        text += "\noptions:\n";
    for (const OptionSpec& option : command.options) {
        std::string left = std::string(option.name) + (option.value ? std::string(" ") + option.value : "");
        char line[200];
        snprintf(line, sizeof line, "  %-18s %s\n", left.c_str(), option.help);
        text += line;
    }
    return text + "\n" + kExitStatusHelp;
}

int PrintError(const std::string& message, int status) {
    fprintf(stderr, "brimlow: %s\n", message.c_str());
    return status;
}

std::string UnknownOption(const std::string& option, const std::vector<std::string>& known, const std::string& help) {
    std::vector<std::string> closest = ClosestNames(option, known, 1);
    return "unknown option " + option + (closest.empty() ? "" : "; did you mean " + closest[0] + "?") + " (" + help +
           " lists the options)";
}

// Options before the command; the command's own are taken by ParseCommandOptions.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--data") {
            if (i + 1 == argc) {
                error = "--data needs a folder";
                return false;
            }
            options.dataDir = argv[++i];
        } else if (arg == "--server") {
            options.server = true;
        } else if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg.rfind("-", 0) == 0) {
            error = UnknownOption(arg, {"--data", "--server", "--headless", "--help"}, "brimlow --help");
            return false;
        } else {
            break;
        }
    }
    if (i < argc) {
        options.command = argv[i++];
        options.args.assign(argv + i, argv + argc);
    }
    return true;
}

bool ParseCommandOptions(const CommandSpec& command, const std::vector<std::string>& args,
                         std::map<std::string, std::vector<std::string>>& values, bool& help, std::string& error) {
    std::vector<std::string> known;
    for (const OptionSpec& option : command.options)
        known.push_back(option.name);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
            continue;
        }
        auto option = std::find_if(command.options.begin(), command.options.end(),
                                   [&](const OptionSpec& o) { return arg == o.name; });
        if (option == command.options.end()) {
            error = arg.rfind("-", 0) == 0
                        ? UnknownOption(arg, known, std::string("brimlow ") + command.name + " --help")
                        : "unexpected argument \"" + arg + "\"";
            return false;
        }
        if (!option->value) {
            values[arg];
        } else if (i + 1 == args.size()) {
            error = arg + " needs a value";
            return false;
        } else {
            values[arg].push_back(args[++i]);
        }
    }
    return true;
}

bool EnterDataDirectory(const std::string& dataDir) {
    if (dataDir.empty())
        return true;
    std::error_code error;
    std::filesystem::create_directories(dataDir, error);
    return chdir(dataDir.c_str()) == 0;
}

// The console without a window: the role's settings and threads, the scan loop until SIGINT or SIGTERM. The
// server it hands back outlives the saves: its page jobs may still be delivering, and ending it waits for them.
std::unique_ptr<lan::NetServer> RunHeadless(Console& console, TextOperator& op) {
    ApplyRoleSettings(console);
    g_wake = &console.wake;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    op.AddResultLine(std::string(console.serverRole ? "Brimlow Server" : "Brimlow") + " running on " + console.dataDir);
    if (!StartTrackingCheckThread(console))
        PrintError("no thread could be started for the tracking checks; tickets are checked only on request",
                   kExitFailed);
    StartNetworkClient(console);
    std::unique_ptr<lan::NetServer> server = console.serverRole ? lan::StartServerRole(console) : nullptr;
    // Between scans the loop sleeps in Qt's event loop, which serves the single-instance guard, until the scan is
    // due or the wake-up descriptor fires (a status line, a stop signal).
    QSocketNotifier wakeUps(console.wake.Fd(), QSocketNotifier::Read);
    QEventLoop waiting;
    QTimer due;
    due.setSingleShot(true);
    QObject::connect(&wakeUps, &QSocketNotifier::activated, &waiting, [&] {
        console.wake.Drain();
        waiting.quit();
    });
    QObject::connect(&due, &QTimer::timeout, &waiting, &QEventLoop::quit);
    RunHeadlessLoop(console, g_stopRequested, [&](int timeoutMs) {
        due.start(timeoutMs);
        waiting.exec();
        due.stop();
    });
    console.BeginExit(); // nobody shows status lines from here on: no thread may wait to post one
    if (server)
        server->Stop(); // every session ends and releases its locks before the tables are saved
    g_wake = nullptr;
    return server;
}

// The console: the single-instance guard comes first, so a second console ends before it touches anything.
int RunConsole(const Options& options, int argc, char** argv, const WindowFrontEnd* window) {
    const bool windowed = window && !options.headless;
    std::unique_ptr<QCoreApplication> app =
        windowed ? window->makeApplication(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    if (!app)
        return PrintError("no display to open the window on; start with --headless", kExitUsage);
    QtSettingsStore store;
    SingleInstanceGuard guard(store.FileName());
    if (!guard.Acquire()) {
        printf("Brimlow is already running; it was asked to come to the front.\n");
        return 0;
    }
    if (!EnterDataDirectory(options.dataDir))
        return PrintError("cannot use the data directory " + options.dataDir, kExitFailed);
    TextOperator op;
    Console console;
    console.op = &op;
    console.dataDir = CurrentDataDirectory();
    console.serverRole = options.server;
    DataDirectoryLock dataLock;
    if (!dataLock.Acquire(console.dataDir))
        return PrintError("Another console is using the data directory " + console.dataDir, kExitFailed);

    InstallDataFiles(console.dataDir);
    LoadConsole(console, store);
    console.playSound = PlayWavToEnd;
    // The saves (again for as long as retry answers true), the settings and the grace for workers.
    auto shutDown = [&console, &store](const SaveRetry& retry) {
        ShutDownResult result = ShutDownConsole(console, store, kExitGraceMs, retry);
        int status =
            result.unsaved.empty() ? kExitDone : PrintError(UnsavedFilesText(console, result.unsaved), kExitFailed);
        if (!result.workersEnded) {
            // Workers still running hold the console: the process ends under them instead of destroying it
            // under them. Handed-over pages no worker had taken were filed when the server stopped; one still
            // on the line to a provider that does not answer ends with it.
            fflush(nullptr);
            _exit(status);
        }
        return status;
    };
    if (windowed)
        return window->run(console, guard, shutDown);
    guard.OnRaiseRequest([&op] { op.AddResultLine("Another console was started; this one keeps running."); });
    std::unique_ptr<lan::NetServer> server = RunHeadless(console, op);
    return shutDown({});
}

} // namespace

const std::vector<std::string>& CommandContext::Values(const std::string& name) const {
    static const std::vector<std::string> none;
    auto found = options.find(name);
    return found == options.end() ? none : found->second;
}

std::string CommandContext::Value(const std::string& name, const std::string& fallback) const {
    const std::vector<std::string>& values = Values(name);
    return values.empty() ? fallback : values.back();
}

std::string CommandContext::FileArgument(const std::string& name, const std::string& fallback) const {
    std::string value = Value(name, fallback);
    return value.empty() || value[0] == '/' ? value : JoinPath(invocationDirectory, value);
}

int CommandContext::Fail(const std::string& message) const {
    return PrintError(command + ": " + message, kExitFailed);
}

int CommandContext::UsageError(const std::string& message) const {
    return PrintError(command + ": " + message, kExitUsage);
}

std::vector<std::string> ClosestNames(const std::string& word, const std::vector<std::string>& candidates,
                                      size_t limit) {
    auto lower = [](std::string text) {
        for (char& c : text)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return text;
    };
    // Edit distance without regard to case, one row at a time.
    const std::string a = lower(word);
    auto distance = [&a](const std::string& b) {
        std::vector<size_t> row(b.size() + 1);
        std::iota(row.begin(), row.end(), 0);
        for (size_t i = 1; i <= a.size(); ++i) {
            size_t diagonal = row[0];
            row[0] = i;
            for (size_t j = 1; j <= b.size(); ++j) {
                size_t above = row[j];
                row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
                diagonal = above;
            }
        }
        return row[b.size()];
    };
    const size_t tolerance = std::max<size_t>(2, a.size() / 3);
    std::vector<std::pair<size_t, std::string>> near;
    for (const std::string& candidate : candidates) {
        std::string b = lower(candidate);
        size_t d = distance(b);
        bool contains = !a.empty() && (b.find(a) != std::string::npos || a.find(b) != std::string::npos);
        if ((d <= tolerance || contains) &&
            std::none_of(near.begin(), near.end(), [&](const auto& n) { return n.second == candidate; }))
            near.emplace_back(d, candidate);
    }
    std::stable_sort(near.begin(), near.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    std::vector<std::string> names;
    for (size_t k = 0; k < near.size() && k < limit; ++k)
        names.push_back(near[k].second);
    return names;
}

int RunCommandLine(int argc, char** argv, const WindowFrontEnd* window) {
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error))
        return PrintError(error, kExitUsage);
    if (options.help || options.command == "help") {
        std::string topic = options.command != "help" ? options.command : options.args.empty() ? "" : options.args[0];
        const CommandSpec* command = FindCommand(topic);
        if (!topic.empty() && !command)
            return PrintError("no command " + topic + " (brimlow --help lists the commands)", kExitUsage);
        fputs(command ? CommandUsage(*command).c_str() : Usage().c_str(), stdout);
        return kExitDone;
    }
    if (options.command.empty()) {
        if (!options.headless && !window)
            return PrintError("the main window is not available in this build; start with --headless", kExitUsage);
        return RunConsole(options, argc, argv, window);
    }
    const CommandSpec* command = FindCommand(options.command);
    if (!command)
        return PrintError("no command " + options.command + " (brimlow --help lists the commands)", kExitUsage);
    if (options.headless)
        return PrintError("--headless starts the console, which takes no command", kExitUsage);

    std::map<std::string, std::vector<std::string>> values;
    bool help = false;
    if (!ParseCommandOptions(*command, options.args, values, help, error))
        return PrintError(options.command + ": " + error, kExitUsage);
    if (help) {
        fputs(CommandUsage(*command).c_str(), stdout);
        return kExitDone;
    }
    Console console;
    TextOperator op(values.count("--yes") > 0);
    CommandContext context{console, op, command->name, std::move(values), CurrentDataDirectory(), ""};
    // A command works on an existing data directory: a mistyped --data must not start an empty one.
    std::error_code fsError;
    if (!options.dataDir.empty() && !std::filesystem::is_directory(options.dataDir, fsError))
        return context.UsageError("the data directory " + options.dataDir + " does not exist");
    if (!options.dataDir.empty() && chdir(options.dataDir.c_str()) != 0)
        return context.Fail("cannot use the data directory " + options.dataDir);
    console.dataDir = CurrentDataDirectory();
    console.serverRole = options.server;
    console.op = &op;
    QCoreApplication app(argc, argv);
    QtSettingsStore store;
    context.settingsFile = store.FileName().toStdString();
    LoadConsole(console, store);
    ApplyRoleSettings(console);
    return command->run(context);
}

} // namespace brimlow
