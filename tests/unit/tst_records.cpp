#include <QSet>
#include <tuple>
#include <QTest>

#include <thread>

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
        QTest::addRow("trailing separator") << "/Users/a/.Trash/Photos.jpg/" << false << FileCategory::image;
        QTest::addRow("trailing dot") << "notes." << false << FileCategory::other;
        QTest::addRow("path with extension") << "/Volumes/Disk/Movies/clip.MOV" << false << FileCategory::video;
        QTest::addRow("jpe is not listed") << "a.jpe" << false << FileCategory::other;
        QTest::addRow("tgz is not listed") << "a.tgz" << false << FileCategory::other;
        QTest::addRow("empty name") << "" << false << FileCategory::other;
        QTest::addRow("folder without name") << "" << true << FileCategory::folder;
        // Every listed extension, in upper case, lands in its own list.
        const std::pair<FileCategory, const char *> lists[] = {
            {FileCategory::image, "jpg jpeg png gif bmp tiff heic webp svg"},
            {FileCategory::video, "mp4 mov avi mkv wmv flv m4v webm"},
            {FileCategory::audio, "mp3 wav aac flac m4a ogg aiff"},
            {FileCategory::document, "pdf doc docx xls xlsx ppt pptx txt rtf pages numbers key md"},
            {FileCategory::archive, "zip rar 7z tar gz bz2 dmg iso"},
            {FileCategory::code, "swift py js ts html css json xml c cpp h m java go rs"},
        };
        for (const auto &[category, extensions] : lists) {
            for (const QString &extension : QString::fromLatin1(extensions).split(QLatin1Char(' ')))
                QTest::addRow("listed %s", qPrintable(extension)) << "FILE." + extension.toUpper() << false << category;
        }
    }
    void categoryFor()
    {
        QFETCH(QString, name);
        QFETCH(bool, isDirectory);
        QFETCH(FileCategory, expected);
        QCOMPARE(::categoryFor(name, isDirectory), expected);
    }

    // Raw value, icon and colour of every case, in case order.
    void displayTables()
    {
        using P = PaletteColor;
        const QList<std::tuple<QString, QString, QString, P>> navigation = {
            {"Trash Recovery", "Recover from Trash", "trash", P::neonCyan},
            {"Snapshots", "APFS Snapshots", "clock.arrow.circlepath", P::neonPink},
            {"Deep Scan", "Signature Scan", "waveform.and.magnifyingglass", P::neonBlue},
            {"Settings", "Preferences", "gearshape", P::neonPurple},
        };
        QCOMPARE(allNavigationItems().size(), navigation.size());
        for (int i = 0; i < navigation.size(); ++i) {
            const NavigationItem item = allNavigationItems()[i];
            QCOMPARE(rawValue(item), std::get<0>(navigation[i]));
            QCOMPARE(subtitle(item), std::get<1>(navigation[i]));
            QCOMPARE(icon(item), std::get<2>(navigation[i]));
            QCOMPARE(color(item), std::get<3>(navigation[i]));
        }
        const QList<std::tuple<QString, QString, P>> categories = {
            {"All", "square.grid.2x2", P::neonCyan},   {"Images", "photo", P::neonPink},
            {"Videos", "film", P::neonRed},            {"Audio", "music.note", P::neonGreen},
            {"Documents", "doc.text", P::neonBlue},    {"Archives", "archivebox", P::neonOrange},
            {"Code", "chevron.left.forwardslash.chevron.right", P::neonPurple},
            {"Folders", "folder", P::neonCyan},        {"Other", "questionmark.circle", P::textSecondary},
        };
        QCOMPARE(allFileCategories().size(), categories.size());
        for (int i = 0; i < categories.size(); ++i) {
            const FileCategory category = allFileCategories()[i];
            QCOMPARE(rawValue(category), std::get<0>(categories[i]));
            QCOMPARE(icon(category), std::get<1>(categories[i]));
            QCOMPARE(color(category), std::get<2>(categories[i]));
        }
        const QList<std::tuple<QString, QString, P>> healths = {
            {"Good", "checkmark.circle.fill", P::neonGreen},
            {"Partial", "exclamationmark.triangle.fill", P::neonOrange},
            {"Fragment", "xmark.circle.fill", P::neonRed},
            {"Unknown", "questionmark.circle", P::textMuted},
        };
        QCOMPARE(allCarvedFileHealths().size(), healths.size());
        for (int i = 0; i < healths.size(); ++i) {
            const CarvedFileHealth health = allCarvedFileHealths()[i];
            QCOMPARE(rawValue(health), std::get<0>(healths[i]));
            QCOMPARE(icon(health), std::get<1>(healths[i]));
            QCOMPARE(color(health), std::get<2>(healths[i]));
        }
        const QList<std::tuple<QString, QString, P>> statuses = {
            {"Deleted", "arrow.uturn.backward.circle.fill", P::neonGreen},
            {"Existing", "doc.circle", P::textMuted},
            {"Unknown", "questionmark.circle", P::neonOrange},
        };
        QCOMPARE(allRecoveryStatuses().size(), statuses.size());
        for (int i = 0; i < statuses.size(); ++i) {
            const RecoveryStatus status = allRecoveryStatuses()[i];
            QCOMPARE(rawValue(status), std::get<0>(statuses[i]));
            QCOMPARE(icon(status), std::get<1>(statuses[i]));
            QCOMPARE(color(status), std::get<2>(statuses[i]));
        }
    }

    // Every raw value builds its own case back; any change of case or
    // surrounding space builds nothing.
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

    void rawValuesAreExactAndCaseSensitive()
    {
        QCOMPARE(fromRawValue<CarvedFileHealth>(QStringLiteral("good")), std::nullopt);
        QCOMPARE(fromRawValue<CarvedFileHealth>(QStringLiteral("Good")), CarvedFileHealth::good);
        QCOMPARE(fromRawValue<RecoveryStatus>(QStringLiteral("Existing")), RecoveryStatus::existing);
        QCOMPARE(fromRawValue<NavigationItem>(QStringLiteral("Deep Scan")), NavigationItem::deepScan);
        QCOMPARE(fromRawValue<FileCategory>(QStringLiteral("Images ")), std::nullopt);
        // "Unknown" is a raw value of two enumerations, each its own case.
        QCOMPARE(fromRawValue<CarvedFileHealth>(QStringLiteral("Unknown")), CarvedFileHealth::unknown);
        QCOMPARE(fromRawValue<RecoveryStatus>(QStringLiteral("Unknown")), RecoveryStatus::unknown);
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

    // The other records: equal fields but a new id make a different record.
    void otherRecordsAreIdentifiedById()
    {
        TrashItem t1;
        t1.fileName = QStringLiteral("a.txt");
        TrashItem t2 = t1;
        t2.fileSize = 99;
        QVERIFY(t1 == t2);
        QCOMPARE(qHash(t1), qHash(t2));
        t2.id = QUuid::createUuid();
        QVERIFY(!(t1 == t2));
        SnapshotInfo s1;
        SnapshotInfo s2 = s1;
        s2.name = QStringLiteral("other");
        QVERIFY(s1 == s2);
        QVERIFY(!(s1 == SnapshotInfo()));
        VolumeInfo v1;
        VolumeInfo v2;
        v2.name = v1.name;
        QVERIFY(!(v1 == v2));   // a fresh record gets a fresh id
        QVERIFY(QSet<VolumeInfo>({v1, v2}).size() == 2);
        CarvedFile fresh;
        QVERIFY(!fresh.recovered);
        QVERIFY(!fresh.matchedExistingPath);
    }

    // Ids come from a per-thread generator; they must still be well-formed
    // random UUIDs and never repeat, within a thread or across threads.
    void recordIdsAreRandomUuids()
    {
        QSet<QUuid> seen;
        const auto draw = [](QList<QUuid> *out) {
            for (int i = 0; i < 20000; ++i)
                out->append(newRecordId());
        };
        QList<QUuid> mine, theirs;
        std::thread other(draw, &theirs);
        draw(&mine);
        other.join();
        for (const QUuid &id : mine + theirs) {
            QCOMPARE(id.version(), QUuid::Random);
            QCOMPARE(id.variant(), QUuid::DCE);
            seen.insert(id);
        }
        QCOMPARE(seen.size(), 40000);
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
        QTest::addRow("type with slash stays one name") << "ZIP/DOCX" << "zip" << quint64(0xA000) << "recovered_zip_docx_0000A000.zip";
        QTest::addRow("2^32") << "MP4" << "mp4" << (quint64(1) << 32) << "recovered_mp4_100000000.mp4";
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
