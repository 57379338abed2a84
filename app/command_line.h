#pragma once
// The brimlow executable: options, then the console (windowed or headless) or one command.
#include "console/console.h"
#include "app/text_operator.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCoreApplication;

namespace brimlow {

struct CommandContext {
    Console& console;
    TextOperator& op;
    std::vector<std::string> args;  // the command's own arguments
    std::string invocationDirectory; // where relative file arguments are resolved

    // Values of every "--name VALUE" pair, in order.
    std::vector<std::string> Values(const std::string& name) const;
    std::string Value(const std::string& name, const std::string& fallback = "") const;
    bool Flag(const std::string& name) const;
    std::string FileArgument(const std::string& name, const std::string& fallback) const;
};

class SingleInstanceGuard;

// The console's window, handed in by the executable: nothing in app/ knows a widget.
struct WindowFrontEnd {
    // The application object the window needs, made before anything else; null when there is no display.
    std::function<std::unique_ptr<QCoreApplication>(int& argc, char** argv)> makeApplication;
    // Runs the window over the loaded console until it closes, then sets the exiting flag, stops what it
    // started and calls shutDown (the saves and the grace for workers) while its message boxes still work.
    std::function<void(Console& console, SingleInstanceGuard& guard, const std::function<void()>& shutDown)> run;
};

// Without a window front end, the console runs only --headless.
int RunCommandLine(int argc, char** argv, const WindowFrontEnd* window = nullptr);

// One line on standard error, exit status 1.
int Fail(const std::string& message);

} // namespace brimlow
