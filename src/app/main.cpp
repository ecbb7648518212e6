// Entry point: the command line decides between the desktop program and a
// headless command.
#include "CommandLine.h"
#include "DesktopApp.h"

int main(int argc, char *argv[])
{
    return CommandLine::run(argc, argv, &DesktopApp::run);
}
