#pragma once

// Pure readers of what the snapshot tools print. Each takes the text a tool
// wrote and gives plain records; none runs anything. Dates come back in the
// user's local time, read in the zone the tool printed them in.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QTimeZone>

#include <optional>

#include "model/records.h"

// `diskutil apfs listSnapshots /` (standard output and error together).
// Volume lines ("APFS Volume" or "Volume disk") set the device (/dev/ + the
// first "diskNsN") and the name (the first double-quoted text) of the
// snapshot lines after them. A snapshot line starts with "Name:" or holds
// "com.apple"; its comma-separated parts "Name:", "UUID:" and "Created:"
// ("yyyy-MM-dd HH:mm:ss" in the user's zone) make one record, none without a
// name. Without a volume line the name is "System" and the device
// "/dev/disk1s1". Sorted newest first, stable, records without a date last.
QList<SnapshotInfo> parseSnapshotList(const QString &output);

// Newest first, stable; a missing date counts as the earliest one.
void sortNewestFirst(QList<SnapshotInfo> &snapshots);

// How many snapshots `tmutil listlocalsnapshots MOUNT` names: every line that
// is not empty, does not begin with "Snapshots for" and holds a "." names
// one. Lines are taken as they are, untrimmed.
int countTmutilSnapshots(const QString &output);

// One line of `btrfs subvolume list -a -u -q [-s] PATH`.
struct BtrfsSubvolume {
    qint64 id = 0;
    qint64 topLevel = 0;
    std::optional<QDateTime> created; // only with -s: "otime", the tool's local time
    QString parentUuid;               // empty for "-"
    QString uuid;
    // From the top-level subvolume, without a leading slash: -a marks paths
    // outside the listed subvolume with "<FS_TREE>/", which is dropped.
    QString path;
};
// Lines of any other shape (errors, a blank last line) are skipped.
QList<BtrfsSubvolume> parseBtrfsSubvolumeList(const QString &output, const QTimeZone &zone);

// One entry of `snapper --jsonout list --all-configs`, entry 0 ("current",
// the live subvolume itself) left out.
struct SnapperSnapshot {
    QString config;
    QString subvolume; // the configured subvolume's mount point
    int number = 0;
    QString type;      // single, pre, post
    std::optional<QDateTime> date; // "yyyy-MM-dd HH:mm:ss", the tool's local time
    QString description;
};
// Text before the JSON document (a warning) is skipped; anything else that
// is not the documented shape gives no entries.
QList<SnapperSnapshot> parseSnapperList(const QString &output, const QTimeZone &zone);

// One snapshot row of `lvs --reportformat json -o lv_name,lv_uuid,lv_time,
// origin,vg_name,lv_attr,lv_path`: a logical volume with an origin.
struct LvmSnapshot {
    QString name;
    QString uuid;
    std::optional<QDateTime> created; // "yyyy-MM-dd HH:mm:ss +hhmm", or epoch seconds
    QString origin;
    QString volumeGroup;
    QString path;
    bool isValid = true; // lv_attr "S": an invalid (overflowed) snapshot
};
QList<LvmSnapshot> parseLvsSnapshots(const QString &output);

// One line of `zfs list -H -p -t snapshot -o name,guid,creation`: fields
// separated by tabs, the name "pool/dataset@snapshot", creation in epoch
// seconds.
struct ZfsSnapshot {
    QString dataset;
    QString name;
    QString guid;
    std::optional<QDateTime> created;
};
QList<ZfsSnapshot> parseZfsSnapshots(const QString &output);
