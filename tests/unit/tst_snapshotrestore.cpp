#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "helpers/testsupport.h"
#include "snapshots/snapshotfiles.h"
#include "snapshots/snapshotrestore.h"

using namespace Qt::Literals::StringLiterals;

namespace {

void plant(const QString &path, const QByteArray &content, const QDateTime &modified = {})
{
    QVERIFY(writeFile(path, content));
    QFile file(path);
    if (modified.isValid())
        QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(modified, QFileDevice::FileModificationTime));
}

mode_t modeOf(const QString &path)
{
    struct stat status {};
    ::lstat(QFile::encodeName(path).constData(), &status);
    return status.st_mode;
}

const QDateTime monday(QDate(2026, 11, 30), QTime(8, 15, 0));

} // namespace

class TestSnapshotRestore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void copiesOutWithoutReplacingAnything()
    {
        QTemporaryDir snapshot;
        QTemporaryDir target;
        const QString kept = snapshot.path();
        plant(kept + u"/report.pdf"_s, "kept report", monday);
        plant(kept + u"/Photos/a.jpg"_s, "jpeg");
        plant(kept + u"/Photos/2026/b.png"_s, "png");
        ::chmod(QFile::encodeName(kept + u"/report.pdf"_s).constData(), 04750);
        QVERIFY(QFile::link(u"/etc/passwd"_s, kept + u"/link"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(kept + u"/pipe"_s).constData(), 0600), 0);
        plant(target.path() + u"/report.pdf"_s, "the user's own");

        const RestoreOutcome outcome = restoreFromSnapshot(
            kept, {"report.pdf", "Photos", "link", "pipe", "../escape", "/etc"}, target.path(), {}, {}, {});
        QCOMPARE(outcome.itemsRestored, 3);
        QCOMPARE(outcome.filesCopied, 4);
        QCOMPARE(outcome.failures.size(), 1);
        QVERIFY(outcome.failures.first().startsWith(kept + u"/pipe"_s));

        QCOMPARE(readFile(target.path() + u"/report.pdf"_s), QByteArray("the user's own"));
        const QString copy = target.path() + u"/report (1).pdf"_s;
        QCOMPARE(readFile(copy), QByteArray("kept report"));
        QCOMPARE(QFileInfo(copy).lastModified(), monday);
        // Mode kept, set-id bit dropped.
        QCOMPARE(modeOf(copy) & 07777, mode_t(0750));
        QCOMPARE(readFile(target.path() + u"/Photos/2026/b.png"_s), QByteArray("png"));
        // The link is copied as a link, never followed.
        QCOMPARE(QFileInfo(target.path() + u"/link"_s).symLinkTarget(), u"/etc/passwd"_s);
        QVERIFY(S_ISLNK(modeOf(target.path() + u"/link"_s)));
        QVERIFY(!QFileInfo::exists(target.path() + u"/pipe"_s));
        QCOMPARE(QDir(target.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size(), 4);
    }

    void nothingIsWrittenIntoASnapshot_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::addColumn<bool>("protectedOnly");
        QTest::addRow("the snapshot itself") << u""_s << false;
        QTest::addRow("a folder inside it") << u"/Photos"_s << false;
        QTest::addRow("another listed snapshot") << u"/Photos"_s << true;
    }
    void nothingIsWrittenIntoASnapshot()
    {
        QFETCH(QString, destination);
        QFETCH(bool, protectedOnly);
        QTemporaryDir snapshot;
        QTemporaryDir other;
        plant(snapshot.path() + u"/Photos/a.jpg"_s, "jpeg");
        plant(other.path() + u"/x.txt"_s, "x");
        const QString root = protectedOnly ? other.path() : snapshot.path();
        const RestoreOutcome outcome = restoreFromSnapshot(root, {"x.txt", "Photos/a.jpg"}, snapshot.path() + destination,
                                                           {snapshot.path()}, {}, {});
        QVERIFY(!outcome.refusal.isEmpty());
        QCOMPARE(outcome.filesCopied, 0);
        QCOMPARE(QDir(snapshot.path() + u"/Photos"_s).entryList(QDir::Files).size(), 1);
    }

    // A Latin-1 name from an old disk is found again by its bytes.
    void namesThatAreNotUtf8()
    {
        QTemporaryDir snapshot;
        QTemporaryDir target;
        const QByteArray name("caf\xe9.txt");
        const QByteArray path = QFile::encodeName(snapshot.path()) + '/' + name;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "latin", 5), 5);
        ::close(fd);
        int error = -1;
        const QList<SnapshotFile> listed = listSnapshotFolder(QFile::encodeName(snapshot.path()), &error);
        QCOMPARE(error, 0);
        QCOMPARE(listed.size(), 1);
        QCOMPARE(listed.first().rawName, name);
        const RestoreOutcome outcome = restoreFromSnapshot(snapshot.path(), {listed.first().rawName}, target.path(), {}, {}, {});
        QCOMPARE(outcome.itemsRestored, 1);
        struct stat status {};
        const QByteArray copy = QFile::encodeName(target.path()) + '/' + name;
        QCOMPARE(::lstat(copy.constData(), &status), 0);
        QCOMPARE(status.st_size, 5);
        // QDir can't name them either, so they go by hand.
        ::unlink(copy.constData());
        ::unlink(path.constData());
    }

    void copiesKeepTheirOwnersWhenRunAsRoot()
    {
        if (::geteuid() != 0)
            QSKIP("only root can give a file away");
        QTemporaryDir snapshot;
        QTemporaryDir target;
        const uid_t user = 4242;
        const gid_t group = 4343;
        plant(snapshot.path() + u"/Documents/thesis.odt"_s, "thesis");
        QVERIFY(QFile::link(u"thesis.odt"_s, snapshot.path() + u"/Documents/latest"_s));
        for (const QString &path : {u"/Documents"_s, u"/Documents/thesis.odt"_s, u"/Documents/latest"_s})
            QCOMPARE(::lchown(QFile::encodeName(snapshot.path() + path).constData(), user, group), 0);

        const RestoreOutcome outcome = restoreFromSnapshot(snapshot.path(), {"Documents"}, target.path(), {}, {}, {});
        QCOMPARE(outcome.itemsRestored, 1);
        for (const QString &path : {u"/Documents"_s, u"/Documents/thesis.odt"_s, u"/Documents/latest"_s}) {
            struct stat status {};
            QCOMPARE(::lstat(QFile::encodeName(target.path() + path).constData(), &status), 0);
            QCOMPARE(status.st_uid, user);
            QCOMPARE(status.st_gid, group);
        }
    }

    void holesStayHoles_data()
    {
        QTest::addColumn<bool>("withHoles");
        QTest::addRow("a disk image with holes") << true;
        // Zeros written on purpose (a preallocated database) keep their room.
        QTest::addRow("zeros written out") << false;
    }
    void holesStayHoles()
    {
        QFETCH(bool, withHoles);
        QTemporaryDir snapshot;
        QTemporaryDir target;
        const QByteArray path = QFile::encodeName(snapshot.path() + u"/disk.img"_s);
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        const off_t size = 8 << 20;
        const QByteArray zeros(size, '\0');
        if (!withHoles)
            QCOMPARE(::pwrite(fd, zeros.constData(), size_t(size), 0), ssize_t(size));
        QCOMPARE(::pwrite(fd, "boot", 4, 0), ssize_t(4));
        QCOMPARE(::pwrite(fd, "data", 4, 3 << 20), ssize_t(4));
        QCOMPARE(::ftruncate(fd, size), 0);
        ::close(fd);
        struct stat source {};
        QCOMPARE(::stat(path.constData(), &source), 0);
        if (withHoles && source.st_blocks * 512 >= size)
            QSKIP("this file system keeps no holes");

        const RestoreOutcome outcome = restoreFromSnapshot(snapshot.path(), {"disk.img"}, target.path(), {}, {}, {});
        QCOMPARE(outcome.itemsRestored, 1);
        QFile original(snapshot.path() + u"/disk.img"_s);
        QFile copy(target.path() + u"/disk.img"_s);
        QVERIFY(original.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), original.readAll());
        struct stat copied {};
        QCOMPARE(::stat(QFile::encodeName(copy.fileName()).constData(), &copied), 0);
        if (withHoles)
            QVERIFY(copied.st_blocks * 512 < size / 2);
        else
            QVERIFY(copied.st_blocks * 512 >= size);
    }

    void aStoppedRestoreLeavesNoHalfFile()
    {
        QTemporaryDir snapshot;
        QTemporaryDir target;
        QFile big(snapshot.path() + u"/big.img"_s);
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(8 << 20));
        big.close();
        int reports = 0;
        const RestoreOutcome outcome = restoreFromSnapshot(
            snapshot.path(), {"big.img"}, target.path(), {}, [&reports] { return reports > 1; },
            [&reports](qint64, qint64 total) {
                QCOMPARE(total, qint64(8 << 20));
                ++reports;
            });
        QVERIFY(outcome.cancelled);
        QCOMPARE(outcome.itemsRestored, 0);
        QVERIFY(outcome.failures.isEmpty());
        QVERIFY(QDir(target.path()).isEmpty());
    }

    void comparisonWithTheLiveVolume_data()
    {
        QTest::addColumn<QByteArray>("kept");
        QTest::addColumn<QByteArray>("live");
        QTest::addColumn<bool>("sameTime");
        QTest::addColumn<int>("expected");
        const int same = int(SnapshotComparison::same);
        const int changed = int(SnapshotComparison::changed);
        const int missing = int(SnapshotComparison::missing);
        const int present = int(SnapshotComparison::present);
        QTest::addRow("gone") << QByteArray("abc") << QByteArray() << true << missing;
        QTest::addRow("untouched") << QByteArray("abc") << QByteArray("abc") << true << same;
        QTest::addRow("other size") << QByteArray("abc") << QByteArray("abcd") << true << changed;
        QTest::addRow("same size, edited") << QByteArray("abc") << QByteArray("abd") << false << changed;
        QTest::addRow("touched, same bytes") << QByteArray("abc") << QByteArray("abc") << false << same;
        QTest::addRow("a folder now") << QByteArray("abc") << QByteArray("<dir>") << true << changed;
        // Files deleted inside a folder that is still there must not hide
        // behind a "same" on the folder.
        QTest::addRow("folder still there") << QByteArray("<dir>") << QByteArray("<dir>") << true << present;
        QTest::addRow("folder gone") << QByteArray("<dir>") << QByteArray() << true << missing;
    }
    void comparisonWithTheLiveVolume()
    {
        QFETCH(QByteArray, kept);
        QFETCH(QByteArray, live);
        QFETCH(bool, sameTime);
        QTemporaryDir folder;
        const QString keptPath = folder.path() + u"/kept"_s;
        const QString livePath = folder.path() + u"/live"_s;
        if (kept == "<dir>")
            QDir().mkpath(keptPath);
        else
            plant(keptPath, kept, monday);
        if (live == "<dir>")
            QDir().mkpath(livePath);
        else if (!live.isEmpty())
            plant(livePath, live, sameTime ? monday : monday.addDays(1));
        QTEST(int(compareWithLive(QFile::encodeName(keptPath), QFile::encodeName(livePath))), "expected");
    }
};

QTEST_GUILESS_MAIN(TestSnapshotRestore)
#include "tst_snapshotrestore.moc"
