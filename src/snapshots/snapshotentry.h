#pragma once

#include <QList>
#include <QString>

#include "model/records.h"

// Which system keeps a snapshot; decides how its files can be reached.
enum class SnapshotKind { apfs, btrfs, snapper, lvm, zfs };

// "APFS", "btrfs", "Snapper", "LVM", "ZFS".
QString snapshotKindName(SnapshotKind kind);

// A listed snapshot: the record the screens show, and what the listing
// learned about reaching it.
struct SnapshotEntry {
    SnapshotInfo info;
    SnapshotKind kind = SnapshotKind::apfs;
    // Where the snapshot's files can be read as a folder; empty when they
    // can't (APFS, LVM, a btrfs snapshot outside every mounted subvolume).
    QString folder;
    // The live folder the snapshot was taken of; empty when unknown.
    QString liveFolder;
    // The command a user runs in a terminal to list or reach it by hand.
    QString manualCommand;
};

inline bool operator==(const SnapshotEntry &a, const SnapshotEntry &b)
{
    return a.info == b.info;
}

// What one listing found. `failed` when a tool could not be run or refused
// to list, in which case `entries` holds what the others found.
struct SnapshotListing {
    QList<SnapshotEntry> entries;
    bool failed = false;
};

// Newest first, stable; a missing date counts as the earliest one.
void sortNewestFirst(QList<SnapshotEntry> &entries);
