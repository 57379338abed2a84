#pragma once
// The command-line commands. Each prints its results on standard output and returns the exit status.
#include "app/command_line.h"

namespace brimlow {

int CommandQueue(CommandContext& context);
int CommandPurge(CommandContext& context);
int CommandExport(CommandContext& context);
int CommandImport(CommandContext& context);
int CommandSend(CommandContext& context);

} // namespace brimlow
