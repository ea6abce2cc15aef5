#include "linuxsnapshots.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

#include <unistd.h>

#include "snapshots/snapshotparsers.h"
#include "system/linuxplatform.h"

using namespace Qt::Literals::StringLiterals;

namespace {

QString joinPath(const QString &folder, const QString &rest)
{
    if (rest.isEmpty())
        return folder;
    if (folder.endsWith(u'/'))
        return folder + (rest.startsWith(u'/') ? rest.mid(1) : rest);
    return folder + (rest.startsWith(u'/') ? rest : u'/' + rest);
}

// A word of a command the user types: quoted only when it has to be.
QString shellWord(const QString &text)
{
    static const QRegularExpression plain(u"^[A-Za-z0-9/._@:=,+-]+$"_s);
    return plain.match(text).hasMatch() ? text : u"'"_s + shellQuoted(text) + u"'"_s;
}

QList<MountInfoEntry> mountsOf(const QList<MountInfoEntry> &mounts, const QString &fileSystem, const QString &source)
{
    QList<MountInfoEntry> found;
    for (const MountInfoEntry &mount : mounts) {
        if (mount.fileSystem == fileSystem && mount.source == source)
            found.append(mount);
    }
    return found;
}

// The name a user knows the volume on `device` by; without a discovered
// volume, the last folder of its mount point.
QString volumeNameOf(const LinuxSnapshotSources &sources, const QString &device, const QString &mountPoint)
{
    for (const VolumeInfo &volume : sources.volumes) {
        if (volume.device == device && !volume.name.isEmpty())
            return volume.name;
    }
    if (mountPoint == u"/"_s || mountPoint.isEmpty())
        return u"Root"_s;
    return QDir(mountPoint).dirName();
}

// The mount holding `path`: the one with the longest mount point above it.
std::optional<MountInfoEntry> mountHolding(const QList<MountInfoEntry> &mounts, const QString &path)
{
    std::optional<MountInfoEntry> best;
    for (const MountInfoEntry &mount : mounts) {
        const bool above = mount.mountPoint == u"/"_s || path == mount.mountPoint
            || path.startsWith(mount.mountPoint + u'/');
        if (above && (!best || mount.mountPoint.size() > best->mountPoint.size()))
            best = mount;
    }
    return best;
}

QString snapperFolder(const SnapperSnapshot &snapshot)
{
    return joinPath(snapshot.subvolume, u".snapshots/%1/snapshot"_s.arg(snapshot.number));
}

bool hasLvmDevice(const QString &sysRoot)
{
    // Every device-mapper device names its maker in dm/uuid ("LVM-...",
    // "CRYPT-..."), readable by any user: without an LVM one, lvs has
    // nothing to report and, run by a user, only fails on its lock file.
    const QDir block(sysRoot + u"/class/block"_s);
    const QStringList names = block.entryList({u"dm-*"_s}, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        QFile uuid(block.filePath(name) + u"/dm/uuid"_s);
        if (uuid.open(QIODevice::ReadOnly) && uuid.readAll().startsWith("LVM-"))
            return true;
    }
    return false;
}

} // namespace

QString snapshotKindName(SnapshotKind kind)
{
    switch (kind) {
    case SnapshotKind::apfs:
        return u"APFS"_s;
    case SnapshotKind::btrfs:
        return u"btrfs"_s;
    case SnapshotKind::snapper:
        return u"Snapper"_s;
    case SnapshotKind::lvm:
        return u"LVM"_s;
    case SnapshotKind::zfs:
        return u"ZFS"_s;
    }
    return QString();
}

void sortNewestFirst(QList<SnapshotEntry> &entries)
{
    std::stable_sort(entries.begin(), entries.end(), [](const SnapshotEntry &a, const SnapshotEntry &b) {
        if (!b.info.date)
            return a.info.date.has_value();
        return a.info.date && *a.info.date > *b.info.date;
    });
}

LinuxSnapshotSources currentLinuxSnapshotSources(Platform &platform, const QString &sysRoot, const QString &snapperConfigs)
{
    LinuxSnapshotSources sources;
    QFile table(u"/proc/self/mountinfo"_s);
    if (table.open(QIODevice::ReadOnly))
        sources.mounts = parseMountInfo(table.readAll());
    sources.volumes = platform.discoverVolumes();
    sources.hasLvmVolumes = hasLvmDevice(sysRoot);
    sources.hasSnapperConfigs =
        !QDir(snapperConfigs).entryList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty();
    sources.asRoot = ::geteuid() == 0;
    return sources;
}

QStringList btrfsFolders(const QString &path, const QList<MountInfoEntry> &fileSystemMounts)
{
    const QString absolute = u'/' + path;
    QStringList folders;
    for (const MountInfoEntry &mount : fileSystemMounts) {
        const QString root = mount.root.endsWith(u'/') && mount.root.size() > 1 ? mount.root.chopped(1) : mount.root;
        if (root == u"/"_s)
            folders.append(joinPath(mount.mountPoint, absolute));
        else if (absolute == root)
            folders.append(mount.mountPoint);
        else if (absolute.startsWith(root + u'/'))
            folders.append(joinPath(mount.mountPoint, absolute.mid(root.size())));
    }
    std::stable_sort(folders.begin(), folders.end(),
                     [](const QString &a, const QString &b) { return a.size() < b.size(); });
    folders.removeDuplicates();
    return folders;
}

QStringList snapshotToolArguments(SnapshotTool tool, const QString &mountPoint, bool asRoot)
{
    switch (tool) {
    // -a names every path from the top-level subvolume, whichever subvolume
    // is mounted where the file system is listed.
    case SnapshotTool::btrfsSnapshots:
        return {u"subvolume"_s, u"list"_s, u"-a"_s, u"-s"_s, u"-u"_s, u"-q"_s, mountPoint};
    case SnapshotTool::btrfsSubvolumes:
        return {u"subvolume"_s, u"list"_s, u"-a"_s, u"-u"_s, u"-q"_s, mountPoint};
    case SnapshotTool::snapper: {
        QStringList arguments = {u"--jsonout"_s, u"list"_s, u"--all-configs"_s, u"--disable-used-space"_s};
        // Root reads the configs itself; a user goes through snapperd,
        // which admits those its configs allow.
        if (asRoot)
            arguments.prepend(u"--no-dbus"_s);
        return arguments;
    }
    case SnapshotTool::lvs:
        return {u"--reportformat"_s, u"json"_s, u"-o"_s, u"lv_name,lv_uuid,lv_time,origin,vg_name,lv_attr,lv_path"_s};
    case SnapshotTool::zfs:
        return {u"list"_s, u"-H"_s, u"-p"_s, u"-t"_s, u"snapshot"_s, u"-o"_s, u"name,guid,creation"_s, u"-s"_s,
                u"creation"_s};
    }
    return {};
}

QList<SnapshotToolRun> linuxSnapshotRuns(const LinuxSnapshotSources &sources, const ToolPaths &tools)
{
    QList<SnapshotToolRun> runs;
    if (!tools.btrfs.isEmpty()) {
        // One listing per file system, through the first mount a user
        // would recognise.
        QSet<QString> listed;
        for (const MountInfoEntry &mount : sources.mounts) {
            if (mount.fileSystem != u"btrfs"_s || !isUserVolumeMount(mount) || listed.contains(mount.source))
                continue;
            listed.insert(mount.source);
            for (const SnapshotTool tool : {SnapshotTool::btrfsSnapshots, SnapshotTool::btrfsSubvolumes})
                runs.append({tool, tools.btrfs, snapshotToolArguments(tool, mount.mountPoint, sources.asRoot), mount.source});
        }
    }
    const bool hasZfsMount = std::any_of(sources.mounts.begin(), sources.mounts.end(),
                                         [](const MountInfoEntry &mount) { return mount.fileSystem == u"zfs"_s; });
    const QList<std::pair<SnapshotTool, QString>> others = {
        {SnapshotTool::snapper, sources.hasSnapperConfigs ? tools.snapper : QString()},
        {SnapshotTool::lvs, sources.hasLvmVolumes ? tools.lvs : QString()},
        {SnapshotTool::zfs, hasZfsMount ? tools.zfs : QString()},
    };
    for (const auto &[tool, program] : others) {
        if (!program.isEmpty())
            runs.append({tool, program, snapshotToolArguments(tool, QString(), sources.asRoot), QString()});
    }
    return runs;
}

SnapshotListing assembleLinuxSnapshots(const LinuxSnapshotSources &sources, const QList<SnapshotToolRun> &runs,
                                       const QList<SnapshotToolOutput> &outputs, const QTimeZone &zone)
{
    SnapshotListing listing;
    QList<SnapshotEntry> btrfsEntries;
    // Every folder each btrfs snapshot can be reached through, to recognise
    // the ones Snapper reports as well.
    QHash<QString, qsizetype> btrfsByFolder;
    QList<SnapshotEntry> others;

    // The subvolume lists of each file system, by device.
    QHash<QString, QList<BtrfsSubvolume>> subvolumesOf;
    for (qsizetype i = 0; i < runs.size() && i < outputs.size(); ++i) {
        if (runs[i].tool == SnapshotTool::btrfsSubvolumes && outputs[i].ok)
            subvolumesOf.insert(runs[i].device, parseBtrfsSubvolumeList(outputs[i].text, zone));
    }

    for (qsizetype i = 0; i < runs.size(); ++i) {
        const SnapshotToolRun &run = runs[i];
        const SnapshotToolOutput output = i < outputs.size() ? outputs[i] : SnapshotToolOutput{};
        if (!output.ok) {
            listing.failed = true;
            continue;
        }
        switch (run.tool) {
        case SnapshotTool::btrfsSubvolumes:
            break;
        case SnapshotTool::btrfsSnapshots: {
            const QList<MountInfoEntry> mounts = mountsOf(sources.mounts, u"btrfs"_s, run.device);
            const QString listedAt = run.arguments.isEmpty() ? QString() : run.arguments.last();
            QHash<QString, QString> pathByUuid;
            for (const BtrfsSubvolume &subvolume : subvolumesOf.value(run.device))
                pathByUuid.insert(subvolume.uuid, subvolume.path);
            const QList<BtrfsSubvolume> snapshots = parseBtrfsSubvolumeList(output.text, zone);
            for (const BtrfsSubvolume &snapshot : snapshots) {
                SnapshotEntry entry;
                entry.kind = SnapshotKind::btrfs;
                entry.info.name = snapshot.path;
                entry.info.snapshotUUID = snapshot.uuid;
                entry.info.date = snapshot.created;
                entry.info.volumeName = volumeNameOf(sources, run.device, listedAt);
                entry.info.volumeDevice = run.device;
                const QStringList folders = btrfsFolders(snapshot.path, mounts);
                if (!folders.isEmpty())
                    entry.folder = folders.first();
                if (pathByUuid.contains(snapshot.parentUuid)) {
                    const QStringList live = btrfsFolders(pathByUuid.value(snapshot.parentUuid), mounts);
                    if (!live.isEmpty())
                        entry.liveFolder = live.first();
                }
                entry.manualCommand = u"mount -o ro,subvol=%1 %2 /mnt"_s.arg(shellWord(snapshot.path), shellWord(run.device));
                for (const QString &folder : folders)
                    btrfsByFolder.insert(folder, btrfsEntries.size());
                btrfsEntries.append(entry);
            }
            break;
        }
        case SnapshotTool::snapper: {
            const QList<SnapperSnapshot> snapshots = parseSnapperList(output.text, zone);
            for (const SnapperSnapshot &snapshot : snapshots) {
                SnapshotEntry entry;
                entry.kind = SnapshotKind::snapper;
                entry.info.name = u"%1 #%2"_s.arg(snapshot.config, QString::number(snapshot.number));
                if (!snapshot.description.isEmpty())
                    entry.info.name += u" – "_s + snapshot.description;
                entry.info.date = snapshot.date;
                const std::optional<MountInfoEntry> mount = mountHolding(sources.mounts, snapshot.subvolume);
                entry.info.volumeDevice = mount ? mount->source : QString();
                entry.info.volumeName = volumeNameOf(sources, entry.info.volumeDevice, mount ? mount->mountPoint : QString());
                entry.folder = snapperFolder(snapshot);
                entry.liveFolder = snapshot.subvolume;
                entry.manualCommand = u"snapper -c %1 list"_s.arg(shellWord(snapshot.config));
                others.append(entry);
            }
            break;
        }
        case SnapshotTool::lvs: {
            const QList<LvmSnapshot> snapshots = parseLvsSnapshots(output.text);
            for (const LvmSnapshot &snapshot : snapshots) {
                SnapshotEntry entry;
                entry.kind = SnapshotKind::lvm;
                entry.info.name = snapshot.name;
                entry.info.snapshotUUID = snapshot.uuid;
                entry.info.date = snapshot.created;
                entry.info.volumeName = snapshot.volumeGroup + u'/' + snapshot.origin;
                entry.info.volumeDevice = u"/dev/"_s + snapshot.volumeGroup + u'/' + snapshot.origin;
                entry.manualCommand = u"mount -o ro %1 /mnt"_s.arg(shellWord(snapshot.path));
                others.append(entry);
            }
            break;
        }
        case SnapshotTool::zfs: {
            const QList<ZfsSnapshot> snapshots = parseZfsSnapshots(output.text);
            for (const ZfsSnapshot &snapshot : snapshots) {
                SnapshotEntry entry;
                entry.kind = SnapshotKind::zfs;
                entry.info.name = snapshot.dataset + u'@' + snapshot.name;
                entry.info.snapshotUUID = snapshot.guid;
                entry.info.date = snapshot.created;
                entry.info.volumeName = snapshot.dataset;
                entry.info.volumeDevice = snapshot.dataset;
                const QList<MountInfoEntry> mounts = mountsOf(sources.mounts, u"zfs"_s, snapshot.dataset);
                if (!mounts.isEmpty()) {
                    // The hidden .zfs folder opens each snapshot on first
                    // access, read-only.
                    entry.liveFolder = mounts.first().mountPoint;
                    entry.folder = joinPath(entry.liveFolder, u".zfs/snapshot/"_s + snapshot.name);
                }
                entry.manualCommand = u"zfs list -t snapshot %1"_s.arg(shellWord(snapshot.dataset));
                others.append(entry);
            }
            break;
        }
        }
    }

    // A Snapper snapshot is a btrfs snapshot too: keep Snapper's name and
    // description, take btrfs's UUID, and list it once.
    QSet<qsizetype> merged;
    for (SnapshotEntry &entry : others) {
        if (entry.kind != SnapshotKind::snapper)
            continue;
        const auto found = btrfsByFolder.constFind(entry.folder);
        if (found == btrfsByFolder.constEnd())
            continue;
        const SnapshotEntry &twin = btrfsEntries.at(found.value());
        entry.info.snapshotUUID = twin.info.snapshotUUID;
        if (!entry.info.date)
            entry.info.date = twin.info.date;
        merged.insert(found.value());
    }
    for (qsizetype i = 0; i < btrfsEntries.size(); ++i) {
        if (!merged.contains(i))
            listing.entries.append(btrfsEntries.at(i));
    }
    listing.entries += others;
    sortNewestFirst(listing.entries);
    return listing;
}

int snapshotsOfVolume(SnapshotTool tool, const QString &output, const VolumeInfo &volume)
{
    // Only the number is wanted, so the zone the times are read in does not
    // matter.
    const QTimeZone zone = QTimeZone::utc();
    switch (tool) {
    case SnapshotTool::btrfsSnapshots:
        return int(parseBtrfsSubvolumeList(output, zone).size());
    case SnapshotTool::snapper: {
        const QList<SnapperSnapshot> snapshots = parseSnapperList(output, zone);
        return int(std::count_if(snapshots.begin(), snapshots.end(), [&](const SnapperSnapshot &snapshot) {
            return QDir::cleanPath(snapshot.subvolume) == QDir::cleanPath(volume.mountPoint);
        }));
    }
    case SnapshotTool::lvs: {
        // The volume is mounted from /dev/mapper/VG-LV or /dev/dm-N, lvs
        // names it /dev/VG/LV: all are links to one kernel node.
        const QString node = kernelNode(volume.device);
        const QList<LvmSnapshot> snapshots = parseLvsSnapshots(output);
        return int(std::count_if(snapshots.begin(), snapshots.end(), [&](const LvmSnapshot &snapshot) {
            return kernelNode(u"/dev/"_s + snapshot.volumeGroup + u'/' + snapshot.origin) == node;
        }));
    }
    case SnapshotTool::btrfsSubvolumes:
    case SnapshotTool::zfs:
        break;
    }
    return 0;
}

QString elevatedListingScript(const QList<SnapshotToolRun> &runs, const QString &nonce)
{
    // The tools print local times; under pkexec the zone is the system's,
    // not necessarily the user's, so they are asked for UTC instead.
    QString script = u"export TZ=UTC0\n"_s;
    for (qsizetype i = 0; i < runs.size(); ++i) {
        QString command = u"'"_s + shellQuoted(runs[i].program) + u"'"_s;
        for (const QString &argument : runs[i].arguments)
            command += u" '"_s + shellQuoted(argument) + u"'"_s;
        script += u"printf '%s\\n' '@@%1 %2'; %3 </dev/null 2>/dev/null; printf '\\n%s %d\\n' '@@%1-END' \"$?\"\n"_s
                      .arg(nonce, QString::number(i), command);
    }
    return script;
}

QList<SnapshotToolOutput> splitElevatedListing(const QString &output, qsizetype runCount, const QString &nonce)
{
    QList<SnapshotToolOutput> outputs(runCount);
    const QString endMarker = u"\n@@"_s + nonce + u"-END "_s;
    for (qsizetype i = 0; i < runCount; ++i) {
        const QString begin = u"@@%1 %2\n"_s.arg(nonce, QString::number(i));
        qsizetype start = output.startsWith(begin) ? 0 : output.indexOf(u'\n' + begin);
        if (start < 0)
            continue;
        if (start > 0)
            ++start;
        start += begin.size();
        const qsizetype end = output.indexOf(endMarker, start);
        if (end < 0)
            continue;
        const qsizetype statusStart = end + endMarker.size();
        const qsizetype statusEnd = output.indexOf(u'\n', statusStart);
        bool ok = false;
        const int status = output.mid(statusStart, statusEnd < 0 ? -1 : statusEnd - statusStart).toInt(&ok);
        outputs[i].ok = ok && status == 0;
        outputs[i].text = output.mid(start, end - start);
    }
    return outputs;
}
