#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "carving/directoryscan.h"
#include "carving/filecarvingservice.h"
#include "helpers/fakeplatform.h"
#include "helpers/reviewrecorder.h"
#include "helpers/testsupport.h"

using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Names ending in "/" are folders; every other name gets `bytes`.
void plantTree(const QString &root, const QStringList &names, const QByteArray &bytes)
{
    for (const QString &name : names) {
        if (name.endsWith(u'/'))
            QDir().mkpath(root + u'/' + name);
        else
            writeFile(root + u'/' + name, bytes);
    }
}

QStringList numbered(const QString &prefix, int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names.append(prefix + QString::asprintf("%03d", i));
    return names;
}

} // namespace

class TestDirectoryScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void eachFileByItsFirstSignature_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("type"); // empty: no hit
        QTest::addRow("JPEG") << u"a.jpg"_s << hex("FFD8FFE000104A4649460001") << u"JPEG"_s;
        QTest::addRow("text") << u"b.txt"_s << QByteArray("plain words") << QString();
        QTest::addRow("empty file") << u"c.png"_s << QByteArray() << QString();
        // MP4 comes before M4A in the catalogue and takes every ftyp brand.
        QTest::addRow("M4A brand") << u"song.m4a"_s << hex("00000020667479704D344120000000004D344120") << u"MP4"_s;
        QTest::addRow("HEIC before MP4") << u"p.heic"_s << hex("0000001866747970686569630000000000") << u"HEIC"_s;
        QTest::addRow("WAVE after WebP and AVI") << u"s.wav"_s << hex("524946462400000057415645666d7420") << u"WAV"_s;
        QTest::addRow("hidden file") << u".secret.jpg"_s << hex("FFD8FFE1") << u"JPEG"_s;
        QTest::addRow("three bytes") << u"tiny.jpg"_s << hex("FFD8FF") << u"JPEG"_s;
        QTest::addRow("two bytes") << u"tinier.jpg"_s << hex("FFD8") << QString();
    }
    void eachFileByItsFirstSignature()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, type);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(name), bytes));
        ReviewRecorder sink;
        scanDirectoryTree(dir.path(), defaultSignatures(), sink, TreeWalk::Scope::realFileSystems);
        QVERIFY(sink.errors.isEmpty());
        QCOMPARE(sink.hits.size(), type.isEmpty() ? 0 : 1);
        if (type.isEmpty())
            return;
        const CarvedFile &hit = sink.hits.first();
        QCOMPARE(hit.signatureType, type);
        QCOMPARE(hit.offset, quint64(0));
        QCOMPARE(hit.estimatedSize, qint64(bytes.size()));
        QCOMPARE(hit.health, CarvedFileHealth::good);
        QVERIFY(!hit.data);
        QCOMPARE(hit.sourcePath, dir.filePath(name));
        QCOMPARE(hit.recoveryStatus, RecoveryStatus::unknown);
        QCOMPARE(sink.statuses, QStringList{u"Found 1 files... "_s + name});
    }

    // "Scanned N files..." counts every entry, folders included, but only an
    // entry that was read posts it.
    void scannedTextCadence_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("expected");
        QTest::addRow("250 files") << numbered(u"f"_s, 250) << QStringList{u"Scanned 100 files..."_s, u"Scanned 200 files..."_s};
        QTest::addRow("a folder as the 100th entry")
            << numbered(u"a"_s, 99) + QStringList{u"b/"_s} + numbered(u"b/f"_s, 100)
            << QStringList{u"Scanned 200 files..."_s};
    }
    void scannedTextCadence()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        plantTree(dir.path(), names, "text");
        ReviewRecorder sink;
        scanDirectoryTree(dir.path(), defaultSignatures(), sink, TreeWalk::Scope::realFileSystems);
        QCOMPARE(sink.statuses, expected);
    }

    void unreadableRoots_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addRow("missing") << u"nope"_s;
        QTest::addRow("a file") << u"file.jpg"_s;
        QTest::addRow("empty path") << QString();
    }
    void unreadableRoots()
    {
        QFETCH(QString, relative);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(u"file.jpg"_s), hex("FFD8FFE0")));
        const QString root = relative.isEmpty() ? QString() : dir.filePath(relative);
        ReviewRecorder sink;
        scanDirectoryTree(root, defaultSignatures(), sink, TreeWalk::Scope::realFileSystems);
        QCOMPARE(sink.errors, QStringList{u"Cannot access directory: "_s + root});
        QVERIFY(sink.hits.isEmpty());
    }

    // The cancel flag is read before each entry; what was found stays.
    void stopsMidWalk()
    {
        QTemporaryDir dir;
        plantTree(dir.path(), numbered(u"p"_s, 30), hex("FFD8FFE0"));
        ReviewRecorder sink;
        sink.stopAfter = 10;
        scanDirectoryTree(dir.path(), defaultSignatures(), sink, TreeWalk::Scope::realFileSystems);
        QCOMPARE(sink.hits.size(), 10);
        QCOMPARE(sink.statuses.last(), u"Found 10 files... p009"_s);
    }

    // The whole Directory Scan mode through the service: hits, matching
    // against the same folder (all of them exist), and saving copies of them.
    void directoryScanEndToEnd()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"photos"_s);
        const QByteArray photo = hex("FFD8FFE000104A464946") + QByteArray(5000, 'x') + hex("FFD9");
        QVERIFY(writeFile(folder + u"/one.jpg"_s, photo));
        QVERIFY(writeFile(folder + u"/sub/two.jpg"_s, photo + "2"));
        QVERIFY(writeFile(folder + u"/notes.txt"_s, "not a photo"));
        FileCarvingService service(std::make_shared<FakePlatform>());
        QStringList statuses;
        connect(&service, &FileCarvingService::statusMessageChanged, &service,
                [&] { statuses.append(service.statusMessage()); });
        service.startDirectoryScan(folder, {u"JPEG"_s});
        QTRY_VERIFY(!service.isScanning());

        QCOMPARE(service.carvedFiles()->rowCount(), 2);
        QCOMPARE(service.existingFileCount(), 2);
        QVERIFY(statuses.contains(u"Filtering complete: 2 existing files identified"_s));
        QVERIFY(statuses.last().startsWith(u"Scan complete: 2 files found • "_s));
        const CarvedFile &first = service.carvedFiles()->at(0);
        QCOMPARE(first.recoveryStatus, RecoveryStatus::existing);
        QCOMPARE(first.matchedExistingPath, std::optional(folder + u"/one.jpg"_s));

        const QString target = dir.filePath(u"saved"_s);
        QVERIFY(QDir().mkpath(target));
        QCOMPARE(service.saveAllCarvedFiles(target), (SaveCounts{2, 0, 0}));
        QFile copy(target + u"/two.jpg"_s);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), photo + "2");
    }

    // A dismissed password dialog leaves the raw pass with nothing; the user
    // then gets the Directory Scan of the mount point, not "0 files found".
    // A device that is not mounted has no files to fall back to: the reason
    // the raw pass failed stays on the screen.
    void refusedPasswordFallsBackToTheMountPoint_data()
    {
        QTest::addColumn<bool>("mounted");
        QTest::addRow("mounted") << true;
        QTest::addRow("not mounted") << false;
    }
    void refusedPasswordFallsBackToTheMountPoint()
    {
        QFETCH(bool, mounted);
        QTemporaryDir dir;
        const QString mountPoint = dir.filePath(u"volume"_s);
        QVERIFY(writeFile(mountPoint + u"/DCIM/img.jpg"_s, hex("FFD8FFE0") + QByteArray(100, 'i')));
        VolumeInfo volume;
        volume.name = u"Locked"_s;
        volume.mountPoint = mounted ? mountPoint : QString();
        volume.rawDevice = dir.filePath(u"unreadable-device"_s);
        auto platform = std::make_shared<FakePlatform>();
        platform->admin.refuse = true;
        FileCarvingService service(platform);
        QStringList statuses;
        connect(&service, &FileCarvingService::statusMessageChanged, &service,
                [&] { statuses.append(service.statusMessage()); });
        service.scanVolume(volume, std::nullopt);
        QTRY_VERIFY(!service.isScanning());

        QCOMPARE(platform->admin.pipedRuns.size(), 1); // the password was asked for
        QCOMPARE(service.hasError(), !mounted);
        QCOMPARE(statuses.contains(u"Raw scan found no files (drive may be encrypted). Scanning directory..."_s), mounted);
        QCOMPARE(service.carvedFiles()->rowCount(), mounted ? 1 : 0);
        QCOMPARE(service.existingFileCount(), mounted ? 1 : 0);
        if (mounted)
            QCOMPARE(service.carvedFiles()->at(0).sourcePath, mountPoint + u"/DCIM/img.jpg"_s);
        QVERIFY(statuses.last().startsWith(u"Scan complete: "_s));
    }
};

QTEST_GUILESS_MAIN(TestDirectoryScan)
#include "tst_directoryscan.moc"
