#include "DesktopLoader.h"

#include "Verb.h"

#include <climits>
#include <cstdio>
#include <dlfcn.h>
#include <unistd.h>

std::string DesktopLoader::modulePath()
{
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return std::string();
    std::string dir(self, static_cast<size_t>(n));
    dir.erase(dir.rfind('/') + 1);
    return dir + LANFERRY_DESKTOP_MODULE;
}

int DesktopLoader::run(int argc, char *argv[])
{
    const std::string path = modulePath();
    if (path.empty()) {
        std::fprintf(stderr, "lanferry: cannot find the program's own folder\n");
        return ExitFailed;
    }
    // Global, as if the module were part of the program: the QML engine's
    // plugins and Qt's own look-ups find the libraries it brought in.
    void *module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!module) {
        std::fprintf(stderr, "lanferry: cannot load the desktop program: %s\n", ::dlerror());
        return ExitFailed;
    }
    auto *entry = reinterpret_cast<decltype(&lanferry_desktop_run)>(::dlsym(module, "lanferry_desktop_run"));
    if (!entry) {
        std::fprintf(stderr, "lanferry: %s is not the desktop program of this version\n", path.c_str());
        return ExitFailed;
    }
    // Never unloaded: objects of the module may live until the program ends.
    return entry(argc, argv);
}
