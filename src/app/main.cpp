// Entry point: the command line decides between the desktop program, loaded
// from its module, and a headless command.
#include "CommandLine.h"
#include "DesktopLoader.h"

int main(int argc, char *argv[])
{
    return CommandLine::run(argc, argv, &DesktopLoader::run);
}
