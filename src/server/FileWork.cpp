#include "FileWork.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

OnReadFileResult failure(std::string message)
{
    OnReadFileResult r;
    r.failed = true;
    r.data = std::move(message);
    return r;
}

OnReadFileResult listFolder(const std::string &path)
{
    OnReadFileResult r;
    r.isDir = true;
    DIR *dir = ::opendir(path.c_str());
    if (!dir) {
        r.failed = true;
        r.data = std::strerror(errno);
        return r;
    }
    JsonPtr list(json_object_new_array());
    const int fd = ::dirfd(dir);
    while (const dirent *e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st {};
        if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))
            continue; // links, devices, FIFOs and sockets are never offered
        json_object *item = json_object_new_object();
        jsonAdd(item, "subpath", name);
        jsonAddBool(item, "isdir", S_ISDIR(st.st_mode));
        jsonAddInt64(item, "total", S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size));
        json_object_array_add(list.get(), item);
    }
    ::closedir(dir);
    r.data = jsonText(list.get());
    return r;
}

// realpath as a string; empty when it cannot be resolved.
std::string resolved(const std::string &path)
{
    char *p = ::realpath(path.c_str(), nullptr);
    if (!p)
        return {};
    std::string out = p;
    std::free(p);
    return out;
}

bool isInside(const std::string &child, const std::string &base)
{
    if (child.empty() || base.empty())
        return false;
    if (child == base)
        return true;
    const std::string prefix = base == "/" ? base : base + "/";
    return child.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

OnReadFileResult readChunk(const std::string &path, int64_t offset, char *buffer, int32_t size)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failure(std::strerror(errno));
    if (offset < 0 || ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        const int err = offset < 0 ? EINVAL : errno;
        ::close(fd);
        return failure(std::strerror(err));
    }
    OnReadFileResult r;
    while (r.size < size) {
        const ssize_t n = ::read(fd, buffer + r.size, static_cast<size_t>(size - r.size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            return failure(std::strerror(err));
        }
        if (n == 0) {
            r.eof = true;
            break;
        }
        r.size += static_cast<int32_t>(n);
    }
    ::close(fd);
    return r;
}

OnReadFileResult readFileForPeer(const std::string &, const TransferFile &file, const std::string &subpath,
                                 int64_t offset, char *buffer, int32_t size)
{
    if (file.mime != kDirectoryMime)
        return readChunk(file.uri, offset, buffer, size);

    const std::string target = subpath.empty() ? file.uri : file.uri + "/" + subpath;
    // Links inside a sent folder may not lead a peer out of it.
    if (!subpath.empty()) {
        const std::string real = resolved(target);
        if (!real.empty() && !isInside(real, resolved(file.uri)))
            return failure("Invalid File.");
    }
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return listFolder(target);
    if (::stat(target.c_str(), &st) != 0)
        return failure(std::strerror(errno)); // gone since it was listed: a failure, not an empty file
    if (S_ISREG(st.st_mode))
        return readChunk(target, offset, buffer, size);
    std::printf("Invalid file type. %s\n", target.c_str());
    std::fflush(stdout);
    return failure("Invalid file type.");
}

OnReadThumbResult makeThumbnail(const std::string &path, const std::string &mime)
{
    OnReadThumbResult r;
    QImage image;
    if (path.empty() || !image.load(QString::fromStdString(path)) || image.isNull()) {
        r.failed = true;
        return r;
    }
    const qint64 w = image.width(), h = image.height();
    qint64 newW, newH;
    if (h < w) {
        newW = 256;
        newH = h * 256 / w;
    } else {
        newW = w * 256 / h;
        newH = 256;
    }
    // A very long strip would round to nothing; keep at least one pixel.
    const QImage scaled = image.scaled(int(std::max<qint64>(newW, 1)), int(std::max<qint64>(newH, 1)),
                                       Qt::IgnoreAspectRatio, Qt::FastTransformation);
    const bool png = QString::fromStdString(mime).compare(QLatin1String("image/png"), Qt::CaseInsensitive) == 0;
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    if (!scaled.save(&out, png ? "PNG" : "JPEG")) {
        r.failed = true;
        return r;
    }
    r.data = bytes.toStdString();
    r.mime = mime.empty() ? std::string("image/jpeg") : mime;
    return r;
}

void addLocalPath(const std::string &tid, std::vector<TransferFile> &files, const std::string &localPath,
                  const std::string &root, const std::string &shareId)
{
    const QFileInfo info(QString::fromStdString(localPath));
    const std::string uri = info.absoluteFilePath().toStdString();
    TransferFile file;
    if (info.isFile()) {
        const std::string mime = mimeForSuffix(info.suffix().toStdString());
        file = newTransferFile(tid, root, uri, isImageMime(mime) ? uri : std::string(), info.fileName().toStdString(),
                               mime, info.size());
    } else if (info.isDir()) {
        file = newTransferFile(tid, root, uri, std::string(), info.fileName().toStdString(), kDirectoryMime, 0);
    } else {
        return;
    }
    file.shareid = shareId;
    files.push_back(std::move(file));
}

std::string mimeForSuffix(const std::string &suffix)
{
    static const std::map<std::string, std::string> table = [] {
        static const char *const pairs[][2] = {
            {"bmp", "image/bmp"},
            {"gif", "image/gif"},
            {"jpeg", "image/jpeg"},
            {"jpg", "image/jpeg"},
            {"png", "image/png"},
            {"bmp", "image/bmp"},
            {"tif", "image/tiff"},
            {"webp", "image/webp"},
            {"heic", "image/heic"},
            {"heif", "image/heif"},
            {"mp3", "audio/mpeg"},
            {"aac", "audio/aac"},
            {"wav", "audio/x-wav"},
            {"3gp", "video/3gpp"},
            {"flv", "video/x-flv"},
            {"exe", "application/x-msdownload"},
            {"ppt", "application/x-ppt"},
            {"xls", "application/x-xls"},
            {"apk", "application/vnd.android.package-archive"},
            {"mov", "video/quicktime"},
            {"mp4", "video/mp4"},
            {"qt", "video/quicktime"},
            {"3gp", "video/3gpp"},
            {"webm", "video/webm"},
            {"mkv", "video/x-matroska"},
            {"avi", "video/x-msvideo"},
            {"hevc", "video/hevc"},
            {"txt", "text/plain"},
            {"htm", "text/html"},
            {"html", "text/html"},
            {"xml", "text/xml"},
            {"csv", "text/csv"},
            {"doc", "application/msword"},
            {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
            {"pdf", "application/pdf"},
            {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
            {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        };
        std::map<std::string, std::string> m;
        for (const auto &p : pairs)
            m.emplace(p[0], p[1]); // a later duplicate changes nothing
        return m;
    }();
    std::string key = suffix;
    for (char &c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    const auto it = table.find(key);
    return it == table.end() ? std::string("application/octet-stream") : it->second;
}

bool isImageMime(const std::string &mime)
{
    return QString::fromStdString(mime).startsWith(QLatin1String("image/"), Qt::CaseInsensitive);
}
