#pragma once

// The snapshots of a Linux system, from the tools that keep them: btrfs
// (every mounted btrfs file system), Snapper (every config), LVM and ZFS.
// Which tools run, and how their output becomes SnapshotEntry records, are
// pure functions of what was found on the system, so that both can be tested
// without the tools.

#include <QList>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <optional>

#include "snapshots/snapshotentry.h"
#include "system/mountinfo.h"
#include "system/platform.h"

// What a listing starts from.
struct LinuxSnapshotSources {
    QList<MountInfoEntry> mounts;  // the whole mount table
    QList<VolumeInfo> volumes;     // the volumes a user recognises, for their names
    bool hasLvmVolumes = false;    // a device-mapper device made by LVM exists
    bool hasSnapperConfigs = false;
    // Already root: no password needed, and snapper is asked directly
    // rather than through its D-Bus service.
    bool asRoot = false;
};

// Reads the running system: /proc/self/mountinfo, the platform's volumes,
// LVM's device-mapper names in sysfs and Snapper's config folder. Blocks on
// child processes; call it on a worker.
LinuxSnapshotSources currentLinuxSnapshotSources(Platform &platform, const QString &sysRoot = QStringLiteral("/sys"),
                                                 const QString &snapperConfigs = QStringLiteral("/etc/snapper/configs"));

enum class SnapshotTool { btrfsSnapshots, btrfsSubvolumes, snapper, lvs, zfs };

struct SnapshotToolRun {
    SnapshotTool tool;
    QString program;
    QStringList arguments;
    // btrfs: the device of the file system listed.
    QString device;
};

// What `tool` is given to list: `mountPoint` is where a btrfs file system is
// listed through; `asRoot` as in LinuxSnapshotSources.
QStringList snapshotToolArguments(SnapshotTool tool, const QString &mountPoint, bool asRoot);

// The runs a listing makes: two per btrfs file system (its snapshots with
// their creation times, and every subvolume so that a snapshot's origin can
// be found), and one for each other tool that is installed and has
// something to list. Tools that are missing are left out.
QList<SnapshotToolRun> linuxSnapshotRuns(const LinuxSnapshotSources &sources, const ToolPaths &tools);

// What one run gave: `ok` when it ran and exited with status 0.
struct SnapshotToolOutput {
    bool ok = false;
    QString text;
};

// The records of every run's output, sorted newest first. A snapshot that
// both Snapper and btrfs report is listed once, as Snapper's, with btrfs's
// UUID. `zone` is the one the tools printed their local times in.
SnapshotListing assembleLinuxSnapshots(const LinuxSnapshotSources &sources, const QList<SnapshotToolRun> &runs,
                                       const QList<SnapshotToolOutput> &outputs, const QTimeZone &zone);

// How many of the snapshots in the output of snapshotToolArguments(`tool`)
// belong to `volume`: for btrfs every one of the file system mounted there,
// for Snapper those of the config whose subvolume is mounted there, for LVM
// those whose origin is the volume's device under any of its names. The
// records are the ones the listing above shows; 0 for the other tools.
int snapshotsOfVolume(SnapshotTool tool, const QString &output, const VolumeInfo &volume);

// One shell text that makes every run (for a single administrator
// password prompt), each run's output between lines carrying `nonce`, with
// the tools' times printed in UTC.
QString elevatedListingScript(const QList<SnapshotToolRun> &runs, const QString &nonce);
// The outputs of the runs again, in order; a run whose section is missing
// counts as failed.
QList<SnapshotToolOutput> splitElevatedListing(const QString &output, qsizetype runCount, const QString &nonce);

// Where a subvolume at `path` (from the top-level subvolume) can be read
// through the mounts of its file system, shortest first; none when no mount
// covers it.
QStringList btrfsFolders(const QString &path, const QList<MountInfoEntry> &fileSystemMounts);
