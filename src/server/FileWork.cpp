#include "FileWork.h"

#include "pathutil/BeneathFs.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using pathutil::UniqueFd;

namespace {

// Opened without waiting: a FIFO (or a device) put where a file was expected
// must not hold a worker until someone writes to it.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

OnReadFileResult failure(std::string message)
{
    OnReadFileResult r;
    r.failed = true;
    r.data = std::move(message);
    return r;
}

OnReadFileResult invalidFileType(const std::string &path)
{
    std::printf("Invalid file type. %s\n", path.c_str());
    std::fflush(stdout);
    return failure("Invalid file type.");
}

// Takes over fd.
OnReadFileResult listFolder(UniqueFd fd)
{
    OnReadFileResult r;
    r.isDir = true;
    DIR *dir = ::fdopendir(fd.get());
    if (!dir) {
        r.failed = true;
        r.data = std::strerror(errno);
        return r;
    }
    fd.release(); // closedir closes it
    // Written entry by entry: a folder of 100,000 files is never one JSON tree here.
    std::string text = "[";
    const int dfd = ::dirfd(dir);
    while (const dirent *e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st {};
        if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))
            continue; // links, devices, FIFOs and sockets are never offered
        JsonPtr item(json_object_new_object());
        jsonAdd(item.get(), "subpath", name);
        jsonAddBool(item.get(), "isdir", S_ISDIR(st.st_mode));
        jsonAddInt64(item.get(), "total", S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size));
        if (text.size() > 1)
            text += ", ";
        text += jsonText(item.get());
    }
    ::closedir(dir);
    text += "]";
    r.data = std::move(text);
    return r;
}

// Reads from the open regular file fd.
OnReadFileResult readChunkAt(int fd, int64_t offset, char *buffer, int32_t size)
{
    if (offset < 0)
        return failure(std::strerror(EINVAL));
    OnReadFileResult r;
    while (r.size < size) {
        const ssize_t n =
            ::pread(fd, buffer + r.size, static_cast<size_t>(size - r.size), static_cast<off_t>(offset + r.size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failure(std::strerror(errno));
        }
        if (n == 0) {
            r.eof = true;
            break;
        }
        r.size += static_cast<int32_t>(n);
    }
    return r;
}

// A chunk or a listing of what fd (opened with kOpenFlags) is; path only names it in messages.
OnReadFileResult readOpened(UniqueFd fd, const std::string &path, bool allowFolder, int64_t offset, char *buffer,
                            int32_t size)
{
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return failure(std::strerror(errno));
    if (S_ISREG(st.st_mode))
        return readChunkAt(fd.get(), offset, buffer, size);
    if (allowFolder && S_ISDIR(st.st_mode))
        return listFolder(std::move(fd));
    return invalidFileType(path);
}

} // namespace

OnReadFileResult readChunk(const std::string &path, int64_t offset, char *buffer, int32_t size)
{
    UniqueFd fd(::open(path.c_str(), kOpenFlags));
    if (!fd.valid())
        return failure(std::strerror(errno));
    return readOpened(std::move(fd), path, false, offset, buffer, size);
}

OnReadFileResult readFileForPeer(const std::string &, const TransferFile &file, const std::string &subpath,
                                 int64_t offset, char *buffer, int32_t size)
{
    if (file.mime != kDirectoryMime)
        return readChunk(file.uri, offset, buffer, size);

    // The record's own path was chosen by the local user and is opened as it
    // is; everything below it is the peer's choice and is resolved beneath
    // it, following no link at any step, so that nothing swapped in on the
    // way (a link to elsewhere, a FIFO) is ever read.
    UniqueFd folder(::open(file.uri.c_str(), kOpenFlags | O_DIRECTORY));
    if (!folder.valid())
        return failure(std::strerror(errno));
    if (subpath.empty())
        return listFolder(std::move(folder));
    UniqueFd target(pathutil::openBeneath(folder.get(), subpath, kOpenFlags));
    if (!target.valid()) {
        const int err = errno;
        // A link on the way, a way out, or a name that is no plain name.
        if (err == ELOOP || err == EXDEV || err == EINVAL || err == EAGAIN)
            return failure("Invalid File.");
        return failure(std::strerror(err)); // gone since it was listed: a failure, not an empty file
    }
    return readOpened(std::move(target), file.uri + "/" + subpath, true, offset, buffer, size);
}

OnReadThumbResult makeThumbnail(const std::string &path, const std::string &mime)
{
    OnReadThumbResult r;
    r.failed = true;
    if (path.empty())
        return r;
    UniqueFd fd(::open(path.c_str(), kOpenFlags));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return r;
    QFile file;
    if (!file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return r;
    fd.release();

    // The size comes from the header, before anything is decoded: a file of
    // a few hundred KiB can announce billions of pixels.
    QImageReader reader(&file);
    const QSize size = reader.size();
    if (size.isEmpty())
        return r;
    const qint64 w = size.width(), h = size.height();
    qint64 newW, newH;
    if (h < w) {
        newW = 256;
        newH = h * 256 / w;
    } else {
        newW = w * 256 / h;
        newH = 256;
    }
    // A very long strip would round to nothing; keep at least one pixel.
    const QSize thumbSize(int(std::max<qint64>(newW, 1)), int(std::max<qint64>(newH, 1)));
    if (w * h > kThumbnailMaxDecodedPixels) {
        // JPEG decodes straight to an eighth of each side, so a camera's
        // largest photos still get a thumbnail; anything else is refused.
        if (reader.format() != "jpeg" || w * h / 64 > kThumbnailMaxDecodedPixels)
            return r;
        reader.setScaledSize(thumbSize);
    }
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return r;
    if (image.size() != thumbSize)
        image = image.scaled(thumbSize, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    const bool png = QString::fromStdString(mime).compare(QLatin1String("image/png"), Qt::CaseInsensitive) == 0;
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    if (!image.save(&out, png ? "PNG" : "JPEG"))
        return r;
    r.failed = false;
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
