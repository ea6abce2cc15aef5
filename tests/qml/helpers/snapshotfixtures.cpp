#include "snapshotfixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QtQml/qqml.h>

#include "snapshots/snapshotservice.h"
#include "system/appsettings.h"

using namespace Qt::Literals::StringLiterals;

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

// The tests must never read or change the preferences of whoever runs them.
void privateSettings()
{
    static QTemporaryDir folder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
    qmlRegisterSingletonType<SnapshotFixtures>("QuorvelTest", 1, 0, "Fixtures",
                                               [](QQmlEngine *, QJSEngine *) { return new SnapshotFixtures; });
}
Q_COREAPP_STARTUP_FUNCTION(privateSettings)

} // namespace

SnapshotFixtures::SnapshotFixtures()
{
    plant(m_snapshot.path() + u"/notes.txt"_s, "notes as they were");
    plant(m_snapshot.path() + u"/photo.jpg"_s, "jpeg");
    plant(m_snapshot.path() + u"/Documents/report.pdf"_s, "pdf");
    plant(m_live.path() + u"/notes.txt"_s, "notes as they are");
}

void SnapshotFixtures::fill(QObject *service, int count, bool failed, bool refusedToUser)
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

QString SnapshotFixtures::freshTarget()
{
    const QString path = m_targets.filePath(QString::number(++m_targetCount));
    QDir().mkpath(path);
    return path;
}

void SnapshotFixtures::resetSettings()
{
    AppSettings *settings = AppSettings::instance();
    settings->setDefaultRecoveryPath(QString());
    settings->setShowHiddenFiles(false);
    settings->setConfirmBeforeRecover(true);
    settings->setMaxCarvingFileSize(100);
}
