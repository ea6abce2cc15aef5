#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

#include "bytesource.h"
#include "recoveryenums.h"

// A new random record identifier (a version 4 UUID). Scans make hundreds of
// thousands of records; this draws from a per-thread generator seeded from
// the system's random source rather than asking the system for every id,
// which on some processors costs a microsecond each.
QUuid newRecordId();

// Plain value records. Each carries a random `id`; equality and hashing use the
// id alone, so a changed copy (a hit whose status was updated) still equals the
// original and selections keyed by record survive updates.

struct TrashItem {
    QUuid id = newRecordId();
    QString fileName;
    std::optional<QString> originalPath;
    QUrl trashPath;
    qint64 fileSize = 0;
    std::optional<QDateTime> deletedDate;
    std::optional<QDateTime> modifiedDate;
    FileCategory category = FileCategory::other;
    bool isDirectory = false;

    // Medium date, short time, in the user's locale; "Unknown" without a date.
    QString formattedDeletedDate() const;
};

struct SnapshotInfo {
    QUuid id = newRecordId();
    QString name;
    QString snapshotUUID;
    std::optional<QDateTime> date;
    QString volumeName;
    QString volumeDevice;

    // Long date, medium time, in the user's locale; "Unknown" without a date.
    QString formattedDate() const;
};

struct VolumeInfo {
    QUuid id = newRecordId();
    QString name;
    QString mountPoint;
    QString device;
    QString rawDevice;
    QString fileSystem;
    qint64 totalSize = 0;
    qint64 freeSize = 0;
    bool isExternal = false;
    bool isRemovable = false;

    // What the block device list adds. A device that is not mounted has an
    // empty `mountPoint`, its device size as `totalSize` and no free space.
    QString label;        // the file system's own label; empty when none or unknown
    QString model;        // the disk's model as the hardware reports it
    QString backingFile;  // the image file a loop device shows
    QString deviceKind;   // "disk", "partition", "loop", "crypt", "lvm", "raid", "rom"; empty when unknown
    qint64 deviceSize = 0;  // bytes of the block device itself, 0 when unknown

    bool isMounted() const { return !mountPoint.isEmpty(); }
};

// What a walk of a carved hit's structure found, kept beside the carve's own
// fields (offset, estimatedSize, health), which it never changes.
struct Verification {
    enum class State : quint8 { notChecked, verified, unverified };
    State state = State::notChecked;
    qint64 length = 0;    // verified: the whole file's length, which saving writes
    QString reason;       // unverified: why, in a few words for the user

    bool isVerified() const { return state == State::verified; }
    // A walk refused it; lists hide such hits until asked to show them.
    bool isUnverified() const { return state == State::unverified; }
    // "Verified" for a whole file, else the reason; empty when not checked.
    QString text() const;
};

struct CarvedFile {
    QUuid id = newRecordId();
    QString signatureType;
    QString fileExtension;
    quint64 offset = 0;
    qint64 estimatedSize = 0;
    // The hit's bytes, when the scan carved them; absent when the hit stands
    // for a whole existing file at `sourcePath`, which saving copies.
    std::optional<CarvedData> data;
    CarvedFileHealth health = CarvedFileHealth::unknown;
    QString sourcePath;
    bool recovered = false;
    RecoveryStatus recoveryStatus = RecoveryStatus::unknown;
    std::optional<QString> matchedExistingPath;
    // Where the file lay before it was deleted, when the scan learnt it (a
    // freedesktop.org Trash keeps it in the item's .trashinfo). For showing
    // and for the saved file's name only; sourcePath is what is read.
    std::optional<QString> originalPath;
    Verification verification;

    // "recovered_" + type in lower case + "_" + offset as "%08llX" + "." + extension,
    // with any "/" written as "_" so that it stays a single file name.
    QString suggestedFileName() const;
    // The bytes saving writes: a verified hit's whole file, else the carved
    // window (or, without data, the source file's size).
    qint64 savedLength() const { return verification.isVerified() ? verification.length : estimatedSize; }
};

#define QUORVEL_IDENTIFIED_BY_ID(Record) \
    inline bool operator==(const Record &a, const Record &b) { return a.id == b.id; } \
    inline size_t qHash(const Record &record, size_t seed = 0) { return qHash(record.id, seed); }

QUORVEL_IDENTIFIED_BY_ID(TrashItem)
QUORVEL_IDENTIFIED_BY_ID(SnapshotInfo)
QUORVEL_IDENTIFIED_BY_ID(VolumeInfo)
QUORVEL_IDENTIFIED_BY_ID(CarvedFile)

#undef QUORVEL_IDENTIFIED_BY_ID
