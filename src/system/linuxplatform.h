#pragma once

#include <QString>
#include <QStringList>

#include "system/mountinfo.h"
#include "system/platform.h"

// The Linux backend: pkexec (polkit) for administrator rights, the mount
// table and sysfs for volumes, the freedesktop.org Trash, btrfs/Snapper/LVM
// snapshots and the locate index.

// Printed by the elevated shell before the command. pkexec passes the
// command's own exit status through, so 126 and 127 alone can't tell
// "password dialog dismissed" from a command that exits with those codes;
// the marker line shows that authorization succeeded.
inline constexpr char elevationMarker[] = "@@ELEVATED@@";

// Arguments for `pkexec`: the shell, "-c" and the command behind the marker.
// With `discardAll` the command's output goes to the null device inside the
// shell, so that the marker can still be read.
QStringList pkexecShellArguments(const QString &shell, const QString &command, StreamMode mode);

// The result of a pkexec run. Without the marker the command never ran: the
// output is empty and the status non-zero (126 dismissed, 127 refused, no
// agent or error). With it, the marker line is removed and the status is the
// command's.
ToolResult interpretElevatedRun(const RawToolResult &raw);

struct LinuxAdministratorConfig {
    QString pkexec;
    QString shell;
    QString bash;
    // Already root: run directly, no dialog.
    bool runningAsRoot = false;
};

class LinuxAdministratorLauncher final : public AdministratorLauncher
{
public:
    explicit LinuxAdministratorLauncher(LinuxAdministratorConfig config,
                                        std::shared_ptr<CommandRunner> runner = CommandRunner::processes())
        : m_config(std::move(config)), m_runner(std::move(runner))
    {
    }

    ToolResult runShell(const QString &command, StreamMode mode) override;
    // `pkexec bash SCRIPT ARGS...`; an unprivileged caller can't signal the
    // root child, so terminate() is best effort and the script must stop on
    // its own when its work folder disappears.
    std::unique_ptr<DetachedAdministratorRun> startDetached(const QString &scriptPath,
                                                            const QStringList &arguments,
                                                            QString *error) override;
    // `pkexec PROGRAM ARGS...` with pipes; pkexec execs the program in its
    // own process, so the pipes and the parent-child link reach it.
    bool canStartPiped() const override { return true; }
    std::unique_ptr<PipedProcess> startPiped(const QString &program, const QStringList &arguments, int errorFd,
                                             QString *error) override;

private:
    // The reason a pkexec run could not start, in words a user can act on.
    QString launchFailure(const QString &error) const;

    LinuxAdministratorConfig m_config;
    std::shared_ptr<CommandRunner> m_runner;
};

// Removable and external flags of the disk that holds `device`, from sysfs
// below `sysRoot` (a partition takes its parent disk's flags).
struct BlockDeviceFlags {
    bool isRemovable = false;
    bool isExternal = false;
};
// Size in bytes of a block device from sysfs (readable by any user); 0 when
// unknown.
qint64 blockDeviceSize(const QString &device, const QString &sysRoot = QStringLiteral("/sys"));

BlockDeviceFlags blockDeviceFlags(const QString &device, const QString &sysRoot = QStringLiteral("/sys"));

// The kernel's node a device name links to (/dev/mapper/NAME, /dev/VG/LV,
// /dev/disk/by-*/...), so that two names of one device compare equal; the
// name itself when it resolves to nothing.
QString kernelNode(const QString &device);

// Whether `device` can be opened and read: the test for raw access.
bool canReadDevice(const QString &device);

// The shell text that prints "SIZE MTIME BIRTH TYPE" with GNU stat, the
// type written the way BSD stat's %HT writes it.
QString gnuStatCommand(const QString &path);

// cp with mode and times kept, the copy then given to the user pkexec
// names (PKEXEC_UID); plain cp when run as root without pkexec. Exits 17
// without copying when the destination exists, and removes a copy that
// failed part-way.
QString gnuCopyCommand(const QString &source, const QString &destination, bool isDirectory);

// `locate` arguments listing, NUL-separated, every indexed path that holds
// `folder` + "/". The folder is a literal substring, which plocate answers
// from its trigram index; a regular expression or a glob makes it read every
// entry. A folder holding glob characters is matched by an anchored regular
// expression instead, the one form that keeps them literal. The extensions
// and the paths that hold the folder somewhere other than at their start are
// the caller's to filter.
QString extendedRegexEscaped(const QString &text);
QStringList locateArguments(const QString &folder);

std::unique_ptr<Platform> makeLinuxPlatform(const ToolPaths &tools, std::shared_ptr<CommandRunner> runner);
