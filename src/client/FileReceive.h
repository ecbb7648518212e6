// Pulling one file, piece by piece and resumably, or one folder listing from
// the sending device. The only place where received bytes reach the disk.
#pragma once

#include "LanferryHttpClient.h"
#include "PeerEndpoint.h"

#include "store/TaskDirFileDb.h"
#include "store/TransferRecords.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Received bytes go here first; the name is the destination's plus this.
constexpr const char *kPartialSuffix = ".downloading";
// 200 answers with no bytes and no end marker tolerated in a row.
constexpr int kMaxEmptyPieces = 3;

using FileStatusCallback = std::function<void(const TransferFileStatus &status)>;

// One "/file/read" request. A failure (no address, a non-200 answer, a
// failed request) sets status -1 with remote true and the reason in error.
// With okBodySink, a 200 answer's body goes there as it arrives instead of
// into the answer.
HttpResponse requestPiece(LanferryHttpClient &client, const PeerEndpoint &peer, const TaskKey &key,
                          const std::string &fid, const std::string &subpath, int64_t offset,
                          TransferFileStatus &status, const CURLHelper2::Sink *okBodySink = nullptr);

// Receives into destination + ".downloading", continuing at offset when that
// file exists (a larger offset is cut to its size, and anything past the
// offset is dropped), and renames it to destination after the last piece.
// onPiece gets the status after every piece but the last; onComplete once
// after the rename. Answers status 1, or -1 with the reason; offset always
// tells how many bytes of the partial file are valid.
TransferFileStatus receiveFile(LanferryHttpClient &client, const PeerEndpoint &peer, const TaskKey &key,
                               const std::string &fid, const std::string &subpath, int64_t offset,
                               const std::string &destination, const FileStatusCallback &onPiece,
                               const FileStatusCallback &onComplete);

// Lists one folder level of a folder entry; each row's subpath is joined to
// the requested one. A listed name that is empty, "." or "..", or that holds
// "/" or a NUL fails the whole listing. Status 1 on success.
TransferFileStatus listRemoteDirectory(LanferryHttpClient &client, const PeerEndpoint &peer, const TaskKey &key,
                                       const std::string &fid, const std::string &subpath,
                                       std::vector<DirTaskEntry> *entries);
