#pragma once

// What the snapshot tests share: a runner that answers with canned output,
// a platform whose tools are chosen by the test, and the system the btrfs
// captures in tests/data/captured were made on (a loop device with the
// top-level subvolume at /tmp/q15cap/mnt and @data at /tmp/q15cap/sub).

#include <QHash>
#include <QStringList>

#include "helpers/fakeplatform.h"
#include "helpers/testsupport.h"
#include "snapshots/linuxsnapshots.h"

// A tool's output kept in tests/data/captured.
inline QByteArray captured(const char *name)
{
    return readFile(QStringLiteral(QUORVEL_TEST_DATA "/captured/") + QLatin1String(name));
}

class CannedRunner final : public CommandRunner
{
public:
    // Answers by "program arg arg..."; anything else is run for real when
    // `passOn` is set (the administrator's shell), or was not started.
    RawToolResult runRaw(const QString &path, const QStringList &arguments, StreamMode mode) override
    {
        const QString call = (QStringList{path} + arguments).join(u' ');
        calls.append(call);
        modes.append(mode);
        if (passOn && !answers.contains(call))
            return CommandRunner::processes()->runRaw(path, arguments, mode);
        return answers.value(call, RawToolResult{});
    }

    void answer(const QString &call, const QByteArray &output, int status = 0)
    {
        answers.insert(call, RawToolResult{true, output, status, std::nullopt});
    }

    QHash<QString, RawToolResult> answers;
    bool passOn = false;
    QStringList calls;
    QList<StreamMode> modes;
};

class ToolsPlatform final : public FakePlatform
{
public:
    ToolsPlatform(PlatformKind kind, ToolPaths paths, std::shared_ptr<CommandRunner> runner = CommandRunner::processes())
        : FakePlatform(kind, runner), paths(std::move(paths))
    {
    }
    const ToolPaths &tools() const override { return paths; }

    ToolPaths paths;
};

inline MountInfoEntry mountEntry(const QString &root, const QString &mountPoint, const QString &fileSystem,
                                 const QString &source)
{
    MountInfoEntry entry;
    entry.root = root;
    entry.superOptions = QStringLiteral("rw,subvol=") + root;
    entry.mountPoint = mountPoint;
    entry.fileSystem = fileSystem;
    entry.source = source;
    return entry;
}

inline LinuxSnapshotSources capturedSystem()
{
    LinuxSnapshotSources sources;
    sources.mounts = {
        mountEntry(QStringLiteral("/"), QStringLiteral("/"), QStringLiteral("ext4"), QStringLiteral("/dev/sda1")),
        mountEntry(QStringLiteral("/"), QStringLiteral("/tmp/q15cap/mnt"), QStringLiteral("btrfs"), QStringLiteral("/dev/loop0")),
        mountEntry(QStringLiteral("/@data"), QStringLiteral("/tmp/q15cap/sub"), QStringLiteral("btrfs"), QStringLiteral("/dev/loop0")),
    };
    VolumeInfo volume;
    volume.name = QStringLiteral("SNAPVOL");
    volume.device = QStringLiteral("/dev/loop0");
    volume.mountPoint = QStringLiteral("/tmp/q15cap/mnt");
    sources.volumes = {volume};
    sources.hasSnapperConfigs = true;
    return sources;
}
