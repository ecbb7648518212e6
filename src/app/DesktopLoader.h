// Loads the desktop program from its module and runs it. The screens need Qt
// Quick, QML and Widgets, which cost megabytes of resident memory just by
// being mapped and relocated; kept in a module beside the program, they are
// loaded only when the window is wanted and never by a headless command.
#pragma once

#include <string>

// The module's entry point, looked up by this name once the module is loaded.
extern "C" int lanferry_desktop_run(int argc, char *argv[]);

namespace DesktopLoader {

// The module's path: where the program is installed, the module sits at the
// same place relative to it as in the build tree.
std::string modulePath();

// Loads the module and runs the desktop program; answers its exit code, or
// says on standard error why the module did not load and answers ExitFailed.
int run(int argc, char *argv[]);

} // namespace DesktopLoader
