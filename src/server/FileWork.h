// The file work behind the routes that peers call: reading a chunk of a file,
// listing a folder, making a thumbnail, and turning a local path into a file
// record with a content type from a fixed suffix table.
#pragma once

#include "ReadResults.h"

#include "store/TransferRecords.h"

#include <cstdint>
#include <string>
#include <vector>

// Images with more pixels than this are not decoded whole for a thumbnail
// (160 MB as 32-bit pixels).
constexpr int64_t kThumbnailMaxDecodedPixels = 40000000;

// Up to size bytes of the regular file at offset; eof when the read ran into
// the end of the file (a read that stops exactly at the end is not marked; the
// next one reads 0 bytes and is). Anything but a regular file is refused
// without waiting for it.
OnReadFileResult readChunk(const std::string &path, int64_t offset, char *buffer, int32_t size);

// A chunk of a file record, or for a folder record the listing (or a chunk) of
// its folder joined with subpath. The sub-path is resolved beneath the
// record's folder without following a link at any step, and only a folder or
// a regular file is read: a link on the way is refused with "Invalid File.",
// anything else with "Invalid file type.". Links are never listed.
OnReadFileResult readFileForPeer(const std::string &tid, const TransferFile &file, const std::string &subpath,
                                 int64_t offset, char *buffer, int32_t size);

// The image in the regular file at path scaled to fit 256 x 256, as PNG when
// mime is "image/png" (any case), else JPEG; labelled with mime, or
// "image/jpeg" when mime is empty. An image whose header announces more than
// kThumbnailMaxDecodedPixels is refused, unless it is a JPEG that can be
// decoded at an eighth of each side within that count.
OnReadThumbResult makeThumbnail(const std::string &path, const std::string &mime);

// Appends the record of one local file or folder to files; nothing when the
// path does not exist.
void addLocalPath(const std::string &tid, std::vector<TransferFile> &files, const std::string &localPath,
                  const std::string &root, const std::string &shareId);

// The content type for a file name suffix ("application/octet-stream" when unknown).
std::string mimeForSuffix(const std::string &suffix);
// True when mime begins with "image/" in any case.
bool isImageMime(const std::string &mime);
