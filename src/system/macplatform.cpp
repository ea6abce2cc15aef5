#include "macplatform.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

#include "system/detachedprocess.h"

using namespace Qt::Literals::StringLiterals;

QString appleScriptEscaped(const QString &text)
{
    QString escaped = text;
    escaped.replace(u'\\', u"\\\\"_s);
    escaped.replace(u'"', u"\\\""_s);
    return escaped;
}

QString administratorShellScript(const QString &command)
{
    return u"do shell script \""_s + appleScriptEscaped(command) + u"\" with administrator privileges"_s;
}

QString detachedAdministratorScript(const QString &scriptPath, const QStringList &arguments)
{
    QString command = u"bash '"_s + shellQuoted(scriptPath);
    for (const QString &argument : arguments)
        command += u"' '"_s + shellQuoted(argument);
    command += u"'"_s;
    return administratorShellScript(command);
}

namespace {

QString trimmedSpacesAndTabs(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
        ++begin;
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.sliced(begin, end - begin).toString();
}

} // namespace

DiskInfo parseDiskutilInfo(const QString &output)
{
    DiskInfo info;
    const QStringList lines = output.split(u'\n');
    for (const QString &rawLine : lines) {
        const QString line = trimmedSpacesAndTabs(rawLine);
        if (line.startsWith(u"Device Node:"_s)) {
            QString value = line;
            value.remove(u"Device Node:"_s);
            info.device = trimmedSpacesAndTabs(value);
        }
        // The personality line comes after the bundle line, so the later
        // one wins: "APFS" rather than "apfs".
        if (line.startsWith(u"Type (Bundle):"_s) || line.startsWith(u"File System Personality:"_s))
            info.fileSystem = trimmedSpacesAndTabs(QStringView(line).sliced(line.lastIndexOf(u':') + 1));
    }
    if (info.device.isEmpty())
        info.device = u"unknown"_s;
    if (info.fileSystem.isEmpty())
        info.fileSystem = u"unknown"_s;
    return info;
}

QString macRawDevicePath(const QString &device)
{
    QString raw = device;
    if (raw.contains(u"/dev/disk"_s))
        raw.replace(u"/dev/disk"_s, u"/dev/rdisk"_s);
    return raw;
}

QList<VolumeInfo> assembleMacVolumes(const QList<MountedVolumeAttributes> &volumes,
                                     const std::function<DiskInfo(const QString &)> &diskInfo)
{
    QList<VolumeInfo> result;
    result.reserve(volumes.size());
    for (const MountedVolumeAttributes &attributes : volumes) {
        VolumeInfo volume;
        volume.mountPoint = attributes.mountPoint;
        volume.name = attributes.name.value_or(QFileInfo(attributes.mountPoint).fileName());
        const DiskInfo info = diskInfo(attributes.mountPoint);
        volume.device = info.device;
        volume.rawDevice = macRawDevicePath(info.device);
        volume.fileSystem = info.fileSystem;
        volume.totalSize = attributes.totalCapacity.value_or(0);
        volume.freeSize = attributes.availableCapacity.value_or(0);
        volume.isExternal = !attributes.isInternal.value_or(true);
        volume.isRemovable = attributes.isRemovable.value_or(false);
        result.append(volume);
    }
    sortExternalFirst(result);
    return result;
}

ToolResult MacAdministratorLauncher::runShell(const QString &command, StreamMode mode)
{
    ToolResult result = m_runner->run(m_osascript, {u"-e"_s, administratorShellScript(command)}, mode);
    // "do shell script" hands back the output with every line ending turned
    // into a carriage return (Apple TN2065) unless told "without altering
    // line endings"; callers split at line feeds.
    if (result.output)
        result.output->replace(u'\r', u'\n');
    return result;
}

std::unique_ptr<DetachedAdministratorRun> MacAdministratorLauncher::startDetached(const QString &scriptPath,
                                                                                  const QStringList &arguments,
                                                                                  QString *error)
{
    return startDetachedProcess(m_osascript, {u"-e"_s, detachedAdministratorScript(scriptPath, arguments)}, error);
}

namespace {

bool isHiddenMacVolume(const QString &mountPoint)
{
    // The system's own helper volumes (VM, Preboot, Update, the sealed
    // system snapshot's data twin) are not offered to the user.
    static const QStringList hiddenPrefixes = {u"/System/Volumes/"_s, u"/private/"_s, u"/dev/"_s};
    return mountPoint == u"/dev"_s
        || std::any_of(hiddenPrefixes.begin(), hiddenPrefixes.end(),
                       [&](const QString &prefix) { return mountPoint.startsWith(prefix); });
}

class MacPlatform final : public Platform
{
public:
    MacPlatform(const ToolPaths &tools, std::shared_ptr<CommandRunner> runner)
        : Platform(runner), m_tools(tools), m_texts(PlatformTexts::macOS()), m_launcher(tools.osascript, runner)
    {
    }

    PlatformKind kind() const override { return PlatformKind::macOS; }
    const PlatformTexts &texts() const override { return m_texts; }
    const ToolPaths &tools() const override { return m_tools; }
    AdministratorLauncher &administrator() override { return m_launcher; }

    QList<VolumeInfo> discoverVolumes() override
    {
        QList<MountedVolumeAttributes> mounted;
        const QList<QStorageInfo> storages = QStorageInfo::mountedVolumes();
        for (const QStorageInfo &storage : storages) {
            if (!storage.isValid() || !storage.isReady() || isHiddenMacVolume(storage.rootPath()))
                continue;
            MountedVolumeAttributes attributes;
            attributes.mountPoint = storage.rootPath();
            if (!storage.name().isEmpty())
                attributes.name = storage.name();
            attributes.totalCapacity = storage.bytesTotal();
            attributes.availableCapacity = storage.bytesAvailable();
            mounted.append(attributes);
        }
        return assembleMacVolumes(mounted, [this](const QString &mountPoint) {
            const ToolResult run = runner().run(m_tools.diskutil, {u"info"_s, mountPoint}, StreamMode::outputOnly);
            if (!run.launched)
                return DiskInfo{u"unknown"_s, u"unknown"_s};
            return parseDiskutilInfo(run.output.value_or(QString()));
        });
    }

    QString rawDevicePath(const QString &device) const override { return macRawDevicePath(device); }

    TrashLocation homeTrash() const override
    {
        const QString root = QDir::homePath() + u"/.Trash"_s;
        return {root, root, QString()};
    }

    QList<TrashLocation> volumeTrashes(const QString &mountPoint) const override
    {
        // Plain concatenation: for "/" this gives "//.Trashes", which the
        // file system reads as "/.Trashes".
        const QString root = mountPoint + u"/.Trashes"_s;
        return {{root, root, QString()}};
    }

    QString trashListCommand(const QString &folder) const override
    {
        return u"find '"_s + shellQuoted(folder) + u"' -maxdepth 1 -not -name '.Trash' -not -name '.' 2>/dev/null"_s;
    }

    QString statCommand(const QString &path) const override
    {
        return u"stat -f '%z %m %B %HT' '"_s + shellQuoted(path) + u"' 2>/dev/null || echo '0 0 0 Unknown'"_s;
    }

    QString folderSizeCommand(const QString &folder) const override
    {
        return u"du -sk '"_s + shellQuoted(folder) + u"' 2>/dev/null | awk '{print $1}'"_s;
    }

    QString copyCommand(const QString &source, const QString &destination, bool isDirectory) const override
    {
        return u"cp "_s + (isDirectory ? u"-R"_s : QString()) + u" '"_s + shellQuoted(source) + u"' '"_s
            + shellQuoted(destination) + u"'"_s;
    }

    QString indexSearchFolder(const QString &mountPoint) const override
    {
        return mountPoint == u"/"_s ? u"/Users"_s : mountPoint;
    }

    QStringList fileIndexArguments(const QString &folder, const QStringList &extensions) const override
    {
        return {u"-onlyin"_s, folder, u"kMDItemFSName == '*."_s + extensions.join(u"' OR kMDItemFSName == '*."_s) + u"'"_s};
    }

    QStringList snapshotTools() const override { return {m_tools.diskutil, m_tools.tmutil}; }
    QString fileIndexTool() const override { return m_tools.mdfind; }

    bool hasFullDiskAccess() const override
    {
        const QString home = QDir::homePath();
        return QFileInfo(home + u"/Library/Safari/Bookmarks.plist"_s).isReadable()
            || QFileInfo(home + u"/Library/Mail"_s).isReadable();
    }

    QString fullDiskAccessSettingsUrl() const override
    {
        return u"x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles"_s;
    }

private:
    ToolPaths m_tools;
    PlatformTexts m_texts;
    MacAdministratorLauncher m_launcher;
};

} // namespace

std::unique_ptr<Platform> makeMacPlatform(const ToolPaths &tools, std::shared_ptr<CommandRunner> runner)
{
    return std::make_unique<MacPlatform>(tools, std::move(runner));
}
