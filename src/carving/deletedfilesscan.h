#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

#include "carving/scansink.h"
#include "model/filesignature.h"
#include "model/records.h"

class Platform;

// The Deleted Files mode: deleted files that are still whole. It reads no raw
// device and runs no matching; every hit it makes is marked deleted and
// carries no bytes.
//
// Phase 1 looks in the Trash folders: the user's own and those of the
// scanned volume. A file there larger than 100 bytes whose first 32 bytes a
// signature recognises becomes a "good" hit whose sourcePath is the file in
// the Trash, so that saving copies it. Every path, whatever listed it, is
// looked at without following a link and opened without blocking, and only
// a regular file is read: a link or FIFO planted in a Trash folder is
// skipped, never followed or waited on.
//
// - macOS: the administrator `find` of ~/.Trash and MOUNT/.Trashes (one
//   password dialog per scan), then a direct walk of both that adds what
//   find missed. find's listing is read a line at a time, as its command
//   text fixes, so a name holding a line feed can't be told from two names:
//   only paths inside the two folders are taken, and the walk then finds the
//   real name.
// - Linux: the freedesktop.org Trash folders of this user (the home trash and
//   the volume's $top/.Trash/$uid and $top/.Trash-$uid) are the user's own
//   and are walked directly. The administrator shell runs only for one that
//   exists and can't be read, with a NUL-separated listing. A hit's
//   originalPath is where its .trashinfo says the item came from.
//
// Phase 2 counts the volume's snapshots (it never opens them) and asks the
// file index for paths below the volume (below the users' homes for the
// system volume) whose extension a signature has and that no longer exist.
// Each becomes a "partial" hit of size 0: the name is all that is left, so
// saving it counts as "no data". A path that a Trash hit came from is left
// out: the index is a day old on Linux, so it still names every file trashed
// since, which phase 1 has found whole.
//
// - macOS: `tmutil listlocalsnapshots`, and `mdfind -onlyin` with a Spotlight
//   query built from the extensions.
// - Linux: the first of btrfs, Snapper and LVM that lists snapshots of the
//   volume, counted as the Snapshots screen lists them (a file system
//   without any counts 0); `locate -0` with the folder as a
//   literal prefix, the extensions filtered here. A path counts as gone only
//   when lstat says it does not exist (ENOENT/ENOTDIR), not when it merely
//   can't be reached.
//
// Status texts, in order: "Phase 1: Scanning Trash folders...", "Found N
// files in Trash. Checking signatures...", "Trash: Found N deleted files..."
// after hits (as a progress text), the platform's phase 2 text, the snapshot
// count when there are any, the index search text, the index result or the
// platform's "could not search" text, and last the totals line. When nothing
// was found and no snapshot counted, the platform's tips go to the error
// text. Cancellation stops phase 1 before its next path and the index loop
// before its next path; the snapshot count and the index query still run,
// and the closing texts follow as usual.
namespace DeletedFiles {

// Hits counted by the two phases of one scan.
struct Counts {
    qsizetype trashHits = 0;
    qsizetype indexHits = 0;
    int snapshots = 0;
    // The index could not be asked; no tips are shown then.
    bool indexUnavailable = false;
};

// Both phases and the closing texts; the caller runs the completion step.
Counts scan(Platform &platform, const VolumeInfo &volume, const QList<FileSignature> &signatures, ScanSink &sink);

// Phase 1; returns the number of hits it posted, and adds the original paths
// of those hits that have one to `originalPaths`.
qsizetype scanTrashFolders(Platform &platform, const QString &mountPoint, const QList<FileSignature> &signatures,
                           ScanSink &sink, QSet<QString> *originalPaths = nullptr);

// Phase 2; fills the counts it owns (not trashHits). A path in `inTrash` is
// no index hit: the file is whole in the Trash, and phase 1 has it.
Counts scanSnapshotsAndSpotlight(Platform &platform, const VolumeInfo &volume,
                                 const QList<FileSignature> &signatures, ScanSink &sink,
                                 const QSet<QString> &inTrash = {});

// The first signature that recognises a file from its first bytes (at most
// 32): its header fits and matches, and its validator, if any, accepts all
// the bytes. Null when none does.
const FileSignature *recognise(const QList<FileSignature> &signatures, const QByteArray &head);

// The first signature whose extension equals the extension of `path`'s last
// component, ignoring case. Null when none does or the name has none.
const FileSignature *signatureForExtension(const QList<FileSignature> &signatures, const QString &path);

// Where a trashed item came from, from its .trashinfo text: the first Path=
// of the [Trash Info] group, percent-decoded, with `top` in front of a
// relative one. Absent when there is none.
std::optional<QString> trashInfoOriginalPath(const QByteArray &contents, const QString &top);

// A macOS listing read a line a path (find's, mdfind's) as paths: lines
// trimmed, empty ones dropped, and only paths strictly inside one of
// `folders` kept (a piece of a name with a line feed is not a path there).
QStringList pathsFromLineListing(const QString &output, const QStringList &folders);

} // namespace DeletedFiles
