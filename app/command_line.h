#pragma once
// The brimlow executable: options, then the console (windowed or headless) or one command.
#include "console/console.h"
#include "app/text_operator.h"

#include <string>
#include <vector>

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

int RunCommandLine(int argc, char** argv);

// One line on standard error, exit status 1.
int Fail(const std::string& message);

} // namespace brimlow
