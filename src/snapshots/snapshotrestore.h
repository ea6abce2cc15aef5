#pragma once

// Copying files out of a snapshot. The snapshot is only read: files are
// opened read-only and never through a link, and a destination inside a
// snapshot is refused. Nothing at the destination is replaced either: each
// copy is created exclusively under the first free name ("report (1).pdf").

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

struct RestoreOutcome {
    // Selected items copied whole, and files (or links) copied in all.
    int itemsRestored = 0;
    int filesCopied = 0;
    // Files, links and folders that could not be copied, as "PATH: reason".
    QStringList failures;
    bool cancelled = false;
    // Set when nothing was attempted: the reason, for the user.
    QString refusal;
    // Where each selected item that was copied whole went.
    QStringList createdPaths;
};

// Copies `items` (paths below `snapshotRoot`, as the file system spells
// them) into the folder `destination`, folders with everything in them.
// Modes (without set-id bits), modification times and, run as root,
// owners are kept, and so are the holes of sparse files; special files
// (devices, pipes, sockets) are not copied.
// `protectedFolders` are other places nothing may be written into (every
// listed snapshot). `cancelled` is asked between chunks; `progress` gets
// the bytes copied and the bytes to copy.
RestoreOutcome restoreFromSnapshot(const QString &snapshotRoot, const QList<QByteArray> &items, const QString &destination,
                                   const QStringList &protectedFolders, const std::function<bool()> &cancelled,
                                   const std::function<void(qint64 done, qint64 total)> &progress);

// Whether `path` is `folder` or lies below it, after resolving links.
bool liesWithin(const QString &path, const QString &folder);
