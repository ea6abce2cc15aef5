#include <QSet>
#include <QTest>

#include <thread>

#include "model/bytecount.h"
#include "model/records.h"

class TestRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void categoryFor_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("isDirectory");
        QTest::addColumn<FileCategory>("expected");
        QTest::addRow("upper-case extension") << "PHOTO.JPG" << false << FileCategory::image;
        QTest::addRow("no extension") << "Makefile" << false << FileCategory::other;
        QTest::addRow("folder wins over name") << "music.mp3" << true << FileCategory::folder;
        QTest::addRow("json is code, not document") << "data.json" << false << FileCategory::code;
        QTest::addRow("only the last extension counts") << "backup.tar.gz" << false << FileCategory::archive;
        QTest::addRow("dot in a folder name only") << "/tmp/dir.jpg/file" << false << FileCategory::other;
        QTest::addRow("trailing separator") << "/Users/a/.Trash/Photos.jpg/" << false << FileCategory::image;
        QTest::addRow("trailing dot") << "notes." << false << FileCategory::other;
        QTest::addRow("path with extension") << "/Volumes/Disk/Movies/clip.MOV" << false << FileCategory::video;
        QTest::addRow("unlisted extension") << "a.tgz" << false << FileCategory::other;
        QTest::addRow("empty name") << "" << false << FileCategory::other;
    }
    void categoryFor()
    {
        QFETCH(QString, name);
        QFETCH(bool, isDirectory);
        QFETCH(FileCategory, expected);
        QCOMPARE(::categoryFor(name, isDirectory), expected);
    }

    // Every raw value builds its own case back; any change of case or
    // surrounding space builds nothing. "Unknown" belongs to two enumerations.
    void rawValuesRoundTrip()
    {
        const auto check = [](const auto &cases) {
            using Enum = std::decay_t<decltype(cases[0])>;
            for (const Enum value : cases) {
                const QString raw = rawValue(value);
                QCOMPARE(fromRawValue<Enum>(raw), std::optional<Enum>(value));
                QCOMPARE(fromRawValue<Enum>(raw.toLower()), std::nullopt);
                QCOMPARE(fromRawValue<Enum>(raw.toUpper()), std::nullopt);
                QCOMPARE(fromRawValue<Enum>(raw + QLatin1Char(' ')), std::nullopt);
            }
            QCOMPARE(fromRawValue<Enum>(QString()), std::nullopt);
        };
        check(allNavigationItems());
        check(allFileCategories());
        check(allCarvedFileHealths());
        check(allRecoveryStatuses());
    }

    // Records are told apart by their id alone: a copy with other fields is
    // the same record, a fresh record with the same fields is another.
    void identityIsTheIdAlone()
    {
        CarvedFile a;
        a.signatureType = QStringLiteral("JPEG");
        CarvedFile b = a;
        b.recoveryStatus = RecoveryStatus::existing;
        QVERIFY(a == b);
        QVERIFY(QSet<CarvedFile>{a}.contains(b));
        b.id = QUuid::createUuid();
        QVERIFY(!(a == b));
        TrashItem t1;
        TrashItem t2 = t1;
        t2.fileSize = 99;
        QVERIFY(t1 == t2);
        QCOMPARE(qHash(t1), qHash(t2));
        QVERIFY(!(SnapshotInfo() == SnapshotInfo()));
        QCOMPARE(QSet<VolumeInfo>({VolumeInfo(), VolumeInfo()}).size(), 2);
    }

    // Ids come from a per-thread generator; they must still be well-formed
    // random UUIDs and never repeat, within a thread or across threads.
    void recordIdsAreRandomUuids()
    {
        const auto draw = [](QList<QUuid> *out) {
            for (int i = 0; i < 10000; ++i)
                out->append(newRecordId());
        };
        QList<QUuid> mine, theirs;
        std::thread other(draw, &theirs);
        draw(&mine);
        other.join();
        QSet<QUuid> seen;
        for (const QUuid &id : mine + theirs) {
            QCOMPARE(id.version(), QUuid::Random);
            QCOMPARE(id.variant(), QUuid::DCE);
            seen.insert(id);
        }
        QCOMPARE(seen.size(), 20000);
    }

    void suggestedFileName_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<quint64>("offset");
        QTest::addColumn<QString>("expected");
        QTest::addRow("padded to eight digits") << "JPEG" << "jpg" << quint64(4096) << "recovered_jpeg_00001000.jpg";
        QTest::addRow("nine digits") << "X" << "bin" << quint64(4886718345ULL) << "recovered_x_123456789.bin";
        QTest::addRow("type with slash stays one name") << "ZIP/DOCX" << "zip" << quint64(0xA000) << "recovered_zip_docx_0000A000.zip";
        QTest::addRow("largest offset") << "PDF" << "pdf" << ~quint64(0) << "recovered_pdf_FFFFFFFFFFFFFFFF.pdf";
        QTest::addRow("upper-case hex") << "MP3 (ID3)" << "mp3" << quint64(0xabcdef) << "recovered_mp3 (id3)_00ABCDEF.mp3";
    }
    void suggestedFileName()
    {
        QFETCH(QString, type);
        QFETCH(QString, extension);
        QFETCH(quint64, offset);
        QFETCH(QString, expected);
        CarvedFile f;
        f.signatureType = type;
        f.fileExtension = extension;
        f.offset = offset;
        QCOMPARE(f.suggestedFileName(), expected);
    }

    void datesFallBackToUnknown()
    {
        QCOMPARE(TrashItem().formattedDeletedDate(), QStringLiteral("Unknown"));
        QCOMPARE(SnapshotInfo().formattedDate(), QStringLiteral("Unknown"));
    }

    void byteCount_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::addRow("zero") << qint64(0) << "Zero KB";
        QTest::addRow("one byte") << qint64(1) << "1 byte";
        QTest::addRow("bytes") << qint64(999) << "999 bytes";
        QTest::addRow("KB rounds to whole") << qint64(1499) << "1 KB";
        QTest::addRow("1.2 MB") << qint64(1200000) << "1.2 MB";
        QTest::addRow("whole MB drops the zero") << qint64(2000000) << "2 MB";
        QTest::addRow("rounding moves up a unit") << qint64(999999) << "1 MB";
        QTest::addRow("GB keeps two decimals") << qint64(1234567890) << "1.23 GB";
    }
    void byteCount()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, expected);
        QCOMPARE(formatByteCount(bytes), expected);
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
