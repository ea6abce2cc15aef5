// Made-up snapshot listings for the QML tests of the Snapshots screen, a
// folder of files to browse and folders to restore into, and the shared
// preferences put back to their defaults (the runner keeps them in its test
// location). SnapshotFixture (import QuorvelTest) does it.

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QtQml/qqml.h>

#include "snapshots/snapshotservice.h"
#include "system/appsettings.h"

using namespace Qt::Literals::StringLiterals;

class SnapshotFixture : public QObject
{
    Q_OBJECT

public:
    SnapshotFixture();

    // `count` snapshots (at most 3): a Snapper one with a folder, an LVM
    // one without, a btrfs one without a date. `failed`: the listing also
    // failed; `refusedToUser`: listing as root would help.
    Q_INVOKABLE void fill(QObject *service, int count, bool failed, bool refusedToUser);
    // An empty folder to restore into.
    Q_INVOKABLE QString freshTarget();
    Q_INVOKABLE void resetSettings();

private:
    QTemporaryDir m_snapshot;
    QTemporaryDir m_live;
    QTemporaryDir m_targets;
    int m_targetCount = 0;
};

namespace {

void plant(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

SnapshotEntry entry(const QString &name, SnapshotKind kind, std::optional<QDateTime> date, const QString &folder,
                    const QString &live, const QString &command)
{
    SnapshotEntry made;
    made.info.name = name;
    made.info.date = date;
    made.info.volumeName = u"Root"_s;
    made.info.volumeDevice = u"/dev/nvme0n1p2"_s;
    made.kind = kind;
    made.folder = folder;
    made.liveFolder = live;
    made.manualCommand = command;
    return made;
}

} // namespace

SnapshotFixture::SnapshotFixture()
{
    plant(m_snapshot.path() + u"/notes.txt"_s, "notes as they were");
    plant(m_snapshot.path() + u"/photo.jpg"_s, "jpeg");
    plant(m_snapshot.path() + u"/Documents/report.pdf"_s, "pdf");
    plant(m_live.path() + u"/notes.txt"_s, "notes as they are");
}

void SnapshotFixture::fill(QObject *service, int count, bool failed, bool refusedToUser)
{
    auto *snapshots = qobject_cast<SnapshotService *>(service);
    if (!snapshots)
        return;
    const QList<SnapshotEntry> all = {
        entry(u"root #42 – before upgrade"_s, SnapshotKind::snapper, QDateTime(QDate(2026, 12, 6), QTime(14, 2)),
              m_snapshot.path(), m_live.path(), u"snapper -c root list"_s),
        entry(u"data_before_resize"_s, SnapshotKind::lvm, QDateTime(QDate(2026, 12, 2), QTime(18, 45)), QString(), QString(),
              u"mount -o ro /dev/vg0/data_before_resize /mnt"_s),
        entry(u"@/.snapshots/1/snapshot"_s, SnapshotKind::btrfs, std::nullopt, QString(), QString(),
              u"mount -o ro,subvol=@/.snapshots/1/snapshot /dev/nvme0n1p2 /mnt"_s),
    };
    snapshots->applyListing({all.mid(0, qBound(0, count, 3)), failed}, refusedToUser);
}

QString SnapshotFixture::freshTarget()
{
    const QString path = m_targets.filePath(QString::number(++m_targetCount));
    QDir().mkpath(path);
    return path;
}

void SnapshotFixture::resetSettings()
{
    AppSettings *settings = AppSettings::instance();
    settings->setDefaultRecoveryPath(QString());
    settings->setShowHiddenFiles(false);
    settings->setConfirmBeforeRecover(true);
    settings->setMaxCarvingFileSize(100);
}

static void registerSnapshotFixture()
{
    qmlRegisterSingletonType<SnapshotFixture>("QuorvelTest", 1, 0, "SnapshotFixture",
                                              [](QQmlEngine *, QJSEngine *) -> QObject * { return new SnapshotFixture; });
}
Q_COREAPP_STARTUP_FUNCTION(registerSnapshotFixture)

#include "snapshotfixture.moc"
