// Pulling one file, piece by piece and resumably, or one folder listing from
// the sending device. The only place where received bytes reach the disk.
#pragma once

#include "LanferryHttpClient.h"
#include "PeerEndpoint.h"

#include "store/SavePaths.h"
#include "store/TaskDirFileDb.h"
#include "store/TransferRecords.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// Where a received file goes.
struct ReceiveTarget {
    // The save folder. Nothing outside it is created, opened or replaced.
    std::string folder;
    // The destination below folder, "/"-separated; its folders are created
    // as needed, and a link on the way is refused, never followed.
    std::string relative;
    // Bytes the sender offered: a sender that sends more fails the file.
    int64_t total = 0;
};

// Receives into the destination's partial file (partialFileName, beside it),
// continuing at offset when that file exists (a larger offset is cut to its
// size, and anything past the offset is dropped), and renames it to the
// destination after the last piece without replacing anything: when the name
// is taken by other bytes, the file takes the first free numbered name, and
// landed (when not null) tells the relative path it got. onPiece gets the
// status after every piece but the last; onComplete once after the rename.
// Answers status 1, or -1 with the reason; offset always tells how many bytes
// of the partial file are valid.
TransferFileStatus receiveFile(LanferryHttpClient &client, const PeerEndpoint &peer, const TaskKey &key,
                               const std::string &fid, const std::string &subpath, int64_t offset,
                               const ReceiveTarget &target, const FileStatusCallback &onPiece,
                               const FileStatusCallback &onComplete, std::string *landed = nullptr);

// Lands a file whose first piece was fetched whole into memory (answer, from
// LanferryHttpClient::fileReadWhole, with its overflow flag): writes it to the partial file and
// renames that as receiveFile does. Status 0 when the answer is not the whole
// file (no end marker: the file grew, or the sender's pieces are shorter),
// which receiveFile then fetches piece by piece; 1 when landed; -1 with the
// reason, as receiveFile would fail on that answer.
TransferFileStatus landWholeFile(const HttpResponse &answer, bool overflow, const TaskKey &key, const std::string &fid,
                                 const std::string &subpath, const ReceiveTarget &target,
                                 std::string *landed = nullptr);

// Creates the folder relative below folder (and the folders on the way) as
// receiveFile creates a file's folders: no link is followed. Status 1, or -1
// with the reason.
TransferFileStatus makeReceiveFolder(const std::string &folder, const std::string &relative);

// Lists one folder level of a folder entry; each row's subpath is joined to
// the requested one. A listed name that is empty, "." or "..", or that holds
// "/" or a NUL fails the whole listing. Status 1 on success.
TransferFileStatus listRemoteDirectory(LanferryHttpClient &client, const PeerEndpoint &peer, const TaskKey &key,
                                       const std::string &fid, const std::string &subpath,
                                       std::vector<DirTaskEntry> *entries);
