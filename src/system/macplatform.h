#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "system/platform.h"

// The macOS backend: osascript for administrator rights, diskutil for device
// facts, APFS/Time Machine/Spotlight tools.

// `text` as it goes inside an AppleScript string literal: backslashes doubled,
// then double quotes preceded by a backslash. Without the first step a name
// ending in a backslash would close the literal early and run the rest of
// the name as AppleScript with administrator rights.
QString appleScriptEscaped(const QString &text);

// "do shell script \"COMMAND\" with administrator privileges".
QString administratorShellScript(const QString &command);

// The same for `bash 'SCRIPT' 'ARG'...`, each value shellQuoted.
QString detachedAdministratorScript(const QString &scriptPath, const QStringList &arguments);

// Device node and file-system name from `diskutil info` output; "unknown"
// for either when the output has no matching line.
struct DiskInfo {
    QString device;
    QString fileSystem;
};
DiskInfo parseDiskutilInfo(const QString &output);

// The character device of a disk node: "/dev/disk" becomes "/dev/rdisk".
QString macRawDevicePath(const QString &device);

// What the system reports for one mounted volume; each attribute may be missing.
struct MountedVolumeAttributes {
    QString mountPoint;
    std::optional<QString> name;
    std::optional<qint64> totalCapacity;
    std::optional<qint64> availableCapacity;
    std::optional<bool> isRemovable;
    std::optional<bool> isInternal;
};

// Builds the volume records (external first) from the reported attributes
// and a device/file-system lookup per mount point.
QList<VolumeInfo> assembleMacVolumes(const QList<MountedVolumeAttributes> &volumes,
                                     const std::function<DiskInfo(const QString &)> &diskInfo);

// Runs osascript; the output comes back with line feeds between lines.
class MacAdministratorLauncher final : public AdministratorLauncher
{
public:
    explicit MacAdministratorLauncher(QString osascript, std::shared_ptr<CommandRunner> runner = CommandRunner::processes())
        : m_osascript(std::move(osascript)), m_runner(std::move(runner))
    {
    }

    ToolResult runShell(const QString &command, StreamMode mode) override;
    std::unique_ptr<DetachedAdministratorRun> startDetached(const QString &scriptPath,
                                                            const QStringList &arguments,
                                                            QString *error) override;

private:
    QString m_osascript;
    std::shared_ptr<CommandRunner> m_runner;
};

std::unique_ptr<Platform> makeMacPlatform(const ToolPaths &tools, std::shared_ptr<CommandRunner> runner);
