#include "SavePaths.h"

#include "pathutil/BeneathFs.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>

namespace {

// Numbered names tried before giving up on one entry.
constexpr int kMaxNumbered = 10000;

std::string firstName(const std::string &relative, std::string *rest)
{
    const size_t slash = relative.find('/');
    if (slash == std::string::npos) {
        rest->clear();
        return relative;
    }
    *rest = relative.substr(slash);
    return relative.substr(0, slash);
}

// Every folder a relative path lies in, and the path itself.
void claimWithFolders(std::set<std::string> &claimed, const std::string &relative)
{
    for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1))
        claimed.insert(relative.substr(0, slash));
    claimed.insert(relative);
}

} // namespace

bool assignFreeSavePaths(const std::string &saveFolder, std::vector<TransferFile> &files, std::string *error)
{
    if (saveFolder.empty()) {
        *error = "No save folder.";
        return false;
    }
    const pathutil::UniqueFd folder(::open(saveFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid()) {
        *error = "Failed to open folder " + saveFolder + ". " + std::strerror(errno);
        return false;
    }
    std::vector<std::string> paths;
    paths.reserve(files.size());
    std::map<std::string, std::string> topFolders; // first folder name -> the name it takes
    std::set<std::string> claimed;                 // relative paths (and their folders) given out
    for (const TransferFile &f : files) {
        std::string relative;
        if (!relativeSavePath(f, &relative, error))
            return false;
        std::string rest;
        const std::string top = firstName(relative, &rest);
        const bool topIsFolder = !rest.empty() || f.mime == kDirectoryMime;
        std::string taken;
        if (topIsFolder && topFolders.count(top)) {
            taken = topFolders[top];
        } else {
            for (int n = 0; n <= kMaxNumbered && taken.empty(); ++n) {
                const std::string name = pathutil::numberedName(top, n);
                if (claimed.count(name) || pathutil::existsIn(folder.get(), name))
                    continue;
                if (!topIsFolder && pathutil::existsIn(folder.get(), partialFileName(name, f.tid, f.uid, "")))
                    continue;
                taken = name;
            }
            if (taken.empty()) {
                *error = "No free name for " + top + " in " + saveFolder + ".";
                return false;
            }
            if (topIsFolder)
                topFolders[top] = taken;
        }
        relative = taken + rest;
        // Two files of the task on one path below a folder: number the later one.
        if (!rest.empty() && claimed.count(relative)) {
            const size_t slash = relative.rfind('/');
            const std::string parent = relative.substr(0, slash + 1);
            const std::string name = relative.substr(slash + 1);
            for (int n = 1; n <= kMaxNumbered && claimed.count(relative); ++n)
                relative = parent + pathutil::numberedName(name, n);
        }
        claimWithFolders(claimed, relative);
        paths.push_back(relative);
    }
    const std::string prefix = saveFolder.back() == '/' ? saveFolder : saveFolder + "/";
    for (size_t i = 0; i < files.size(); ++i)
        files[i].save_path = prefix + paths[i];
    return true;
}

std::string partialFileName(const std::string &name, const std::string &tid, const std::string &fid,
                            const std::string &subpath)
{
    return pathutil::partialName(name, tid + "/" + fid + "/" + subpath);
}
