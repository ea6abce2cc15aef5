#include "linuxplatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <QSet>

#include <algorithm>
#include <cstring>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "system/blockdevices.h"
#include "system/detachedprocess.h"
#include "system/pipedprocess.h"

#ifdef Q_OS_LINUX
#include <linux/fs.h>
#endif

using namespace Qt::Literals::StringLiterals;

QStringList pkexecShellArguments(const QString &shell, const QString &command, StreamMode mode)
{
    QString text = u"printf '%1\\n'; "_s.arg(QLatin1String(elevationMarker));
    if (mode == StreamMode::discardAll)
        text += u"exec >/dev/null 2>&1; "_s;
    return {shell, u"-c"_s, text + command};
}

ToolResult interpretElevatedRun(const RawToolResult &raw)
{
    ToolResult result;
    result.launched = raw.launched;
    result.startError = raw.startError;
    if (!raw.launched)
        return result;

    const QByteArray markerLine = QByteArray(elevationMarker) + '\n';
    // In the combined stream pkexec's own messages could come first, so the
    // marker counts at the start of any line.
    qsizetype at = raw.output.startsWith(markerLine) ? 0 : raw.output.indexOf(QByteArray('\n' + markerLine));
    if (at < 0) {
        result.output = QString();
        result.exitStatus = raw.exitStatus != 0 ? raw.exitStatus : 127;
        return result;
    }
    if (at > 0)
        at += 1;
    result.output = decodeUtf8(raw.output.mid(at + markerLine.size()));
    result.exitStatus = raw.exitStatus;
    return result;
}

QString LinuxAdministratorLauncher::launchFailure(const QString &error) const
{
    // A minimal installation may lack pkexec; "No such file or directory"
    // alone would not tell the user what to do.
    if (!m_config.runningAsRoot && !QFileInfo::exists(m_config.pkexec))
        return u"%1 is not installed, so administrator rights can't be asked for. Install it with "
               u"\"sudo apt install pkexec\"."_s.arg(m_config.pkexec);
    return error;
}

ToolResult LinuxAdministratorLauncher::runShell(const QString &command, StreamMode mode)
{
    if (m_config.runningAsRoot)
        return m_runner->run(m_config.shell, {u"-c"_s, command}, mode);
    const StreamMode pkexecMode = mode == StreamMode::discardAll ? StreamMode::outputOnly : mode;
    ToolResult result =
        interpretElevatedRun(m_runner->runRaw(m_config.pkexec, pkexecShellArguments(m_config.shell, command, mode), pkexecMode));
    if (!result.launched)
        result.startError = launchFailure(result.startError.value_or(QString()));
    return result;
}

std::unique_ptr<DetachedAdministratorRun> LinuxAdministratorLauncher::startDetached(const QString &scriptPath,
                                                                                    const QStringList &arguments,
                                                                                    QString *error)
{
    // The script lies in a folder this user's processes can write to, and the
    // password dialog may stay open for minutes: root must not run whatever
    // the file holds by then. It is read once, now, and handed to bash as
    // its command text; the helper sees the same positional arguments.
    QFile script(scriptPath);
    if (!script.open(QIODevice::ReadOnly)) {
        if (error)
            *error = script.errorString();
        return nullptr;
    }
    const QStringList bashArguments = QStringList{u"-c"_s, QString::fromUtf8(script.readAll()), u"quorvel-helper"_s} + arguments;
    if (m_config.runningAsRoot)
        return startDetachedProcess(m_config.bash, bashArguments, error);
    std::unique_ptr<DetachedAdministratorRun> run =
        startDetachedProcess(m_config.pkexec, QStringList{m_config.bash} + bashArguments, error);
    if (!run && error)
        *error = launchFailure(*error);
    return run;
}

std::unique_ptr<PipedProcess> LinuxAdministratorLauncher::startPiped(const QString &program, const QStringList &arguments,
                                                                   int errorFd, QString *error)
{
    if (m_config.runningAsRoot)
        return PipedProcess::start(program, arguments, error, errorFd);
    std::unique_ptr<PipedProcess> process = PipedProcess::start(m_config.pkexec, QStringList{program} + arguments, error, errorFd);
    if (!process && error)
        *error = launchFailure(*error);
    return process;
}

namespace {

QString readSysAttribute(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(file.readAll()).trimmed();
}

} // namespace

qint64 blockDeviceSize(const QString &device, const QString &sysRoot)
{
    // /dev/mapper/NAME and /dev/disk/by-* are links to the kernel's node.
    const QString node = QFileInfo(device).canonicalFilePath();
    if (node.isEmpty())
        return 0;
    bool ok = false;
    // The kernel counts in 512-byte sectors whatever the device's block size.
    const qint64 sectors = readSysAttribute(sysRoot + u"/class/block/"_s + QFileInfo(node).fileName() + u"/size"_s).toLongLong(&ok);
    return ok && sectors > 0 ? sectors * 512 : 0;
}

BlockDeviceFlags blockDeviceFlags(const QString &device, const QString &sysRoot)
{
    BlockDeviceFlags flags;
    // /dev/mapper/NAME and /dev/disk/by-*/ are links to the kernel's name.
    const QString resolved = QFileInfo(device).canonicalFilePath();
    const QString name = QFileInfo(resolved.isEmpty() ? device : resolved).fileName();
    const QString classEntry = sysRoot + u"/class/block/"_s + name;
    QString devicePath = QFileInfo(classEntry).canonicalFilePath();
    if (name.isEmpty() || devicePath.isEmpty())
        return flags;
    // A partition's folder sits inside its disk's folder.
    if (QFileInfo::exists(classEntry + u"/partition"_s))
        devicePath = QFileInfo(devicePath).absolutePath();

    // A device-mapper volume (LUKS, LVM) sits on other block devices: it is
    // as removable and external as what it is made of.
    const QStringList slaves = QDir(devicePath + u"/slaves"_s).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    if (!slaves.isEmpty()) {
        for (const QString &slave : slaves) {
            const BlockDeviceFlags below = blockDeviceFlags(u"/dev/"_s + slave, sysRoot);
            flags.isRemovable = flags.isRemovable || below.isRemovable;
            flags.isExternal = flags.isExternal || below.isExternal;
        }
        return flags;
    }

    flags.isRemovable = readSysAttribute(devicePath + u"/removable"_s) == u"1"_s;
    // lsblk's HOTPLUG: the disk or a device above it on its bus says
    // "removable" (a USB port, an SD slot); TRAN usb: the path runs through
    // a USB controller.
    bool hotplug = false;
    const QString devicesRoot = QFileInfo(sysRoot + u"/devices"_s).canonicalFilePath();
    for (QString folder = QFileInfo(devicePath).absolutePath();
         !devicesRoot.isEmpty() && folder.startsWith(devicesRoot) && folder.size() > devicesRoot.size();
         folder = QFileInfo(folder).absolutePath()) {
        if (readSysAttribute(folder + u"/removable"_s) == u"removable"_s) {
            hotplug = true;
            break;
        }
    }
    const bool usb = devicePath.contains(u"/usb"_s);
    flags.isExternal = flags.isRemovable || hotplug || usb;
    return flags;
}

QString kernelNode(const QString &device)
{
    const QString resolved = QFileInfo(device).canonicalFilePath();
    return resolved.isEmpty() ? device : resolved;
}

bool canReadDevice(const QString &device)
{
    const QByteArray path = QFile::encodeName(device);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[4096];
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    return count >= 0;
}

QString gnuStatCommand(const QString &path)
{
    // GNU stat names types in lower case and calls an empty file "regular
    // empty file"; readers expect BSD's %HT words, so map them in place.
    return u"{ stat -c '%s %Y %W %F' '"_s + shellQuoted(path)
        + u"' 2>/dev/null || echo '0 0 0 Unknown'; } | sed"
          " -e 's/ regular empty file$/ Regular File/' -e 's/ regular file$/ Regular File/'"
          " -e 's/ directory$/ Directory/' -e 's/ symbolic link$/ Symbolic Link/' -e 's/ fifo$/ Fifo File/'"
          " -e 's/ character special file$/ Character Device/' -e 's/ block special file$/ Block Device/'"
          " -e 's/ socket$/ Socket/'"_s;
}

QString gnuCopyCommand(const QString &source, const QString &destination, bool isDirectory)
{
    const QString target = u"'"_s + shellQuoted(destination) + u"'"_s;
    // cp would write over a file or into a folder that appeared at the
    // destination since it was chosen: refuse instead. A copy that fails
    // half-way is removed, not left as a partial file. A root copy would
    // leave root-owned files in the user's folder; pkexec names the user who
    // asked in PKEXEC_UID. -h: never follow a link the copy contains to a
    // file outside it.
    return u"if [ -e "_s + target + u" ] || [ -h "_s + target + u" ]; then exit 17; fi; cp "_s
        + (isDirectory ? u"-R "_s : QString()) + u"--preserve=mode,timestamps -- '"_s + shellQuoted(source) + u"' "_s
        + target + u" || { rm -rf -- "_s + target + u"; exit 1; }; "_s
        + u"[ -z \"$PKEXEC_UID\" ] || chown -hR \"$PKEXEC_UID:$(id -g \"$PKEXEC_UID\")\" "_s + target;
}

QString extendedRegexEscaped(const QString &text)
{
    static const QString special = u".[]()*+?{}|^$\\"_s;
    QString escaped;
    for (const QChar c : text) {
        if (special.contains(c))
            escaped += u'\\';
        escaped += c;
    }
    return escaped;
}

QStringList locateArguments(const QString &folder)
{
    const QString prefix = (folder.endsWith(u'/') ? folder.chopped(1) : folder) + u'/';
    static const QString globCharacters = u"*?[\\"_s;
    if (std::any_of(prefix.cbegin(), prefix.cend(), [](QChar c) { return globCharacters.contains(c); }))
        return {u"-0"_s, u"--regex"_s, u"^"_s + extendedRegexEscaped(prefix)};
    return {u"-0"_s, prefix};
}

namespace {

QList<MountInfoEntry> currentMounts()
{
    QFile file(u"/proc/self/mountinfo"_s);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parseMountInfo(file.readAll());
}

// udev writes unsafe characters of a label as \xHH in /dev/disk/by-label.
QString decodeUdevName(const QString &name)
{
    QByteArray bytes;
    const QByteArray raw = QFile::encodeName(name);
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 3 < raw.size() && raw[i + 1] == 'x') {
            bool ok = false;
            const int value = raw.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                bytes.append(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        bytes.append(raw[i]);
    }
    return QString::fromUtf8(bytes);
}

QString firstLine(const std::optional<QString> &output)
{
    return output.value_or(QString()).section(u'\n', 0, 0).trimmed();
}

// The label a mounted file system reports about itself. Any user who can
// open the mount point gets it, so the name doesn't change with rights
// (ext4, btrfs, xfs, f2fs and others answer; FAT and NTFS don't).
QString fileSystemLabel(const QString &mountPoint)
{
#ifdef FS_IOC_GETFSLABEL
    const int fd = ::open(QFile::encodeName(mountPoint).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return QString();
    char label[FSLABEL_MAX + 1] = {};
    const bool ok = ::ioctl(fd, FS_IOC_GETFSLABEL, label) == 0;
    ::close(fd);
    return ok ? QString::fromUtf8(label, qsizetype(::strnlen(label, FSLABEL_MAX))).trimmed() : QString();
#else
    Q_UNUSED(mountPoint)
    return QString();
#endif
}

// The image file a loop device shows ("... (deleted)" when it was removed
// since); empty for other devices.
QString loopBackingFile(const QString &device)
{
    QFile file(u"/sys/class/block/"_s + QFileInfo(kernelNode(device)).fileName() + u"/loop/backing_file"_s);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray path = file.readAll();
    if (path.endsWith('\n'))
        path.chop(1);
    return QFile::decodeName(path);
}

// udev names a labelled device in /dev/disk/by-label, readable by everyone.
QString udevLabel(const QString &source)
{
    const QString device = kernelNode(source);
    const QFileInfoList links = QDir(u"/dev/disk/by-label"_s).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &link : links) {
        if (link.canonicalFilePath() == device)
            return decodeUdevName(link.fileName());
    }
    return QString();
}

class LinuxPlatform final : public Platform
{
public:
    LinuxPlatform(const ToolPaths &tools, std::shared_ptr<CommandRunner> runner)
        : Platform(runner)
        , m_tools(tools)
        , m_texts(PlatformTexts::gnuLinux())
        , m_launcher({tools.pkexec, tools.shell, tools.bash, ::geteuid() == 0}, runner)
    {
    }

    PlatformKind kind() const override { return PlatformKind::gnuLinux; }
    const PlatformTexts &texts() const override { return m_texts; }
    const ToolPaths &tools() const override { return m_tools; }
    AdministratorLauncher &administrator() override { return m_launcher; }

    QList<VolumeInfo> discoverVolumes() override
    {
        const QList<BlockDevice> devices = blockDevices();
        QHash<QString, BlockDevice> byNode;
        for (const BlockDevice &device : devices)
            byNode.insert(kernelNode(device.path), device);

        QList<VolumeInfo> volumes;
        QSet<QString> listedNodes;
        const QList<MountInfoEntry> mounts = userVolumeMounts(currentMounts());
        for (const MountInfoEntry &mount : mounts) {
            VolumeInfo volume;
            volume.mountPoint = mount.mountPoint;
            // There is no character "raw" node on Linux: the block device
            // itself is what a raw scan reads. Never derived from st_dev,
            // which is an anonymous number on btrfs.
            volume.device = mount.source;
            volume.rawDevice = mount.source;
            volume.fileSystem = mount.fileSystem;
            const QString node = kernelNode(mount.source);
            listedNodes.insert(node);
            const auto known = byNode.constFind(node);
            // The name must not depend on who asks: only sources that every
            // user reads alike name the volume. A label that only root can
            // probe is kept in `label` but does not rename it.
            QString label = fileSystemLabel(mount.mountPoint);
            if (label.isEmpty())
                label = udevLabel(mount.source);
            if (label.isEmpty() && known != byNode.constEnd())
                label = known->label;
            if (!label.isEmpty())
                volume.name = label;
            else if (mount.mountPoint == u"/"_s)
                volume.name = u"Root"_s;
            else
                volume.name = QFileInfo(mount.mountPoint).fileName();
            volume.label = label.isEmpty() ? probedLabel(mount) : label;
            addSpace(volume);
            const BlockDeviceFlags flags = blockDeviceFlags(mount.source);
            volume.isRemovable = flags.isRemovable;
            volume.isExternal = flags.isExternal;
            if (known != byNode.constEnd())
                addDeviceDetails(volume, *known);
            volumes.append(volume);
        }
        sortExternalFirst(volumes);

        QList<VolumeInfo> others = blockDeviceVolumes(
            devices, [&](const BlockDevice &device) { return listedNodes.contains(kernelNode(device.path)); });
        for (VolumeInfo &volume : others) {
            if (volume.isMounted())
                addSpace(volume);
            if (volume.deviceKind == u"loop"_s)
                volume.backingFile = loopBackingFile(volume.device);
        }
        addProbedDetails(others);
        return volumes + others;
    }

    QString rawDevicePath(const QString &device) const override { return device; }

    qint64 deviceSize(const QString &device) const override { return blockDeviceSize(device); }

    TrashLocation homeTrash() const override
    {
        // $XDG_DATA_HOME/Trash, or ~/.local/share/Trash when it is unset.
        const QString root = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Trash"_s;
        return {root, root + u"/files"_s, root + u"/info"_s};
    }

    QList<TrashLocation> volumeTrashes(const QString &mountPoint) const override
    {
        QList<TrashLocation> trashes;
        const QString top = mountPoint.endsWith(u'/') ? mountPoint.chopped(1) : mountPoint;
        const QString uid = QString::number(::getuid());
        const auto location = [](const QString &root) {
            return TrashLocation{root, root + u"/files"_s, root + u"/info"_s};
        };
        // freedesktop.org Trash standard: $top/.Trash/$uid only when
        // $top/.Trash is a real directory with the sticky bit, otherwise
        // another user could plant it.
        struct stat shared {};
        const QString sharedRoot = top + u"/.Trash"_s;
        if (::lstat(QFile::encodeName(sharedRoot).constData(), &shared) == 0 && S_ISDIR(shared.st_mode)
            && (shared.st_mode & S_ISVTX)) {
            const QString own = sharedRoot + u'/' + uid;
            struct stat ownStat {};
            if (::lstat(QFile::encodeName(own).constData(), &ownStat) == 0 && S_ISDIR(ownStat.st_mode))
                trashes.append(location(own));
        }
        const QString personal = top + u"/.Trash-"_s + uid;
        struct stat personalStat {};
        const QByteArray personalPath = QFile::encodeName(personal);
        if (::lstat(personalPath.constData(), &personalStat) == 0 && S_ISDIR(personalStat.st_mode)
            && ::access(personalPath.constData(), W_OK) == 0)
            trashes.append(location(personal));
        return trashes;
    }

    QString trashListCommand(const QString &folder) const override
    {
        // GNU find prints the starting folder itself unless told not to.
        return u"find '"_s + shellQuoted(folder) + u"' -mindepth 1 -maxdepth 1 2>/dev/null"_s;
    }

    QString statCommand(const QString &path) const override { return gnuStatCommand(path); }

    QString folderSizeCommand(const QString &folder) const override
    {
        return u"du -sk '"_s + shellQuoted(folder) + u"' 2>/dev/null | awk '{print $1}'"_s;
    }

    QString copyCommand(const QString &source, const QString &destination, bool isDirectory) const override
    {
        return gnuCopyCommand(source, destination, isDirectory);
    }

    QString indexSearchFolder(const QString &mountPoint) const override
    {
        return mountPoint == u"/"_s ? u"/home"_s : mountPoint;
    }

    QStringList fileIndexArguments(const QString &folder, const QStringList &extensions) const override
    {
        Q_UNUSED(extensions);
        return locateArguments(folder);
    }

    QStringList snapshotTools() const override
    {
        QStringList found;
        for (const QString &tool : {m_tools.btrfs, m_tools.snapper, m_tools.lvs, m_tools.zfs}) {
            if (!tool.isEmpty() && QFileInfo(tool).isExecutable())
                found.append(tool);
        }
        return found;
    }

    QString fileIndexTool() const override
    {
        return !m_tools.locate.isEmpty() && QFileInfo(m_tools.locate).isExecutable() ? m_tools.locate : QString();
    }

    bool hasFullDiskAccess() const override
    {
        const QList<MountInfoEntry> mounts = currentMounts();
        for (const MountInfoEntry &mount : mounts) {
            if (mount.mountPoint == u"/"_s && mount.source.startsWith(u"/dev/"_s))
                return canReadDevice(mount.source);
        }
        // The root is not a device node (ZFS, a container's overlay): any
        // volume a raw scan could target tells as much.
        const QList<MountInfoEntry> volumes = userVolumeMounts(mounts);
        if (!volumes.isEmpty())
            return canReadDevice(volumes.first().source);
        return ::geteuid() == 0;
    }

    QString fullDiskAccessSettingsUrl() const override { return QString(); }

private:
    // Every device lsblk lists; empty when it is missing or fails.
    QList<BlockDevice> blockDevices() const
    {
        if (m_tools.lsblk.isEmpty())
            return {};
        ToolResult listed = runner().run(m_tools.lsblk, lsblkArguments(), StreamMode::outputOnly);
        if (listed.launched && listed.exitStatus != 0)
            listed = runner().run(m_tools.lsblk, lsblkArguments(true), StreamMode::outputOnly);
        if (!listed.launched || listed.exitStatus != 0 || !listed.output)
            return {};
        return parseLsblkJson(listed.output->toUtf8());
    }

    // Without udev lsblk knows neither file systems nor labels; blkid finds
    // them on devices this process may read (root, or the disk group).
    void addProbedDetails(QList<VolumeInfo> &volumes) const
    {
        QStringList unknown;
        for (const VolumeInfo &volume : std::as_const(volumes)) {
            if ((volume.fileSystem.isEmpty() || volume.label.isEmpty())
                && ::access(QFile::encodeName(volume.device).constData(), R_OK) == 0)
                unknown.append(volume.device);
        }
        if (unknown.isEmpty() || m_tools.blkid.isEmpty())
            return;
        const ToolResult probed =
            runner().run(m_tools.blkid, QStringList{u"-p"_s, u"-o"_s, u"export"_s} + unknown, StreamMode::outputOnly);
        const auto found = parseBlkidExport(probed.output.value_or(QString()));
        for (VolumeInfo &volume : volumes) {
            const QHash<QString, QString> values = found.value(volume.device);
            if (volume.fileSystem.isEmpty())
                volume.fileSystem = values.value(u"TYPE"_s);
            if (volume.label.isEmpty())
                volume.label = values.value(u"LABEL"_s);
        }
    }

    // findmnt asks libblkid, which reads the device: only users who may read
    // it learn the label this way.
    QString probedLabel(const MountInfoEntry &mount) const
    {
        if (m_tools.findmnt.isEmpty() || ::access(QFile::encodeName(mount.source).constData(), R_OK) != 0)
            return QString();
        return firstLine(
            runner().run(m_tools.findmnt, {u"-no"_s, u"LABEL"_s, u"--mountpoint"_s, mount.mountPoint}, StreamMode::outputOnly)
                .output);
    }

    static void addSpace(VolumeInfo &volume)
    {
        struct statvfs stats {};
        if (::statvfs(QFile::encodeName(volume.mountPoint).constData(), &stats) == 0) {
            volume.totalSize = static_cast<qint64>(stats.f_blocks) * static_cast<qint64>(stats.f_frsize);
            volume.freeSize = static_cast<qint64>(stats.f_bavail) * static_cast<qint64>(stats.f_frsize);
        }
    }

    ToolPaths m_tools;
    PlatformTexts m_texts;
    LinuxAdministratorLauncher m_launcher;
};

} // namespace

std::unique_ptr<Platform> makeLinuxPlatform(const ToolPaths &tools, std::shared_ptr<CommandRunner> runner)
{
    return std::make_unique<LinuxPlatform>(tools, std::move(runner));
}
