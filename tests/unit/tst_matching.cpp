#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include "carving/existingfiles.h"
#include "carving/filecarvingservice.h"
#include "helpers/fakeplatform.h"
#include "helpers/reviewrecorder.h"
#include "helpers/testsupport.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// A JPEG of `size` bytes whose first 32 bytes are told apart by `tag`.
QByteArray jpegOf(const QByteArray &tag, int size)
{
    QByteArray bytes = QByteArray::fromHex("FFD8FFE0") + tag;
    bytes.append(QByteArray(size - bytes.size(), 'x'));
    return bytes;
}

const QByteArray photoA = jpegOf("photo A", 1000);
const QByteArray twin = jpegOf("twin", 500);
const QByteArray hiddenH = jpegOf("hidden H", 300);
const QByteArray hiddenI = jpegOf("hidden I", 300);
const QByteArray forty = jpegOf("forty bytes long, cut at 32 .....", 40);
const QByteArray wave = QByteArray("RIFF\x54\x02\x00\x00WAVEfmt ", 16) + QByteArray(584, 'w');

CarvedFile dataHit(const QString &type, const QByteArray &bytes, qint64 size)
{
    CarvedFile hit;
    hit.signatureType = type;
    hit.estimatedSize = size;
    hit.data = CarvedData::fromBytes(bytes.left(32));
    return hit;
}

CarvedFile pathHit(const QString &sourcePath)
{
    CarvedFile hit;
    hit.signatureType = u"JPEG"_s;
    hit.sourcePath = sourcePath;
    return hit;
}

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60'000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QString();
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed() + u" "_s;
}

} // namespace

class TestMatching : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString root = m_dir.path();
        QVERIFY(writeFile(root + u"/photos/a.jpg"_s, photoA));
        QVERIFY(writeFile(root + u"/b/dup.jpg"_s, twin));
        QVERIFY(writeFile(root + u"/c/dup.jpg"_s, twin));
        QVERIFY(writeFile(root + u"/.hidden/h.jpg"_s, hiddenH));
        QVERIFY(writeFile(root + u"/.i.jpg"_s, hiddenI));
        QVERIFY(writeFile(root + u"/tiny.bmp"_s, "BM"));
        QVERIFY(writeFile(root + u"/forty.jpg"_s, forty));
        QVERIFY(writeFile(root + u"/s.wav"_s, wave));
        QVERIFY(writeFile(root + u"/docs/plain.jpg"_s, "JPEG by name only"));
        QVERIFY(writeFile(root + u"/.local/share/Trash/files/t.jpg"_s, photoA));
    }

    void marksEachHit_data()
    {
        QTest::addColumn<CarvedFile>("hit");
        QTest::addColumn<RecoveryStatus>("status");
        QTest::addColumn<QString>("matched"); // relative to the root; empty: none
        const auto existing = RecoveryStatus::existing;
        const auto deleted = RecoveryStatus::deleted;
        const QString root = m_dir.path() + u'/';
        QTest::addRow("exact") << dataHit(u"JPEG"_s, photoA, 1000) << existing << u"photos/a.jpg"_s;
        QTest::addRow("a tenth smaller") << dataHit(u"JPEG"_s, photoA, 900) << existing << u"photos/a.jpg"_s;
        QTest::addRow("just beyond a tenth smaller") << dataHit(u"JPEG"_s, photoA, 899) << deleted << QString();
        QTest::addRow("a tenth of the larger, above") << dataHit(u"JPEG"_s, photoA, 1111) << existing << u"photos/a.jpg"_s;
        QTest::addRow("just beyond, above") << dataHit(u"JPEG"_s, photoA, 1112) << deleted << QString();
        QTest::addRow("the later of two equals") << dataHit(u"JPEG"_s, twin, 500) << existing << u"c/dup.jpg"_s;
        QTest::addRow("in a hidden folder") << dataHit(u"JPEG"_s, hiddenH, 300) << deleted << QString();
        QTest::addRow("a hidden file") << dataHit(u"JPEG"_s, hiddenI, 300) << deleted << QString();
        QTest::addRow("a two-byte file") << dataHit(u"BMP"_s, "BM", 2) << deleted << QString();
        QTest::addRow("forty bytes, on the first 32") << dataHit(u"JPEG"_s, forty, 40) << existing << u"forty.jpg"_s;
        QTest::addRow("validator hands on to WAV") << dataHit(u"WAV"_s, wave, 600) << existing << u"s.wav"_s;
        QTest::addRow("the type that rejected it") << dataHit(u"WebP"_s, wave, 600) << deleted << QString();
        QTest::addRow("same bytes, other type") << dataHit(u"PNG"_s, photoA, 1000) << deleted << QString();
        QTest::addRow("no data, file there") << pathHit(root + u"docs/plain.jpg"_s) << existing << u"docs/plain.jpg"_s;
        QTest::addRow("no data, file gone") << pathHit(root + u"docs/gone.jpg"_s) << deleted << QString();
        QTest::addRow("no data, no path") << pathHit(QString()) << RecoveryStatus::unknown << QString();
        QTest::addRow("macOS volume Trash") << pathHit(u"/Volumes/X/.Trashes/501/a.jpg"_s) << deleted << QString();
        QTest::addRow("home Trash in capitals") << pathHit(u"/Users/u/.TRASH/a.jpg"_s) << deleted << QString();
        QTest::addRow("freedesktop home Trash, file there")
            << pathHit(root + u".local/share/Trash/files/t.jpg"_s) << deleted << QString();
        QTest::addRow("freedesktop volume Trash")
            << pathHit(u"/media/u/usb/.Trash-1000/files/a.jpg"_s) << deleted << QString();
    }
    void marksEachHit()
    {
        QFETCH(CarvedFile, hit);
        QFETCH(RecoveryStatus, status);
        QFETCH(QString, matched);
        ReviewRecorder sink;
        sink.hits = {hit};
        matchExistingFiles(m_dir.path(), defaultSignatures(), sink, TreeWalk::Scope::realFileSystems);
        const CarvedFile &marked = sink.hits.first();
        QCOMPARE(marked.recoveryStatus, status);
        QCOMPARE(marked.matchedExistingPath.value_or(QString()),
                 matched.isEmpty() ? QString() : m_dir.path() + u'/' + matched);
        const int existing = status == RecoveryStatus::existing ? 1 : 0;
        QCOMPARE(sink.existingFileCount, existing);
        QCOMPARE(sink.statuses.first(), u"Filtering: comparing with existing files on volume..."_s);
        QCOMPARE(sink.statuses.last(), u"Filtering complete: %1 existing files identified"_s.arg(existing));
    }

    void aMissingRootMarksNothing()
    {
        ReviewRecorder sink;
        sink.hits = {dataHit(u"JPEG"_s, photoA, 1000)};
        matchExistingFiles(m_dir.filePath(u"nope"_s), defaultSignatures(), sink, TreeWalk::Scope::realFileSystems);
        QCOMPARE(sink.hits.first().recoveryStatus, RecoveryStatus::unknown);
        QCOMPARE(sink.existingFileCount, -1);
        QCOMPARE(sink.statuses, QStringList{u"Filtering: comparing with existing files on volume..."_s});
    }

    // "checked N" counts the entries seen (hidden ones are not seen), and
    // only a file that was read posts it.
    void checkedTextCadence_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<QStringList>("middle");
        QTest::addColumn<int>("after");
        QTest::addColumn<QStringList>("expected");
        const QString checked = u"Filtering: checked %1 existing files..."_s;
        QTest::addRow("1000 files") << 1000 << QStringList() << 0 << QStringList{checked.arg(500), checked.arg(1000)};
        QTest::addRow("hidden files not counted") << 998 << QStringList{u".x"_s, u".y"_s} << 0 << QStringList{checked.arg(500)};
        QTest::addRow("a two-byte file at 500") << 499 << QStringList{u"m"_s} << 500 << QStringList{checked.arg(1000)};
    }
    void checkedTextCadence()
    {
        QFETCH(int, before);
        QFETCH(QStringList, middle);
        QFETCH(int, after);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        for (int i = 0; i < before; ++i)
            QVERIFY(writeFile(dir.filePath(QString::asprintf("a%04d", i)), "abc"));
        for (const QString &name : std::as_const(middle))
            QVERIFY(writeFile(dir.filePath(name), name.startsWith(u'.') ? "abc" : "ab"));
        for (int i = 0; i < after; ++i)
            QVERIFY(writeFile(dir.filePath(QString::asprintf("z%04d", i)), "abc"));
        ReviewRecorder sink;
        sink.hits = {dataHit(u"JPEG"_s, QByteArray::fromHex("FFD8FFE0"), 4)};
        matchExistingFiles(dir.path(), defaultSignatures(), sink, TreeWalk::Scope::realFileSystems);
        QCOMPARE(sink.statusesStartingWith(u"Filtering: checked"_s), expected);
    }

    // Stopped half way: the hits are still marked, against the files seen.
    void stoppedMidWalkMarksAgainstThePartialTable()
    {
        QTemporaryDir dir;
        ReviewRecorder sink;
        for (int i = 0; i < 100; ++i) {
            const QByteArray photo = jpegOf(QByteArray::number(i), 400 + i);
            QVERIFY(writeFile(dir.filePath(QString::asprintf("f%03d.jpg", i)), photo));
            sink.hits.append(dataHit(u"JPEG"_s, photo, photo.size()));
        }
        sink.stopAfter = 50;
        matchExistingFiles(dir.path(), defaultSignatures(), sink, TreeWalk::Scope::realFileSystems);
        for (int i = 0; i < 100; ++i)
            QCOMPARE(sink.hits.at(i).recoveryStatus, i < 50 ? RecoveryStatus::existing : RecoveryStatus::deleted);
        QCOMPARE(sink.existingFileCount, 50);
        QCOMPARE(sink.statuses.last(), u"Filtering complete: 50 existing files identified"_s);
    }

    // The indexed near match against the plain reading: an entry of the
    // same type and hash within a tenth of the larger size. Whenever one
    // qualifies, the table finds one that does; an exact fingerprint wins.
    void indexedMatchAgreesWithAFullScan()
    {
        QRandomGenerator random(7);
        struct Plain { int type; qint64 size; quint64 hash; quint32 path; };
        const QList<FileSignature> signatures = defaultSignatures().mid(0, 2);
        FingerprintTable table(signatures);
        QList<Plain> plain;
        for (quint32 path = 1; path <= 300; ++path) {
            const Plain entry{random.bounded(2), random.bounded(50, 400), quint64(random.bounded(3)), path};
            plain.append(entry);
            table.add(entry.type, entry.size, entry.hash, entry.path);
        }
        table.seal();
        for (int query = 0; query < 3000; ++query) {
            const int type = random.bounded(2);
            const qint64 size = random.bounded(0, 500);
            const quint64 hash = quint64(random.bounded(4));
            std::optional<quint32> exact;
            bool any = false;
            for (const Plain &e : std::as_const(plain)) {
                if (e.type != type || e.hash != hash)
                    continue;
                exact = e.size == size ? std::optional(e.path) : exact;
                any = any || qAbs(e.size - size) <= std::max(e.size, size) / 10;
            }
            const std::optional<quint32> found = table.match(signatures.at(type).typeName, size, hash);
            QCOMPARE(found.has_value(), any);
            if (exact)
                QCOMPARE(*found, *exact);
            if (found) {
                const Plain &e = plain.at(qsizetype(*found) - 1);
                QVERIFY(e.type == type && e.hash == hash && qAbs(e.size - size) <= std::max(e.size, size) / 10);
            }
        }
    }

    // A Volume Scan of a real ext4 volume that is in use: the files still
    // there are told from the deleted one.
    void volumeScanOfALoopMountedExt4()
    {
        if (::geteuid() != 0)
            QSKIP("loop devices need root");
        const QString mkfs = QStandardPaths::findExecutable(u"mkfs.ext4"_s, {u"/sbin"_s, u"/usr/sbin"_s});
        if (mkfs.isEmpty())
            QSKIP("mkfs.ext4 is not installed");
        QTemporaryDir dir;
        const QString image = dir.filePath(u"volume.img"_s);
        const QString mountPoint = dir.filePath(u"mnt"_s);
        QVERIFY(writeFile(image, QByteArray()) && QFile::resize(image, 16 * 1024 * 1024) && QDir().mkpath(mountPoint));
        if (run(mkfs, {u"-q"_s, u"-F"_s, image}).isNull())
            QSKIP("mkfs.ext4 failed");
        const QString device = run(u"/sbin/losetup"_s, {u"-f"_s, u"--show"_s, image}).trimmed();
        if (device.isEmpty())
            QSKIP("no loop device");
        struct Cleanup {
            QString device, mountPoint;
            ~Cleanup()
            {
                QProcess::execute(u"/bin/umount"_s, {mountPoint});
                QProcess::execute(u"/sbin/losetup"_s, {u"-d"_s, device});
            }
        } cleanup{device, mountPoint};
        if (run(u"/bin/mount"_s, {device, mountPoint}).isNull())
            QSKIP("mount refused");

        // A raw carve ends at the last footer of its type in its window, so
        // each file has a type of its own: every carve then ends where its
        // file does, as the matching's exact sizes need.
        const QByteArray kept = QByteArray::fromHex("89504E470D0A1A0A") + "still here" + QByteArray(20000, 'p')
            + QByteArray::fromHex("49454E44AE426082");
        const QByteArray alsoKept = "%PDF-1.4 also here" + QByteArray(30000, 'd') + "%%EOF";
        const QByteArray gone = jpegOf("deleted", 24000) + QByteArray::fromHex("FFD9");
        QVERIFY(writeFile(mountPoint + u"/kept.png"_s, kept));
        QVERIFY(writeFile(mountPoint + u"/album/also.pdf"_s, alsoKept));
        QVERIFY(writeFile(mountPoint + u"/gone.jpg"_s, gone));
        ::sync();
        QVERIFY(QFile::remove(mountPoint + u"/gone.jpg"_s));
        ::sync();

        VolumeInfo volume;
        volume.name = u"Loop"_s;
        volume.mountPoint = mountPoint;
        volume.device = device;
        FileCarvingService service(std::make_shared<FakePlatform>());
        service.scanVolume(volume, FileCarvingService::signaturesNamed({u"JPEG"_s, u"PNG"_s, u"PDF"_s}));
        QTRY_VERIFY_WITH_TIMEOUT(!service.isScanning(), 30'000);

        QHash<QByteArray, CarvedFile> byHead;
        for (const CarvedFile &hit : service.carvedFiles()->files())
            byHead.insert(hit.data ? hit.data->head : QByteArray(), hit);
        QCOMPARE(byHead.value(kept.left(32)).recoveryStatus, RecoveryStatus::existing);
        QCOMPARE(byHead.value(kept.left(32)).matchedExistingPath, std::optional(mountPoint + u"/kept.png"_s));
        QCOMPARE(byHead.value(alsoKept.left(32)).matchedExistingPath, std::optional(mountPoint + u"/album/also.pdf"_s));
        QCOMPARE(byHead.value(gone.left(32)).recoveryStatus, RecoveryStatus::deleted);
        QCOMPARE(service.existingFileCount(), 2);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestMatching)
#include "tst_matching.moc"
