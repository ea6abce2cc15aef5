#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What quorvel-carve checks before it reads anything, so that a mistake is
// reported at once and nothing is created on the source.

// A device node or disk image for a raw scan: it opens without waiting (a
// FIFO with no writer would hang), is a regular file or a block device, and
// holds bytes. Gives the message when it can't be scanned; sets `size`.
std::optional<QString> checkRawSource(const QString &path, qint64 *size);

// A folder for a directory scan.
std::optional<QString> checkFolderSource(const QString &path);

// The folder saving writes into: a writable folder, or one that can be
// created where its nearest existing parent is. Nothing is created here.
std::optional<QString> checkDestination(const QString &folder);

// The refusal to save onto the scanned storage, or nothing when the folder
// lies elsewhere.
std::optional<QString> sameDeviceRefusal(const QString &folder, const QString &scannedSource);

// Where `device` is mounted now, and where its partitions are: a partition's
// mount point is followed by the partition in parentheses.
QStringList mountPointsOf(const QString &device);
