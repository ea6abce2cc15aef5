#pragma once

// A platform backend for tests: the real backend of the chosen kind for
// everything not overridden, with a volume list of the test's choosing and an
// administrator that runs commands without elevation (or refuses, like a
// dismissed password dialog) and records what it was asked. Subclass it to
// override more.

#include <QStringList>

#include "system/platform.h"

class RecordingAdministrator final : public AdministratorLauncher
{
public:
    // Piped runs are offered where the real backend of `kind` offers them.
    explicit RecordingAdministrator(std::shared_ptr<CommandRunner> runner, PlatformKind kind = PlatformKind::gnuLinux)
        : m_runner(std::move(runner)), m_kind(kind)
    {
    }

    ToolResult runShell(const QString &command, StreamMode mode) override;
    std::unique_ptr<DetachedAdministratorRun> startDetached(const QString &scriptPath, const QStringList &arguments,
                                                            QString *error) override;
    bool canStartPiped() const override { return m_kind == PlatformKind::gnuLinux; }
    std::unique_ptr<PipedProcess> startPiped(const QString &program, const QStringList &arguments, int errorFd,
                                             QString *error) override;

    // When set, every run fails as a dismissed password dialog does.
    bool refuse = false;
    QStringList shellCommands;
    QList<QStringList> detachedArguments;
    // The program and arguments of every piped run.
    QList<QStringList> pipedRuns;

private:
    std::shared_ptr<CommandRunner> m_runner;
    PlatformKind m_kind;
};

class FakePlatform : public Platform
{
public:
    explicit FakePlatform(PlatformKind kind = PlatformKind::gnuLinux,
                          std::shared_ptr<CommandRunner> runner = CommandRunner::processes());

    PlatformKind kind() const override { return m_real->kind(); }
    const PlatformTexts &texts() const override { return m_real->texts(); }
    const ToolPaths &tools() const override { return m_real->tools(); }
    AdministratorLauncher &administrator() override { return admin; }
    QList<VolumeInfo> discoverVolumes() override { return volumes; }
    QString rawDevicePath(const QString &device) const override { return m_real->rawDevicePath(device); }
    qint64 deviceSize(const QString &device) const override { return m_real->deviceSize(device); }
    TrashLocation homeTrash() const override { return m_real->homeTrash(); }
    QList<TrashLocation> volumeTrashes(const QString &mountPoint) const override
    {
        return m_real->volumeTrashes(mountPoint);
    }
    QString trashListCommand(const QString &folder) const override { return m_real->trashListCommand(folder); }
    QString statCommand(const QString &path) const override { return m_real->statCommand(path); }
    QString folderSizeCommand(const QString &folder) const override { return m_real->folderSizeCommand(folder); }
    QString copyCommand(const QString &source, const QString &destination, bool isDirectory) const override
    {
        return m_real->copyCommand(source, destination, isDirectory);
    }
    QStringList snapshotTools() const override { return m_real->snapshotTools(); }
    QString fileIndexTool() const override { return m_real->fileIndexTool(); }
    QString indexSearchFolder(const QString &mountPoint) const override
    {
        return m_real->indexSearchFolder(mountPoint);
    }
    QStringList fileIndexArguments(const QString &folder, const QStringList &extensions) const override
    {
        return m_real->fileIndexArguments(folder, extensions);
    }
    bool hasFullDiskAccess() const override { return m_real->hasFullDiskAccess(); }
    QString fullDiskAccessSettingsUrl() const override { return m_real->fullDiskAccessSettingsUrl(); }

    QList<VolumeInfo> volumes;
    RecordingAdministrator admin;

protected:
    std::unique_ptr<Platform> m_real;
};
