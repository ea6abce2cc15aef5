// A Trash of the tests' own for the QML tests: HOME points into a temporary
// folder before any screen looks for the Trash, so no test ever lists (or
// restores from) the Trash of whoever runs them, nor shares one with a test
// running beside it. TrashFixture (import QuorvelTest) fills it.

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QtQml/qqml.h>

#include "helpers/fakeplatform.h"

namespace {

QTemporaryDir &scratch()
{
    static QTemporaryDir folder;
    return folder;
}

// Where the Linux backend looks, asked the same way (the runner may have
// switched QStandardPaths to its test locations).
QString trashFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");
}

// The machine's own volumes, without their Trash folders: a volume another
// test (or the machine) has mounted may hold a .Trash-UID of its own, and the
// screen would list it beside the fixture's.
class PlatformWithoutVolumeTrashes final : public FakePlatform
{
public:
    QList<VolumeInfo> discoverVolumes() override { return m_real->discoverVolumes(); }
    QList<TrashLocation> volumeTrashes(const QString &) const override { return {}; }
};

} // namespace

class TrashFixture : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    Q_INVOKABLE void clear() { QDir(trashFolder()).removeRecursively(); }

    // files/NAME of `size` bytes, deleted `hoursAgo` from a folder below the
    // scratch home.
    Q_INVOKABLE void addItem(const QString &name, int hoursAgo, int size)
    {
        QDir().mkpath(trashFolder() + QStringLiteral("/files"));
        QDir().mkpath(trashFolder() + QStringLiteral("/info"));
        QFile file(trashFolder() + QStringLiteral("/files/") + name);
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray(size, 'x'));
        QFile info(trashFolder() + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo"));
        if (info.open(QIODevice::WriteOnly)) {
            const QString original = scratch().filePath(QStringLiteral("home/") + name);
            info.write("[Trash Info]\nPath=" + QUrl::toPercentEncoding(original, "/") + "\nDeletionDate="
                       + QDateTime::currentDateTime().addSecs(-3600LL * hoursAgo).toString(Qt::ISODate).toUtf8() + '\n');
        }
    }

    // A new empty folder to restore into.
    Q_INVOKABLE QUrl newFolder()
    {
        const QString path = scratch().filePath(QStringLiteral("out-") + QString::number(++m_folders));
        QDir().mkpath(path);
        return QUrl::fromLocalFile(path);
    }

    Q_INVOKABLE QStringList entries(const QUrl &folder) const
    {
        return QDir(folder.toLocalFile()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

private:
    int m_folders = 0;
};

static void setUpTrashFixture()
{
    const QString home = scratch().filePath(QStringLiteral("home"));
    QDir().mkpath(home);
    qputenv("HOME", QFile::encodeName(home));
    qunsetenv("XDG_DATA_HOME");
    replaceRunningPlatform(std::make_shared<PlatformWithoutVolumeTrashes>());
    qmlRegisterSingletonType<TrashFixture>("QuorvelTest", 1, 0, "TrashFixture",
                                           [](QQmlEngine *, QJSEngine *) -> QObject * { return new TrashFixture; });
}
Q_COREAPP_STARTUP_FUNCTION(setUpTrashFixture)

#include "trashfixture.moc"
