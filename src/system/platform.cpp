#include "platform.h"

#include <QStandardPaths>

#include <algorithm>

#include "model/bytecount.h"
#include "model/tabseparated.h"
#include "system/linuxplatform.h"
#include "system/pipedprocess.h"
#include "system/macplatform.h"

using namespace Qt::Literals::StringLiterals;

ToolPaths ToolPaths::defaultsFor(PlatformKind kind)
{
    ToolPaths tools;
    if (kind == PlatformKind::macOS) {
        tools.osascript = u"/usr/bin/osascript"_s;
        tools.diskutil = u"/usr/sbin/diskutil"_s;
        tools.tmutil = u"/usr/bin/tmutil"_s;
        tools.mdfind = u"/usr/bin/mdfind"_s;
        return tools;
    }
    // Looked up in the system folders only: a program that runs things as
    // root must not pick up whatever the user's PATH offers first.
    const QStringList trusted = {u"/usr/bin"_s, u"/usr/sbin"_s, u"/bin"_s, u"/sbin"_s};
    const auto find = [&](const QString &name) { return QStandardPaths::findExecutable(name, trusted); };
    tools.pkexec = u"/usr/bin/pkexec"_s;
    // perl-base is essential on Debian and its derivatives: always there.
    tools.perl = u"/usr/bin/perl"_s;
    tools.findmnt = find(u"findmnt"_s);
    tools.lsblk = find(u"lsblk"_s);
    tools.blkid = find(u"blkid"_s);
    tools.btrfs = find(u"btrfs"_s);
    tools.snapper = find(u"snapper"_s);
    tools.lvs = find(u"lvs"_s);
    tools.zfs = find(u"zfs"_s);
    tools.locate = find(u"plocate"_s);
    if (tools.locate.isEmpty())
        tools.locate = find(u"locate"_s);
    return tools;
}

QString PlatformTexts::deviceBusyMessage(const QString &path) const
{
    // One arg() call: a "%1" inside the path is not expanded again.
    return deviceBusyTemplate.arg(path);
}

PlatformTexts PlatformTexts::macOS()
{
    PlatformTexts t;
    t.rawAccessPrivileges =
        u"\n\n⚠️ Raw device access requires elevated privileges:\n\n"
        "1️⃣ Full Disk Access\n"
        "   System Settings → Privacy & Security → Full Disk Access\n"
        "   → Add this app\n\n"
        "2️⃣ Root Privileges Required\n"
        "   Raw disk nodes (/dev/rdisk*) require administrator (root) access.\n"
        "   This is a macOS security restriction that apps cannot bypass.\n\n"
        "3️⃣ Internal Drive + SIP\n"
        "   Internal APFS drives are additionally protected by System Integrity Protection.\n\n"
        "💡 Recommendation:\n"
        "• Use \"Directory Scan\" mode for internal drives (no special permissions needed)\n"
        "• External USB/SD drives may work with Full Disk Access alone\n"
        "• For deep raw recovery, use \"diskutil\" or professional recovery tools run as root"_s;
    t.deviceBusyTemplate =
        u"Cannot open %1: Device busy\n\nThe volume may need to be unmounted first.\n"
        "Try: diskutil unmount %1 in Terminal.\n\n"
        "💡 Tip: Using \"Directory Scan\" mode does not require unmounting."_s;
    t.deletedFilesNotice = {
        u"Deleted Files — Recommended Mode"_s,
        u"Finds deleted files using APFS snapshots and Trash. Works on encrypted drives without SIP changes."_s,
        {u"Scans Trash folder for recently deleted files"_s,
         u"Compares APFS snapshots to find files deleted since last backup"_s,
         u"macOS will ask for admin password to mount snapshot (read-only)"_s},
        u"Requires Time Machine enabled (for snapshots). External drives may need: tmutil localsnapshot /Volumes/NAME"_s,
    };
    t.rawDeviceNotice = {
        u"Volume Scan — Administrator Password"_s,
        u"Volume Scan reads raw device data to find deleted files. When you start a scan, macOS will ask for your "
        "administrator password. No SIP disable is needed."_s,
        {u"Click START DEEP SCAN → macOS will show a password dialog"_s,
         u"Enter your Mac login password to allow raw device reading"_s,
         u"The app will scan the device for deleted file fragments"_s},
        u"Safe: Only reads from the device. No files are modified. No SIP change required."_s,
    };
    t.deletedFilesModeDescription = u"Find deleted files via Trash + APFS snapshots (recommended)"_s;
    t.checkingSnapshotsStatus = u"Phase 2: Checking APFS snapshots..."_s;
    t.snapshotsFoundNote = u"Note: Direct snapshot mounting is restricted by macOS security."_s;
    t.searchingIndexStatus = u"Searching Spotlight index for recently known files..."_s;
    t.indexUnavailable = u"Could not search Spotlight index"_s;
    t.indexHitsFoundTemplate = u"Found %1 recently deleted files from Spotlight index"_s;
    t.deletedFilesTotalsTemplate = u"Found %1 deleted files (%2 in Trash, %3 from snapshots)"_s;
    t.noDeletedFilesTips =
        u"No deleted files found.\n\n💡 Tips:\n• Trash is empty\n• No Time Machine snapshots available\n"
        "• Enable Time Machine for better deleted file detection\n• For external drives, try Volume Scan mode"_s;
    t.trashAccessDenied =
        u"Could not access Trash. Please grant Full Disk Access in System Settings → Privacy & Security."_s;
    t.trashSubtitle = u"Recover files from the macOS Trash"_s;
    t.snapshotListFailed = u"Failed to list APFS snapshots. You may need to run with elevated privileges."_s;
    t.fullDiskAccessTitle = u"Full Disk Access"_s;
    t.snapshotsSubtitle = u"APFS Snapshots"_s;
    t.snapshotsTitle = u"APFS SNAPSHOTS"_s;
    t.snapshotsScreenSubtitle = u"Browse and recover files from APFS volume snapshots"_s;
    t.snapshotsEmptyHint = u"APFS snapshots may require elevated privileges to list.\nTry running with administrator access."_s;
    t.snapshotManualAccessNote = u"Snapshot browsing requires administrator privileges.\nUse '%1' in Terminal for manual access."_s;
    return t;
}

PlatformTexts PlatformTexts::gnuLinux()
{
    PlatformTexts t;
    t.rawAccessPrivileges =
        u"\n\n⚠️ Raw device access requires elevated privileges:\n\n"
        "1️⃣ Administrator Password\n"
        "   Start the scan and confirm the password dialog (pkexec)\n"
        "   → Or run this app as root\n\n"
        "2️⃣ Root Privileges Required\n"
        "   Block devices (/dev/sdX, /dev/nvmeXnY) require administrator (root) access.\n"
        "   This is a Linux permission rule that apps cannot bypass.\n\n"
        "3️⃣ Disk Group + Sandboxes\n"
        "   Members of the \"disk\" group can read disks (this is root-equivalent); Flatpak, AppArmor or SELinux may still block it.\n\n"
        "💡 Recommendation:\n"
        "• Use \"Directory Scan\" mode for internal drives (no special permissions needed)\n"
        "• External USB/SD drives may work for members of the \"disk\" group alone\n"
        "• For deep raw recovery, use \"lsblk\" to find the device and run professional recovery tools as root"_s;
    t.deviceBusyTemplate =
        u"Cannot open %1: Device busy\n\nThe volume may need to be unmounted first.\n"
        "Try: umount %1 in a terminal.\n\n"
        "💡 Tip: Using \"Directory Scan\" mode does not require unmounting."_s;
    t.deletedFilesNotice = {
        u"Deleted Files — Recommended Mode"_s,
        u"Finds deleted files using the Trash, the locate index and btrfs/Snapper snapshots. Works on encrypted drives "
        "without security changes."_s,
        {u"Scans Trash folders for recently deleted files"_s,
         u"Looks up files the locate index still knows and counts btrfs, Snapper and LVM snapshots"_s,
         u"Linux asks for your administrator password (pkexec) only for a Trash folder you can't read"_s},
        u"Requires btrfs, Snapper or LVM (for snapshots). Create one with: snapper create, or btrfs subvolume snapshot -r"_s,
    };
    t.rawDeviceNotice = {
        u"Volume Scan — Administrator Password"_s,
        u"Volume Scan reads raw device data to find deleted files. When you start a scan, Linux will ask for your "
        "administrator password (pkexec). No security change is needed."_s,
        {u"Click START DEEP SCAN → your system will show a password dialog"_s,
         u"Enter your administrator password to allow raw device reading"_s,
         u"The app will scan the device for deleted file fragments"_s},
        u"Safe: Only reads from the device. No files are modified. No security change required."_s,
    };
    t.deletedFilesModeDescription = u"Find deleted files via Trash + btrfs/Snapper snapshots (recommended)"_s;
    t.checkingSnapshotsStatus = u"Phase 2: Checking file-system snapshots..."_s;
    t.snapshotsFoundNote = u"Note: Snapshots are only counted here; they are not mounted."_s;
    t.searchingIndexStatus = u"Searching locate index for recently known files..."_s;
    t.indexUnavailable = u"Could not search locate index"_s;
    t.indexHitsFoundTemplate = u"Found %1 recently deleted files from locate index"_s;
    // The macOS line calls the index hits "from snapshots", which they are
    // not; here they are named for where they came from.
    t.deletedFilesTotalsTemplate = u"Found %1 deleted files (%2 in Trash, %3 from the locate index)"_s;
    t.noDeletedFilesTips =
        u"No deleted files found.\n\n💡 Tips:\n• Trash is empty\n• No btrfs or Snapper snapshots available\n"
        "• Enable Snapper (or btrfs snapshots) for better deleted file detection\n• For external drives, try Volume Scan mode"_s;
    t.trashAccessDenied =
        u"Could not access Trash. Please install pkexec (polkit) or run as root to read protected Trash folders."_s;
    t.trashSubtitle = u"Recover files from the Linux Trash"_s;
    t.snapshotListFailed = u"Failed to list file-system snapshots. You may need to run with elevated privileges."_s;
    t.fullDiskAccessTitle = u"Raw Disk Access"_s;
    t.snapshotsSubtitle = u"Volume Snapshots"_s;
    t.snapshotsTitle = u"VOLUME SNAPSHOTS"_s;
    t.snapshotsScreenSubtitle = u"Browse and recover files from btrfs, Snapper, LVM and ZFS snapshots"_s;
    t.snapshotsEmptyHint = u"Volume snapshots may require elevated privileges to list.\nTry running with administrator access."_s;
    t.snapshotManualAccessNote = u"Snapshot browsing requires administrator privileges.\nUse '%1' in a terminal for manual access."_s;
    t.rawDeviceAccessNote =
        u"Volume Scan asks for your administrator password (pkexec) for each device it reads, or run the program as "
        "root. The \"disk\" group also grants it, but lets every program you run read and write all disks: it is as "
        "good as root."_s;
    return t;
}

namespace {
std::shared_ptr<Platform> &runningPlatformSlot()
{
    static std::shared_ptr<Platform> platform =
#ifdef Q_OS_MACOS
        makePlatform(PlatformKind::macOS);
#else
        makePlatform(PlatformKind::gnuLinux);
#endif
    return platform;
}
} // namespace

std::shared_ptr<Platform> runningPlatform()
{
    return runningPlatformSlot();
}

void replaceRunningPlatform(std::shared_ptr<Platform> platform)
{
    runningPlatformSlot() = std::move(platform);
}

qint64 Platform::deviceSize(const QString &) const
{
    return 0;
}

namespace {
class ForwardingAdministrator final : public AdministratorLauncher
{
public:
    explicit ForwardingAdministrator(std::shared_ptr<Platform> platform) : m_platform(std::move(platform)) {}

    ToolResult runShell(const QString &command, StreamMode mode) override
    {
        return m_platform->administrator().runShell(command, mode);
    }
    std::unique_ptr<DetachedAdministratorRun> startDetached(const QString &scriptPath, const QStringList &arguments,
                                                            QString *error) override
    {
        return m_platform->administrator().startDetached(scriptPath, arguments, error);
    }
    bool canStartPiped() const override { return m_platform->administrator().canStartPiped(); }
    std::unique_ptr<PipedProcess> startPiped(const QString &program, const QStringList &arguments, int errorFd,
                                             QString *error) override
    {
        return m_platform->administrator().startPiped(program, arguments, errorFd, error);
    }

private:
    std::shared_ptr<Platform> m_platform;
};
} // namespace

AdministratorLauncherFactory administratorsOf(std::shared_ptr<Platform> platform)
{
    return [platform = std::move(platform)] { return std::make_unique<ForwardingAdministrator>(platform); };
}

std::unique_ptr<Platform> makePlatform(PlatformKind kind)
{
    return makePlatform(kind, ToolPaths::defaultsFor(kind));
}

std::unique_ptr<Platform> makePlatform(PlatformKind kind, const ToolPaths &tools, std::shared_ptr<CommandRunner> runner)
{
    if (kind == PlatformKind::macOS)
        return makeMacPlatform(tools, std::move(runner));
    return makeLinuxPlatform(tools, std::move(runner));
}

void sortExternalFirst(QList<VolumeInfo> &volumes)
{
    std::stable_sort(volumes.begin(), volumes.end(),
                     [](const VolumeInfo &a, const VolumeInfo &b) { return a.isExternal && !b.isExternal; });
}

namespace {

QStringList volumeFields(const VolumeInfo &volume)
{
    QStringList flags;
    if (volume.isExternal)
        flags.append(u"external"_s);
    if (volume.isRemovable)
        flags.append(u"removable"_s);
    const QString space = volume.isMounted()
        ? formatByteCount(volume.freeSize) + u" free / "_s + formatByteCount(volume.totalSize)
        : formatByteCount(volume.deviceSize > 0 ? volume.deviceSize : volume.totalSize);
    const QString model = volume.backingFile.isEmpty() ? volume.model : volume.backingFile;
    return {tabSeparatedField(volume.name), tabSeparatedField(volume.mountPoint), tabSeparatedField(volume.device), tabSeparatedField(volume.fileSystem), space,
            flags.join(u", "_s), volume.deviceKind,        tabSeparatedField(model),         tabSeparatedField(volume.label)};
}

} // namespace

QString formatVolumeList(const QList<VolumeInfo> &volumes)
{
    QString text;
    for (const VolumeInfo &volume : volumes)
        text += volumeFields(volume).join(u'\t') + u'\n';
    return text;
}

QString formatVolumeTable(const QList<VolumeInfo> &volumes)
{
    QList<QStringList> rows = {{u"NAME"_s, u"MOUNT POINT"_s, u"DEVICE"_s, u"FILE SYSTEM"_s, u"SPACE"_s, u"FLAGS"_s,
                                u"KIND"_s, u"MODEL / IMAGE"_s, u"LABEL"_s}};
    for (const VolumeInfo &volume : volumes) {
        QStringList fields = volumeFields(volume);
        for (QString &text : fields) {
            if (text.isEmpty())
                text = u"-"_s;
        }
        rows.append(fields);
    }
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList &row : std::as_const(rows)) {
        for (qsizetype column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], row[column].size());
    }
    QString text;
    for (const QStringList &row : std::as_const(rows)) {
        QString line;
        for (qsizetype column = 0; column < row.size(); ++column)
            line += column + 1 < row.size() ? row[column].leftJustified(widths[column] + 2) : row[column];
        text += line + u'\n';
    }
    return text;
}
