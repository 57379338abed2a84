#include "app/command_line.h"
#include "ui/window_runner.h"

int main(int argc, char** argv) {
    return brimlow::RunCommandLine(argc, argv, &brimlow::MainWindowFrontEnd());
}
