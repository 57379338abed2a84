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
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <cstdio>
#include <map>
#include <unistd.h>

namespace brimlow {
namespace {

std::atomic<bool> g_stopRequested{false};

void OnStopSignal(int) { g_stopRequested = true; }

struct Options {
    std::string dataDir;
    bool server = false;
    bool headless = false;
    std::string command;
    std::vector<std::string> args;
};

const char* kUsage =
    "usage: brimlow [--data DIR] [--server] [--headless | COMMAND ...]\n"
    "commands:\n"
    "  queue                                   print the queue count and the pending-modem count\n"
    "  purge                                   delete the queued SNPP and modem pages\n"
    "  export [--network] [--companies F] [--subscribers F] [--groups F] [--yes]\n"
    "  import [--companies F] [--subscribers F] [--groups F]\n"
    "  send --mode netpage|page|email [--subject S] [--signature] --to NAME [--to NAME ...] [--message TEXT]\n";

using Command = int (*)(CommandContext&);

const std::map<std::string, Command>& Commands() {
    static const std::map<std::string, Command> commands = {
        {"queue", CommandQueue},
        {"purge", CommandPurge},
        {"export", CommandExport},
        {"import", CommandImport},
        {"send", CommandSend},
    };
    return commands;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--data" && i + 1 < argc)
            options.dataDir = argv[++i];
        else if (arg == "--server")
            options.server = true;
        else if (arg == "--headless")
            options.headless = true;
        else if (arg.rfind("--", 0) == 0)
            return false;
        else
            break;
    }
    if (i < argc) {
        options.command = argv[i++];
        options.args.assign(argv + i, argv + argc);
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

// The console without a window: the role's settings and threads, the scan loop until SIGINT or SIGTERM.
void RunHeadless(Console& console, TextOperator& op) {
    ApplyRoleSettings(console);
    struct sigaction action{};
    action.sa_handler = OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    op.AddResultLine(std::string(console.serverRole ? "Brimlow Server" : "Brimlow") + " running on " +
                     console.dataDir);
    StartTrackingCheckThread(console);
    StartNetworkClient(console);
    std::unique_ptr<lan::NetServer> server = console.serverRole ? lan::StartServerRole(console) : nullptr;
    RunHeadlessLoop(console, g_stopRequested, [] { QCoreApplication::processEvents(); });
    if (server)
        server->Stop(); // every session ends and releases its locks before the tables are saved
}

// The console: the single-instance guard comes first, so a second console ends before it touches anything.
int RunConsole(const Options& options, int argc, char** argv, const WindowFrontEnd* window) {
    const bool windowed = window && !options.headless;
    std::unique_ptr<QCoreApplication> app =
        windowed ? window->makeApplication(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    if (!app)
        return Fail("no display to open the window on; start with --headless");
    QtSettingsStore store;
    SingleInstanceGuard guard(store.FileName());
    if (!guard.Acquire()) {
        printf("Brimlow is already running; it was asked to come to the front.\n");
        return 0;
    }
    if (!EnterDataDirectory(options.dataDir))
        return Fail("cannot use the data directory " + options.dataDir);
    TextOperator op;
    Console console;
    console.op = &op;
    console.dataDir = CurrentDataDirectory();
    console.serverRole = options.server;
    DataDirectoryLock dataLock;
    if (!dataLock.Acquire(console.dataDir))
        return Fail("Another console is using the data directory " + console.dataDir);

    InstallDataFiles(console.dataDir);
    LoadConsole(console, store);
    console.playSound = PlayWavToEnd;
    // Workers still running after the grace hold the console: the process ends under them instead of
    // destroying it under them. Everything they would lose is on disk already or was never accepted.
    auto shutDown = [&console, &store] {
        if (!ShutDownConsole(console, store)) {
            fflush(nullptr);
            _exit(0);
        }
    };
    if (windowed) {
        window->run(console, guard, shutDown);
    } else {
        guard.OnRaiseRequest([&op] { op.AddResultLine("Another console was started; this one keeps running."); });
        RunHeadless(console, op);
        shutDown();
    }
    return 0;
}

} // namespace

std::vector<std::string> CommandContext::Values(const std::string& name) const {
    std::vector<std::string> values;
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == name)
            values.push_back(args[++i]);
    return values;
}

std::string CommandContext::Value(const std::string& name, const std::string& fallback) const {
    std::vector<std::string> values = Values(name);
    return values.empty() ? fallback : values.back();
}

bool CommandContext::Flag(const std::string& name) const {
    for (const std::string& arg : args)
        if (arg == name)
            return true;
    return false;
}

std::string CommandContext::FileArgument(const std::string& name, const std::string& fallback) const {
    std::string value = Value(name, fallback);
    return value.empty() || value[0] == '/' ? value : JoinPath(invocationDirectory, value);
}

int Fail(const std::string& message) {
    fprintf(stderr, "brimlow: %s\n", message.c_str());
    return 1;
}

int RunCommandLine(int argc, char** argv, const WindowFrontEnd* window) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        fputs(kUsage, stderr);
        return 2;
    }
    if (options.command.empty()) {
        if (!options.headless && !window)
            return Fail("the main window is not available in this build; start with --headless");
        return RunConsole(options, argc, argv, window);
    }

    std::string invocationDirectory = CurrentDataDirectory();
    if (!EnterDataDirectory(options.dataDir))
        return Fail("cannot use the data directory " + options.dataDir);
    Console console;
    console.dataDir = CurrentDataDirectory();
    console.serverRole = options.server;

    auto command = Commands().find(options.command);
    if (command == Commands().end()) {
        fputs(kUsage, stderr);
        return 2;
    }
    bool answerYes = std::find(options.args.begin(), options.args.end(), "--yes") != options.args.end();
    TextOperator op(answerYes);
    console.op = &op;
    CommandContext context{console, op, options.args, invocationDirectory};
    QCoreApplication app(argc, argv);
    QtSettingsStore store;
    LoadConsole(console, store);
    ApplyRoleSettings(console);
    return command->second(context);
}

} // namespace brimlow
