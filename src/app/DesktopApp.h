// The desktop program: the application object, the catalogue, the QML types,
// the engine with its image provider, the objects and constants published to
// the screens, and the main screen. The program and the screen tests both go
// through here, so the tests load exactly what ships.
#pragma once

#include <QUrl>

class QQmlApplicationEngine;

namespace DesktopApp {

// The main screen compiled into the program.
QUrl mainScreen();

// Before the application object is made: high-DPI scaling.
void prepareApplication();

// With the application object made: installs the catalogue, declares the QML
// types, adds the "curl" image provider, publishes the context objects and
// constants, and loads url. When url fails to load, the event loop ends with
// -1 (through a queued call, so once the loop runs).
void load(QQmlApplicationEngine &engine, const QUrl &url = mainScreen());

// The whole desktop program; answers the event loop's exit code.
int run(int argc, char *argv[]);

} // namespace DesktopApp
