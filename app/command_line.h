#pragma once
// The brimlow executable: options, then the console (windowed or headless) or one command.
#include "app/text_operator.h"
#include "console/console.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QCoreApplication;

namespace brimlow {

// Exit status of every command, for the scripts that call them.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1; // a page was not delivered or queued, or a file could not be read or written
constexpr int kExitUsage = 2;  // the call or the set-up is wrong; nothing was done

struct CommandContext {
    Console& console;
    TextOperator& op;
    std::string command;
    std::map<std::string, std::vector<std::string>> options; // every value of each option given, in order
    std::string invocationDirectory;                         // where relative file arguments are resolved
    std::string settingsFile;

    const std::vector<std::string>& Values(const std::string& name) const;
    std::string Value(const std::string& name, const std::string& fallback = "") const;
    bool Flag(const std::string& name) const { return options.count(name) > 0; }
    std::string FileArgument(const std::string& name, const std::string& fallback) const;
    // One line on standard error, naming the command.
    int Fail(const std::string& message) const;
    int UsageError(const std::string& message) const;
};

class SingleInstanceGuard;
// Asked with the data files that could not be saved at exit: true to try again.
using SaveRetry = std::function<bool(const std::vector<std::string>& unsaved)>;
// The orderly end of a console: saves, settings, the grace for workers; returns the exit status.
using ShutDown = std::function<int(const SaveRetry& retry)>;

// The console's window, handed in by the executable: nothing in app/ knows a widget.
struct WindowFrontEnd {
    // The application object the window needs, made before anything else; null when there is no display.
    std::function<std::unique_ptr<QCoreApplication>(int& argc, char** argv)> makeApplication;
    // Runs the window over the loaded console until it closes, then sets the exiting flag, stops what it
    // started and calls shutDown (the saves, asking retry about files that could not be saved, and the grace
    // for workers) while its message boxes still work. Returns shutDown's exit status.
    std::function<int(Console& console, SingleInstanceGuard& guard, const ShutDown& shutDown)> run;
};

// Without a window front end, the console runs only --headless.
int RunCommandLine(int argc, char** argv, const WindowFrontEnd* window = nullptr);

// The candidates nearest to word without regard to case (a few edits away, or containing it), nearest first,
// at most limit of them.
std::vector<std::string> ClosestNames(const std::string& word, const std::vector<std::string>& candidates,
                                      size_t limit);

} // namespace brimlow
