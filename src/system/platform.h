#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include "model/records.h"
#include "system/commandrunner.h"

// What the rest of the program asks of the operating system beyond plain file
// access: which tools sit where, how administrator rights are obtained, where
// the Trash lives, how volumes are found, and the user-visible texts that name
// a facility of one system. Two backends exist (macOS and Linux); both are
// built everywhere so both can be tested, and one is picked at run time.

enum class PlatformKind { macOS, gnuLinux };

// Absolute paths of the tools a backend runs. Tests point them at fake
// executables; an empty path means the tool is not available.
struct ToolPaths {
    QString shell = QStringLiteral("/bin/sh");
    QString bash = QStringLiteral("/bin/bash");
    // macOS
    QString osascript;
    QString diskutil;
    QString tmutil;
    QString mdfind;
    // Linux
    QString pkexec;
    // Runs the root reader of the administrator scan.
    QString perl;
    QString findmnt;
    QString blkid;
    QString btrfs;
    QString snapper;
    QString lvs;
    QString zfs;
    QString locate;

    // The system's own locations; on Linux the optional tools are looked up
    // in the trusted system folders only, never in the caller's PATH.
    static ToolPaths defaultsFor(PlatformKind kind);
};

// The texts of one mode notice of the Deep Scan screen.
struct ModeNoticeTexts {
    QString title;
    QString description;
    QStringList steps; // shown numbered from 1
    QString note;
};

// Every user-visible text that names a facility of one system. The macOS set
// is the original wording; the Linux set has the same shape and purpose.
struct PlatformTexts {
    // Appended after "Cannot open PATH: REASON" when the open was refused.
    QString rawAccessPrivileges;
    // Whole message for a busy device; %1 stands for the path (twice).
    QString deviceBusyTemplate;
    ModeNoticeTexts deletedFilesNotice;
    ModeNoticeTexts rawDeviceNotice;
    // Mode card description of the deleted-files mode.
    QString deletedFilesModeDescription;
    // Deleted-files scan, phase 2: status before counting snapshots, the
    // sentence after "Found N snapshot(s).", index search status and failure,
    // and the tips shown when nothing was found.
    QString checkingSnapshotsStatus;
    QString snapshotsFoundNote;
    QString searchingIndexStatus;
    QString indexUnavailable;
    QString noDeletedFilesTips;
    // Trash listing could not start its administrator run.
    QString trashAccessDenied;
    // Subtitle of the Trash Recovery screen.
    QString trashSubtitle;
    // Snapshot listing tool could not run.
    QString snapshotListFailed;
    // Settings: the row that shows whether raw reading is allowed.
    QString fullDiskAccessTitle;
    // Sidebar subtitle of the Snapshots destination.
    QString snapshotsSubtitle;
    // Snapshots screen: title, subtitle, the hint of the empty state and the
    // note of a snapshot whose files can't be opened as a folder (%1 stands
    // for the command that lists or reaches it by hand).
    QString snapshotsTitle;
    QString snapshotsScreenSubtitle;
    QString snapshotsEmptyHint;
    QString snapshotManualAccessNote;
    // Settings: how raw reading is obtained where no settings page grants
    // it; empty where "Open Settings" leads to one.
    QString rawDeviceAccessNote;

    QString deviceBusyMessage(const QString &path) const;

    static PlatformTexts macOS();
    static PlatformTexts gnuLinux();
};

// A Trash folder: where the trashed items are and, on systems that keep one,
// the folder of their info files (empty on macOS).
struct TrashLocation {
    QString root;
    QString filesFolder;
    QString infoFolder;
};

class Platform
{
public:
    explicit Platform(std::shared_ptr<CommandRunner> runner) : m_runner(std::move(runner)) {}
    virtual ~Platform() = default;

    virtual PlatformKind kind() const = 0;
    virtual const PlatformTexts &texts() const = 0;
    virtual const ToolPaths &tools() const = 0;

    // Every child process of this backend, and of the services that use it,
    // is started through this runner.
    CommandRunner &runner() const { return *m_runner; }

    // Runs shell text and detached helpers as root, behind the system's
    // password dialog.
    virtual AdministratorLauncher &administrator() = 0;

    // The mounted volumes a user would recognise, external ones first.
    // Blocks on child processes: call it on a worker.
    virtual QList<VolumeInfo> discoverVolumes() = 0;

    // The node a raw scan reads for a volume's device node.
    virtual QString rawDevicePath(const QString &device) const = 0;

    // The size in bytes of the device node itself, readable without
    // administrator rights; 0 when the system doesn't tell. A volume's
    // capacity is that of its file system, which can be smaller than the
    // device that holds it.
    virtual qint64 deviceSize(const QString &device) const;

    // The user's own Trash, and the Trash folders of the volume mounted at
    // `mountPoint` that exist and may be used.
    virtual TrashLocation homeTrash() const = 0;
    virtual QList<TrashLocation> volumeTrashes(const QString &mountPoint) const = 0;

    // Shell text for the administrator Trash listing: the items one level
    // below `folder` (the folder itself not included), one path per line.
    virtual QString trashListCommand(const QString &folder) const = 0;
    // Shell text printing "SIZE MTIME BIRTHTIME TYPE" for one path, epoch
    // seconds, birth time 0 when unknown, TYPE in the words "Regular File",
    // "Directory", "Symbolic Link"...; "0 0 0 Unknown" when it fails.
    virtual QString statCommand(const QString &path) const = 0;

    // Shell text printing a folder's disk usage in KiB, nothing else.
    virtual QString folderSizeCommand(const QString &folder) const = 0;
    // Shell text copying a Trash item to `destination` as root; exit status
    // 0 on success. Copies made through pkexec are handed to the user who
    // asked, not left owned by root.
    virtual QString copyCommand(const QString &source, const QString &destination, bool isDirectory) const = 0;

    // Tools that list file-system snapshots, and the file index that still
    // names recently deleted files (empty when absent).
    virtual QStringList snapshotTools() const = 0;
    virtual QString fileIndexTool() const = 0;
    // Where the index is searched for a volume (the users' homes for the
    // system volume), and the arguments that list the indexed paths below
    // `folder` whose names end in "." + one of `extensions`, one per line
    // (locate ignores case; the Spotlight query is mdfind's own).
    virtual QString indexSearchFolder(const QString &mountPoint) const = 0;
    virtual QStringList fileIndexArguments(const QString &folder, const QStringList &extensions) const = 0;

    // Whether this program may read raw devices / protected user data, and
    // where the user grants it (empty when there is no such settings page).
    virtual bool hasFullDiskAccess() const = 0;
    virtual QString fullDiskAccessSettingsUrl() const = 0;

private:
    std::shared_ptr<CommandRunner> m_runner;
};

// The backend of the system this process runs on (macOS on macOS, Linux
// elsewhere), made on first use with the real tools and processes. This is
// the one place the program reaches for "the" system: services and screens
// take a platform in their constructor and fall back to this one only when
// QML creates them without arguments; tests hand in their own.
std::shared_ptr<Platform> runningPlatform();
// Puts another platform in the running one's place, for a harness that runs
// the screens QML creates against a system of its own; call it before any
// screen asks.
void replaceRunningPlatform(std::shared_ptr<Platform> platform);

std::unique_ptr<Platform> makePlatform(PlatformKind kind);
std::unique_ptr<Platform> makePlatform(PlatformKind kind, const ToolPaths &tools,
                                       std::shared_ptr<CommandRunner> runner = CommandRunner::processes());

// Launchers that go through `platform`'s administrator runs. Work that
// outlives the call that started it (hits that fetch their bytes again when
// they are saved) keeps this factory, and with it the platform.
AdministratorLauncherFactory administratorsOf(std::shared_ptr<Platform> platform);

// External volumes before the others, keeping the order within each group.
void sortExternalFirst(QList<VolumeInfo> &volumes);

// One line per volume for a terminal, fields separated by tabs: name, mount
// point, device, file system, "FREE free / TOTAL", and "external" and/or
// "removable" when they apply. Backslash, tab and line feed inside a field
// are written \\, \t and \n. Empty text for no volumes.
QString formatVolumeList(const QList<VolumeInfo> &volumes);
