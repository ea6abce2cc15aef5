#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// How many snapshots a volume has, read from the listings of the system's
// snapshot tools. Only the number is taken: nothing here opens a snapshot.
// Each reader is a pure function of one tool's output; an absent result
// means the output did not answer the question (a missing config, a volume
// the tool does not manage, output that is not the tool's).
namespace SnapshotCount {

// `tmutil listlocalsnapshots MOUNT`: every line that is not empty, does not
// begin with "Snapshots for" and holds a "." names one snapshot. Lines are
// taken as they are, untrimmed.
int fromTmutil(const QString &output);

// `btrfs subvolume list -s MOUNT`: one "ID ..." line per snapshot subvolume
// of the file system.
int fromBtrfsList(const QString &output);

// `snapper --jsonout list-configs`: the name of the config whose subvolume
// is `mountPoint`.
std::optional<QString> snapperConfigFor(const QByteArray &json, const QString &mountPoint);

// `snapper --jsonout -c NAME list`: the snapshots of that config, without
// entry 0, which stands for the live file system.
std::optional<int> fromSnapperList(const QByteArray &json);

// `lvs --reportformat json -o lv_name,vg_name,origin,lv_path,lv_dm_path`:
// the snapshots whose origin is the logical volume that `deviceNames`
// (the mounted device under any of its names) stands for. Absent when no
// logical volume has one of those names.
std::optional<int> fromLvsReport(const QByteArray &json, const QStringList &deviceNames);

// The arguments that produce the listings above.
QStringList btrfsArguments(const QString &mountPoint);
QStringList snapperConfigArguments(bool asRoot);
QStringList snapperListArguments(const QString &config, bool asRoot);
QStringList lvsArguments();

} // namespace SnapshotCount
