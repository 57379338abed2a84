#pragma once
// The main window as the command line's window front end: the executable hands it to RunCommandLine, so that
// app/ never depends on the window.
#include "app/command_line.h"

namespace brimlow {

const WindowFrontEnd& MainWindowFrontEnd();

} // namespace brimlow
