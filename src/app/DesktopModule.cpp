// The desktop module's entry point: the module holds the screens and the
// desktop program, and the program loads it only to open the window.
#include "DesktopApp.h"
#include "DesktopLoader.h"

extern "C" __attribute__((visibility("default"))) int lanferry_desktop_run(int argc, char *argv[])
{
    return DesktopApp::run(argc, argv);
}
