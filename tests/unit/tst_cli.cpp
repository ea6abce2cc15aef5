#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <sys/stat.h>

#include "helpers/testsupport.h"

namespace {

const QString carveTool = QStringLiteral(QUORVEL_BINARY_DIR "/src/cli/quorvel-carve");

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run carve(const QStringList &arguments)
{
    QProcess process;
    process.start(carveTool, arguments);
    Run run;
    if (!process.waitForFinished(60000))
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFile::exists(carveTool));
        QByteArray image(3 * 1024 * 1024, 'U');
        m_jpeg = wholeJpegBytes(1004);
        image.replace(100, m_jpeg.size(), m_jpeg);
        image.replace(2 * 1024 * 1024, 9, QByteArray("GIF89a\0\0\0", 9));
        m_image = m_dir.filePath(QStringLiteral("card.img"));
        QVERIFY(writeFile(m_image, image));
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("plain-file")), "x"));
        QCOMPARE(::mkfifo(QFile::encodeName(m_dir.filePath(QStringLiteral("pipe"))).constData(), 0600), 0);
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::addRow("no source") << QStringList() << 2 << QStringLiteral("no SOURCE given");
        QTest::addRow("two sources") << QStringList{QStringLiteral("a"), QStringLiteral("b")} << 2
                                     << QStringLiteral("exactly one SOURCE");
        QTest::addRow("unknown option") << QStringList{QStringLiteral("--fast"), QStringLiteral("x")} << 2
                                        << QStringLiteral("Unknown option 'fast'");
        QTest::addRow("option without its value") << QStringList{QStringLiteral("x"), QStringLiteral("-o")} << 2
                                                  << QStringLiteral("Missing value after '-o'");
        QTest::addRow("unknown type") << QStringList{QStringLiteral("--types"), QStringLiteral("JPEG,Foo"), QStringLiteral("x")}
                                      << 2 << QStringLiteral("unknown file type 'Foo'; known types: JPEG, PNG");
        QTest::addRow("empty type list") << QStringList{QStringLiteral("--types"), QStringLiteral(","), QStringLiteral("x")}
                                         << 2 << QStringLiteral("names no file type");
        QTest::addRow("missing source") << QStringList{QStringLiteral("/no/such/disk.img")} << 1
                                        << QStringLiteral("cannot open /no/such/disk.img: No such file or directory");
        QTest::addRow("folder as source") << QStringList{QStringLiteral("/")} << 1 << QStringLiteral("is a folder");
        QTest::addRow("endless character device") << QStringList{QStringLiteral("/dev/zero")} << 1
                                                  << QStringLiteral("it is a character device");
        QTest::addRow("named pipe") << QStringList{m_dir.filePath(QStringLiteral("pipe"))} << 1
                                    << QStringLiteral("it is a pipe");
    }
    void refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const Run run = carve(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.startsWith(QStringLiteral("quorvel-carve: ")) && run.err.contains(message), qPrintable(run.err));
        // Nothing was scanned, so nothing may read as a finished scan.
        QVERIFY2(!run.err.contains(QStringLiteral("Scan complete")), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
    }

    void anUnwritableFolderIsRefusedBeforeScanning()
    {
        const Run run = carve({m_image, QStringLiteral("-o"), m_dir.filePath(QStringLiteral("plain-file"))});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(QStringLiteral("is not a folder")));
        QVERIFY(!run.err.contains(QStringLiteral("Scanning")));
    }

    void listTypesPrintsTheCatalogue()
    {
        const Run run = carve({QStringLiteral("--list-types")});
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), defaultSignatures().size());
        QCOMPARE(lines.first(), QStringLiteral("JPEG\tjpg\tImages"));
    }

    // A user picks a device from this list, so every line must carry the
    // mount point and the device in their fields. Other tests mount loop
    // images meanwhile, so the lines are checked one by one rather than
    // against a list taken at another moment.
    void listVolumesNamesMountPointAndDevice()
    {
        const Run run = carve({QStringLiteral("--list-volumes")});
        if (run.exitCode == 1) {
            QVERIFY(run.err.contains(QStringLiteral("no mounted volume")));
            return;
        }
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(!lines.isEmpty());
        for (const QString &line : lines) {
            const QStringList fields = line.split(QLatin1Char('\t'));
            QVERIFY2(fields.size() >= 5, qPrintable(line));
            QVERIFY2(fields[1].startsWith(QLatin1Char('/')), qPrintable(line));
            QVERIFY2(fields[2].startsWith(QStringLiteral("/dev/")) || fields[2] == QStringLiteral("unknown"), qPrintable(line));
            QVERIFY2(fields[4].contains(QStringLiteral(" free / ")), qPrintable(line));
        }
    }

    void listAndPlainProgress()
    {
        const Run run = carve({QStringLiteral("--types"), QStringLiteral("gif,jpeg"), QStringLiteral("--list"), m_image});
        QCOMPARE(run.exitCode, 0);
        const QStringList hits = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(hits.size(), 2);
        // The JPEG is whole: the walk finds its true end, which the footer
        // rule also found. The GIF is a header in filler: its window is kept,
        // with the reason it is no file.
        const QString jpegSize = QString::number(m_jpeg.size());
        QCOMPARE(hits[0], QStringLiteral("100\tJPEG\tjpg\t%1\tGood\t%1\tVerified").arg(jpegSize));
        const QStringList gif = hits[1].split(QLatin1Char('\t'));
        QCOMPARE(gif.mid(0, 6), (QStringList{QStringLiteral("2097152"), QStringLiteral("GIF"), QStringLiteral("gif"),
                                              QStringLiteral("1048576"), QStringLiteral("Partial"), QStringLiteral("-")}));
        QVERIFY2(gif.size() == 7 && !gif[6].isEmpty() && gif[6] != QLatin1String("Verified"), qPrintable(hits[1]));

        const QStringList lines = run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.first(), QStringLiteral("Scanning card.img..."));
        QVERIFY(lines.at(1).startsWith(QStringLiteral("Scanning card.img: ")));
        QVERIFY(!run.err.contains(QLatin1Char('\r')));
        QCOMPARE(lines.at(lines.size() - 2), QStringLiteral("1 verified, 1 unverified"));
        QVERIFY2(lines.last().startsWith(QStringLiteral("Scan complete: 2 files found • ")), qPrintable(lines.last()));
    }

    void aTerminalGetsAProgressBar()
    {
        const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
        if (script.isEmpty())
            QSKIP("script (util-linux) is needed to give the tool a terminal");
        QProcess process;
        process.start(script, {QStringLiteral("-qec"), carveTool + QStringLiteral(" --types JPEG ") + m_image,
                               QStringLiteral("/dev/null")});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
        const QString shown = QString::fromUtf8(process.readAllStandardOutput());
        QVERIFY2(shown.contains(QStringLiteral("] ")) && shown.contains(QStringLiteral("/s")), qPrintable(shown));
        QVERIFY2(shown.contains(QStringLiteral("\r\033[K1 verified, 0 unverified\r\nScan complete: 1 files found")),
                 qPrintable(shown));
    }

    // Only what will be written counts: the GIF's 1 MiB window would not
    // fit, but without --all only the verified JPEG is saved, whole.
    void savingChecksTheFreeSpaceFirst()
    {
        const QString small = m_dir.filePath(QStringLiteral("small"));
        QVERIFY(QDir().mkpath(small));
        if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=256k") != 0)
            QSKIP("cannot mount a small tmpfs here");
        const Run tooBig = carve({m_image, QStringLiteral("--all"), QStringLiteral("-o"), small});
        const Run fits = carve({m_image, QStringLiteral("-o"), small});
        const QStringList saved = QDir(small).entryList(QDir::Files);
        const QByteArray jpeg = readFile(small + QStringLiteral("/recovered_jpeg_00000064.jpg"));
        ::umount(QFile::encodeName(small).constData());

        QCOMPARE(tooBig.exitCode, 1);
        QVERIFY2(tooBig.err.contains(QStringLiteral("nothing was saved")), qPrintable(tooBig.err));
        QCOMPARE(fits.exitCode, 0);
        QVERIFY2(fits.err.contains(QStringLiteral("Saved: 1 files\nFailed: 0\nNo data: 0\n")), qPrintable(fits.err));
        QCOMPARE(saved, QStringList{QStringLiteral("recovered_jpeg_00000064.jpg")});
        QCOMPARE(jpeg, m_jpeg);
    }

private:
    QTemporaryDir m_dir;
    QString m_image;
    QByteArray m_jpeg;
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
