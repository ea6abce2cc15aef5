#include <QSet>
#include <QTest>

#include "model/bytecount.h"
#include "model/filesignature.h"
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
        QTest::addRow("upper-case jpg") << "PHOTO.JPG" << false << FileCategory::image;
        QTest::addRow("lower-case jpg") << "photo.jpg" << false << FileCategory::image;
        QTest::addRow("no extension") << "Makefile" << false << FileCategory::other;
        QTest::addRow("folder wins over name") << "music.mp3" << true << FileCategory::folder;
        QTest::addRow("markdown is a document") << "notes.MD" << false << FileCategory::document;
        QTest::addRow("C source is code") << "main.C" << false << FileCategory::code;
        QTest::addRow("json is code, not document") << "data.json" << false << FileCategory::code;
        QTest::addRow("only the last extension counts") << "backup.tar.gz" << false << FileCategory::archive;
        QTest::addRow("unlisted tif") << "scan.tif" << false << FileCategory::other;
        QTest::addRow("dot in a folder name only") << "/tmp/dir.jpg/file" << false << FileCategory::other;
    }
    void categoryFor()
    {
        QFETCH(QString, name);
        QFETCH(bool, isDirectory);
        QFETCH(FileCategory, expected);
        QCOMPARE(::categoryFor(name, isDirectory), expected);
    }

    void rawValuesAreExactAndCaseSensitive()
    {
        QCOMPARE(fromRawValue<CarvedFileHealth>(QStringLiteral("good")), std::nullopt);
        QCOMPARE(fromRawValue<CarvedFileHealth>(QStringLiteral("Good")), CarvedFileHealth::good);
        QCOMPARE(fromRawValue<RecoveryStatus>(QStringLiteral("Existing")), RecoveryStatus::existing);
        QCOMPARE(fromRawValue<NavigationItem>(QStringLiteral("Deep Scan")), NavigationItem::deepScan);
        QCOMPARE(fromRawValue<FileCategory>(QStringLiteral("Images ")), std::nullopt);
    }

    void identityIsTheIdAlone()
    {
        CarvedFile a;
        a.signatureType = QStringLiteral("JPEG");
        CarvedFile b = a;
        b.recoveryStatus = RecoveryStatus::existing;
        QVERIFY(a == b);
        QCOMPARE(qHash(a), qHash(b));
        QSet<CarvedFile> set{a};
        QVERIFY(set.contains(b));
        CarvedFile c = a;
        c.id = QUuid::createUuid();
        QVERIFY(!(a == c));
    }

    void suggestedFileName_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<quint64>("offset");
        QTest::addColumn<QString>("expected");
        QTest::addRow("4096") << "JPEG" << "jpg" << quint64(4096) << "recovered_jpeg_00001000.jpg";
        QTest::addRow("zero") << "PNG" << "png" << quint64(0) << "recovered_png_00000000.png";
        QTest::addRow("nine digits") << "X" << "bin" << quint64(4886718345ULL) << "recovered_x_123456789.bin";
        QTest::addRow("type with slash") << "ZIP/DOCX" << "zip" << quint64(0xA000) << "recovered_zip/docx_0000A000.zip";
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
        TrashItem item;
        item.deletedDate = QDateTime(QDate(2026, 12, 6), QTime(14, 24, 17));
        QVERIFY(item.formattedDeletedDate().contains(QStringLiteral("2026")));
    }

    void byteCount_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::addRow("zero") << qint64(0) << "Zero KB";
        QTest::addRow("one byte") << qint64(1) << "1 byte";
        QTest::addRow("bytes") << qint64(999) << "999 bytes";
        QTest::addRow("one KB") << qint64(1000) << "1 KB";
        QTest::addRow("KB rounds to whole") << qint64(1499) << "1 KB";
        QTest::addRow("1.2 MB") << qint64(1200000) << "1.2 MB";
        QTest::addRow("2 MiB") << qint64(2097152) << "2.1 MB";
        QTest::addRow("1.5 MiB") << qint64(1572864) << "1.6 MB";
        QTest::addRow("whole MB drops the zero") << qint64(2000000) << "2 MB";
        QTest::addRow("rounding moves up a unit") << qint64(999999) << "1 MB";
        QTest::addRow("GB keeps two decimals") << qint64(1234567890) << "1.23 GB";
        QTest::addRow("100 GiB") << qint64(107374182400LL) << "107.37 GB";
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
