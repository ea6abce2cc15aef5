#pragma once

// The files of one folder of a snapshot, and how each compares with the
// same place on the live volume. Pure file-system reads; call on a worker.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

#include "model/recoveryenums.h"

// How a snapshot's file stands against the live volume.
enum class SnapshotComparison {
    notCompared,
    same,    // present and, as far as can be told, equal
    changed, // present with other contents, another size or another kind
    missing, // no longer on the live volume: the files worth restoring
    // A folder that is still there. Its own entry says nothing about what
    // lies in it, so it is never called the same: files deleted inside it
    // show once it is entered.
    present,
};

struct SnapshotFile {
    // The name as the file system spells it (not always valid UTF-8), and
    // as it is shown.
    QByteArray rawName;
    QString name;
    bool isDirectory = false;
    bool isSymlink = false;
    qint64 size = 0;
    std::optional<QDateTime> modified;
    FileCategory category = FileCategory::other;
    SnapshotComparison comparison = SnapshotComparison::notCompared;
};

// The entries of `folder`, folders first, then by name ignoring case. Links
// are listed as themselves, never followed. `error` gets the error number
// when the folder can't be read, 0 otherwise.
QList<SnapshotFile> listSnapshotFolder(const QByteArray &folder, int *error);

// How `snapshotPath` compares with `livePath`. Files of equal size and
// modification time count as the same without reading them (the test rsync
// makes); files of equal size and other times are compared byte for byte.
// `cancelled` is asked between chunks; notCompared when it says stop or the
// live side can't be examined.
SnapshotComparison compareWithLive(const QByteArray &snapshotPath, const QByteArray &livePath,
                                   const std::function<bool()> &cancelled = {});
