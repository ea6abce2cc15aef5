#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "helpers/loopdevices.h"
#include "helpers/testsupport.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QString carveTool = QStringLiteral(QUORVEL_BINARY_DIR "/src/cli/quorvel-carve");

struct Run {
    int exitCode = -1;
    bool killed = false;  // ended by a signal
    QString out;
    QString err;
};

// Runs the tool; `onStderr` sees standard error as it grows and may act on
// the process (send it a signal) once.
Run carve(const QStringList &arguments, const QStringList &environment = {},
          const std::function<bool(QProcess &, const QString &)> &onStderr = {}, const QString &program = carveTool,
          const QStringList &prefix = {})
{
    QProcess process;
    if (!environment.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &entry : environment)
            env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
        process.setProcessEnvironment(env);
    }
    process.setReadChannel(QProcess::StandardError);
    process.start(program, prefix + arguments);
    Run run;
    bool acted = !onStderr;
    while (!acted && process.state() != QProcess::NotRunning && process.waitForReadyRead(30000)) {
        run.err += QString::fromUtf8(process.readAllStandardError());
        acted = onStderr(process, run.err);
    }
    if (!process.waitForFinished(60000))
        return run;
    run.exitCode = process.exitCode();
    run.killed = process.exitStatus() == QProcess::CrashExit;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err += QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The report's rows as maps from column name to value.
QList<QHash<QString, QString>> reportRows(const QString &path)
{
    const QStringList lines = QString::fromUtf8(readFile(path)).split(u'\n', Qt::SkipEmptyParts);
    QList<QHash<QString, QString>> rows;
    const QStringList columns = lines.value(0).split(u'\t');
    for (const QString &line : lines.mid(1)) {
        const QStringList fields = line.split(u'\t');
        QHash<QString, QString> row;
        for (qsizetype i = 0; i < columns.size(); ++i)
            row.insert(columns[i], fields.value(i));
        rows.append(row);
    }
    return rows;
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

bool sendSignalAt(QProcess &process, const QString &err, const QString &marker, int signalNumber)
{
    if (!err.contains(marker))
        return false;
    // Stopped first, so that the signal lands where the marker was printed.
    ::kill(pid_t(process.processId()), SIGSTOP);
    ::kill(pid_t(process.processId()), signalNumber);
    ::kill(pid_t(process.processId()), SIGCONT);
    return true;
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
        image.replace(2621440, 3, "ID3");
        image.replace(2883584, 2, QByteArray::fromHex("FFFB"));
        m_image = m_dir.filePath(u"card.img"_s);
        QVERIFY(writeFile(m_image, image));
        QVERIFY(writeFile(m_dir.filePath(u"plain-file"_s), "x"));
        QVERIFY(writeFile(m_dir.filePath(u"empty.img"_s), QByteArray()));
        QVERIFY(::mkfifo(QFile::encodeName(m_dir.filePath(u"pipe"_s)).constData(), 0600) == 0);
        // Hits of 5 MiB, so that saving takes a while; a sparse image keeps
        // it cheap to make. A JPEG runs to the last end marker in its 10 MiB
        // window, so the hits lie further apart than that.
        m_many = m_dir.filePath(u"many.img"_s);
        QFile many(m_many);
        QVERIFY(many.open(QIODevice::WriteOnly) && many.resize(qint64(manyHits) * hitSpacing));
        for (qint64 i = 0; i < manyHits; ++i) {
            QVERIFY(many.seek(i * hitSpacing) && many.write(QByteArray::fromHex("FFD8FFE0")) == 4);
            QVERIFY(many.seek(i * hitSpacing + manyHitSize - 2) && many.write(QByteArray::fromHex("FFD9")) == 2);
        }
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QString image = m_dir.filePath(u"card.img"_s);
        QTest::addRow("no source") << QStringList() << 2 << u"no SOURCE given"_s;
        QTest::addRow("two sources") << QStringList{u"a"_s, u"b"_s} << 2 << u"give exactly one SOURCE"_s;
        QTest::addRow("a source and a folder") << QStringList{image, u"--directory"_s, u"/"_s} << 2 << u"exactly one SOURCE"_s;
        QTest::addRow("a file for a folder to scan") << QStringList{u"--directory"_s, image} << 1 << u"is not a folder"_s;
        QTest::addRow("unknown option") << QStringList{u"--fast"_s, u"x"_s} << 2 << u"Unknown option 'fast'"_s;
        QTest::addRow("option without its value") << QStringList{u"x"_s, u"-o"_s} << 2 << u"Missing value after '-o'"_s;
        QTest::addRow("-o twice") << QStringList{image, u"-o"_s, u"a"_s, u"-o"_s, u"b"_s} << 2 << u"--output is given more than once"_s;
        QTest::addRow("--types twice") << QStringList{image, u"--types"_s, u"jpg"_s, u"--types"_s, u"gif"_s} << 2
                                       << u"--types is given more than once"_s;
        QTest::addRow("unknown type, with the valid names and extensions")
            << QStringList{u"--types"_s, u"JPEG,Foo"_s, u"x"_s} << 2
            << u"unknown file type 'Foo'; known types: JPEG, PNG, GIF"_s;
        QTest::addRow("extensions listed too") << QStringList{u"--types"_s, u"jpgx"_s, u"x"_s} << 2
                                               << u"or their extensions: jpg, png, gif"_s;
        QTest::addRow("empty type list") << QStringList{u"--types"_s, u","_s, u"x"_s} << 2 << u"names no file type"_s;
        QTest::addRow("unreadable size") << QStringList{image, u"-o"_s, u"a"_s, u"--max-bytes"_s, u"lots"_s} << 2
                                         << u"--max-bytes takes a size"_s;
        QTest::addRow("a limit without saving") << QStringList{image, u"--max-bytes"_s, u"1M"_s} << 2 << u"give -o FOLDER too"_s;
        QTest::addRow("missing source") << QStringList{u"/no/such/disk.img"_s} << 1
                                        << u"cannot open /no/such/disk.img: No such file or directory"_s;
        QTest::addRow("folder as source") << QStringList{u"/"_s} << 1 << u"is a folder"_s;
        QTest::addRow("empty image") << QStringList{m_dir.filePath(u"empty.img"_s)} << 1 << u"is empty (0 bytes)"_s;
        QTest::addRow("a named pipe would hang") << QStringList{m_dir.filePath(u"pipe"_s)} << 1 << u"is a named pipe"_s;
        QTest::addRow("a character device") << QStringList{u"/dev/null"_s} << 1 << u"is a character device"_s;
        QTest::addRow("not a mounted volume") << QStringList{u"--volume"_s, m_dir.path()} << 1 << u"is not a mounted volume"_s;
        QTest::addRow("not a mounted volume for --deleted") << QStringList{u"--deleted"_s, m_dir.path()} << 1
                                                            << u"is not a mounted volume"_s;
        QTest::addRow("two modes") << QStringList{u"--deleted"_s, u"/"_s, u"--volume"_s, u"/"_s} << 2
                                   << u"give exactly one SOURCE, --directory, --volume or --deleted"_s;
        QTest::addRow("a file for a folder") << QStringList{image, u"-o"_s, m_dir.filePath(u"plain-file"_s)} << 1
                                             << u"is not a folder"_s;
    }
    void refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const Run run = carve(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.startsWith(u"quorvel-carve: "_s) && run.err.contains(message), qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
        QVERIFY2(!run.err.contains(u"Scanning"_s), "refused before reading anything");
        QVERIFY2(!run.err.contains(u"Scan complete"_s), qPrintable(run.err));
    }

    // A loop device with no image attached opens fine and holds nothing.
    void anUnattachedLoopDeviceIsRefused()
    {
        QString free;
        if (::geteuid() != 0 || !runTool(u"losetup"_s, {u"-f"_s}, &free) || !QFileInfo::exists(free))
            QSKIP("needs root and a free loop device");
        const Run run = carve({free, u"-o"_s, m_dir.filePath(u"never"_s)});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(u"holds no data (0 bytes)"_s), qPrintable(run.err));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(u"never"_s)));
    }

    void typeSpellings_data()
    {
        QTest::addColumn<QString>("types");
        QTest::addColumn<QStringList>("found");
        QTest::addRow("extension") << u"jpg"_s << QStringList{u"JPEG"_s};
        QTest::addRow("any case") << u"jPeG"_s << QStringList{u"JPEG"_s};
        QTest::addRow("names and extensions mixed") << u"Gif, JPG"_s << QStringList{u"JPEG"_s, u"GIF"_s};
        QTest::addRow("an extension of two types") << u"mp3"_s << QStringList{u"MP3 (ID3)"_s, u"MP3"_s};
        QTest::addRow("a full name") << u"mp3 (id3)"_s << QStringList{u"MP3 (ID3)"_s};
        QTest::addRow("part of a combined name") << u"docx"_s << QStringList();
    }
    void typeSpellings()
    {
        QFETCH(QString, types);
        QFETCH(QStringList, found);
        const Run run = carve({u"--types"_s, types, u"--list"_s, m_image});
        QCOMPARE(run.exitCode, 0);
        QStringList listed;
        for (const QString &line : run.out.split(u'\n', Qt::SkipEmptyParts))
            listed << line.section(u'\t', 2, 2);
        QCOMPARE(listed, found);
    }

    void listTypesPrintsTheCatalogue()
    {
        const Run run = carve({u"--list-types"_s});
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), defaultSignatures().size());
        QCOMPARE(lines.first(), u"JPEG\tjpg\tImages"_s);
    }

    // A user picks a device from this list, so every line must carry the
    // device, and the mount point where there is one. Other tests mount and
    // attach loop images meanwhile, so the lines are checked one by one
    // rather than against a list taken at another moment.
    void listVolumesNamesMountPointAndDevice()
    {
        const Run run = carve({u"--list-volumes"_s});
        if (run.exitCode == 1) {
            QVERIFY(run.err.contains(u"no volume or device found"_s));
            return;
        }
        QCOMPARE(run.exitCode, 0);
        const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
        QVERIFY(!lines.isEmpty());
        for (const QString &line : lines) {
            const QStringList fields = line.split(u'\t');
            QVERIFY2(fields.size() == 9, qPrintable(line));
            QVERIFY2(fields[1].isEmpty() || fields[1].startsWith(u'/'), qPrintable(line));
            QVERIFY2(fields[2].startsWith(u"/dev/"_s) || fields[2] == u"unknown"_s, qPrintable(line));
            QVERIFY2(fields[1].isEmpty() || fields[4].contains(u" free / "_s), qPrintable(line));
        }
    }

    void listAndPlainProgress()
    {
        const Run run = carve({u"--types"_s, u"gif,jpeg"_s, u"--list"_s, m_image});
        QCOMPARE(run.exitCode, 0);
        const QStringList hits = run.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(hits.size(), 2);
        // The JPEG is whole: the walk finds its true end, which the footer
        // rule also found. The GIF is a header in filler: its window is kept,
        // with the reason it is no file. The second column is the offset as
        // saved names write it.
        const QString jpegSize = QString::number(m_jpeg.size());
        QCOMPARE(hits[0], u"100\t00000064\tJPEG\tjpg\t%1\tGood\t%1\tVerified"_s.arg(jpegSize));
        const QStringList gif = hits[1].split(u'\t');
        QCOMPARE(gif.mid(0, 7), (QStringList{u"2097152"_s, u"00200000"_s, u"GIF"_s, u"gif"_s, u"1048576"_s, u"Partial"_s, u"-"_s}));
        QVERIFY2(gif.size() == 8 && !gif[7].isEmpty() && gif[7] != u"Verified"_s, qPrintable(hits[1]));

        const QStringList lines = run.err.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.first(), u"Scanning card.img..."_s);
        QVERIFY(lines.at(1).startsWith(u"Scanning card.img: "_s));
        QVERIFY(!run.err.contains(u'\r'));
        QVERIFY2(lines.at(lines.size() - 2).startsWith(u"Scan complete: 2 files found • "_s), qPrintable(run.err));
        QCOMPARE(lines.last(), u"1 verified, 1 unverified"_s);
    }

    void aTerminalGetsAProgressBar()
    {
        const QString script = QStandardPaths::findExecutable(u"script"_s);
        if (script.isEmpty())
            QSKIP("script (util-linux) is needed to give the tool a terminal");
        const QString out = m_dir.filePath(u"from-terminal"_s);
        const Run run = carve({u"-qec"_s, carveTool + u" --types JPEG -o "_s + out + u' ' + m_image, u"/dev/null"_s}, {}, {}, script);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains(u"] 100.0% "_s) && run.out.contains(u"1 found"_s), qPrintable(run.out));
        QVERIFY(run.out.contains(u"\r\033[KScan complete: 1 files found"_s));
        QVERIFY(run.out.contains(u"\rSaving ["_s));
        QVERIFY(run.out.contains(u"\r\033[KSaved: 1 files"_s));
    }

    // Saved files, the report's rows and the offsets of --list must agree:
    // a script checks a recovery by them. Run as root for another user, the
    // results are that user's and no one else's.
    void theReportMatchesTheSavedBytes()
    {
        const QString out = m_dir.filePath(u"reported/new"_s);
        const QStringList environment = ::geteuid() == 0 ? QStringList{u"SUDO_UID=65534"_s, u"SUDO_GID=65534"_s} : QStringList();
        const Run run = carve({m_image, u"--types"_s, u"jpg,gif"_s, u"--all"_s, u"--list"_s, u"-o"_s, out}, environment);
        QCOMPARE(run.exitCode, 0);
        const QStringList listed = run.out.split(u'\n', Qt::SkipEmptyParts);
        const QList<QHash<QString, QString>> rows = reportRows(out + u"/quorvel-report.tsv"_s);
        QCOMPARE(rows.size(), listed.size());
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const QHash<QString, QString> &row = rows[i];
            const QByteArray saved = readFile(out + u'/' + row[u"name"_s]);
            QCOMPARE(row[u"status"_s], u"saved"_s);
            QCOMPARE(row[u"length"_s].toLongLong(), saved.size());
            QCOMPARE(row[u"sha256"_s].toLatin1(), QCryptographicHash::hash(saved, QCryptographicHash::Sha256).toHex());
            QCOMPARE(row[u"offset"_s], listed[i].section(u'\t', 0, 0));
            QCOMPARE(row[u"offset_hex"_s].toULongLong(nullptr, 16), row[u"offset"_s].toULongLong());
            QVERIFY(row[u"name"_s].contains(row[u"offset_hex"_s]));
            QCOMPARE(saved, readFile(m_image).mid(row[u"offset"_s].toInt(), saved.size()));
        }
        QVERIFY2(run.err.contains(u"Saved: 2 files"_s) && run.err.contains(u"Report: "_s), qPrintable(run.err));
        QVERIFY(run.err.trimmed().section(u'\n', -1).startsWith(u"Done: 2 files found, 2 saved • "_s));
        if (environment.isEmpty())
            return;
        for (const QString &path : QStringList{out, out + u"/quorvel-report.tsv"_s, out + u'/' + rows[0][u"name"_s]}) {
            struct stat status {};
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &status), 0);
            QCOMPARE(status.st_uid, uid_t(65534));
            QCOMPARE(status.st_mode & 077, mode_t(0));
        }
    }

    // The folder is made when saving begins, not before a scan that may
    // fail or find nothing: on the scanned disk that mkdir alone could
    // overwrite a deleted file.
    void theFolderIsMadeOnlyWhenSaving()
    {
        const QString never = m_dir.filePath(u"never/made"_s);
        QCOMPARE(carve({u"/no/such.img"_s, u"-o"_s, never}).exitCode, 1);
        const Run nothing = carve({m_image, u"--types"_s, u"png"_s, u"-o"_s, never});
        QCOMPARE(nothing.exitCode, 0);
        QVERIFY(nothing.err.contains(u"Nothing to save."_s));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(u"never"_s)));
    }

    // Without --all only whole files are saved: the GIF and MP3 headers in
    // the filler are refused by their walks and left out of the save (and of
    // its free-space check), the JPEG is saved at its true length.
    void onlyVerifiedHitsAreSavedWithoutAll()
    {
        const QString out = m_dir.filePath(u"verified-only"_s);
        const Run run = carve({m_image, u"-o"_s, out});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QDir(out).entryList({u"recovered_*"_s}, QDir::Files), QStringList{u"recovered_jpeg_00000064.jpg"_s});
        QCOMPARE(readFile(out + u"/recovered_jpeg_00000064.jpg"_s), m_jpeg);
        QVERIFY2(run.err.contains(u"1 verified, 3 unverified"_s), qPrintable(run.err));
        const Run junk = carve({m_image, u"--types"_s, u"gif"_s, u"-o"_s, m_dir.filePath(u"junk-only"_s)});
        QCOMPARE(junk.exitCode, 0);
        QVERIFY2(junk.err.contains(u"--all saves the unverified ones too"_s), qPrintable(junk.err));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(u"junk-only"_s)));
    }

    void savingWhatFits_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("saved");
        QTest::addColumn<QString>("message");
        // The image holds a 1 KB JPEG, a 1 MiB GIF, a 512 KiB MP3 and a
        // 256 KiB one, in that order; about 280 KB are free. A hit that
        // doesn't fit is passed over, and a smaller one after it may go.
        QTest::addRow("short of space") << QStringList() << 1 << 2 << u"Left out: 2 files, not enough free space"_s;
        QTest::addRow("a limit of one's own") << QStringList{u"--max-bytes"_s, u"2K"_s} << 0 << 1
                                              << u"Left out: 3 files over --max-bytes"_s;
    }
    void savingWhatFits()
    {
        QFETCH(QStringList, extra);
        QFETCH(int, exitCode);
        QFETCH(int, saved);
        QFETCH(QString, message);
        const QString small = m_dir.filePath(u"small"_s);
        QVERIFY(QDir().mkpath(small));
        if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=1300k") != 0)
            QSKIP("cannot mount a small tmpfs here");
        const Run run = carve(QStringList{m_image, u"--all"_s, u"-o"_s, small + u"/out"_s} + extra);
        const QList<QHash<QString, QString>> rows = reportRows(small + u"/out/quorvel-report.tsv"_s);
        const QStringList files = QDir(small + u"/out"_s).entryList({u"recovered_*"_s}, QDir::Files);
        ::umount(QFile::encodeName(small).constData());

        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(files.size(), saved);
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[0][u"type"_s], u"JPEG"_s);
        QCOMPARE(rows[0][u"status"_s], u"saved"_s);
        QCOMPARE(rows[3][u"status"_s], u"left out"_s);
    }

    void ctrlCStopsTheScan()
    {
        const QString big = m_dir.filePath(u"big.img"_s);
        QFile file(big);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(64LL * 1024 * 1024 * 1024));
        file.close();
        const Run run = carve({big, u"-o"_s, m_dir.filePath(u"after-stop"_s)}, {},
                              [](QProcess &process, const QString &err) { return sendSignalAt(process, err, u"Scanning big.img..."_s, SIGINT); });
        QFile::remove(big);
        QCOMPARE(run.exitCode, 130);
        QVERIFY2(run.err.contains(u"\nScan cancelled: 0 files found • "_s), qPrintable(run.err));
        QVERIFY(!run.err.contains(u"Scan complete"_s));
        QVERIFY(run.err.contains(u"Nothing was saved."_s));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(u"after-stop"_s)));
    }

    // The Directory and Volume Scans run on the service's worker, which the
    // tool watches for Ctrl-C; a stop that lands as the scan ends must still
    // keep the tool from saving.
    void ctrlCStopsAServiceScan()
    {
        const QString folder = m_dir.filePath(u"many-files"_s);
        for (int i = 0; i < 400; ++i)
            QVERIFY(writeFile(folder + u"/photo-"_s + QString::number(i) + u".jpg"_s, jpegBytes(200 + i)));
        const QString out = m_dir.filePath(u"after-service-stop"_s);
        const Run run = carve({u"--directory"_s, folder, u"-o"_s, out}, {}, [](QProcess &process, const QString &err) {
            return sendSignalAt(process, err, u"Initializing scan..."_s, SIGINT);
        });
        QCOMPARE(run.exitCode, 130);
        QVERIFY2(run.err.contains(u"\nScan cancelled: "_s) && !run.err.contains(u"Scan complete"_s), qPrintable(run.err));
        QVERIFY(run.err.contains(u"Nothing was saved."_s));
        QVERIFY(!QFileInfo::exists(out));
    }

    // Ctrl-C while saving ends after the current file, and the report lists
    // what was saved; SIGTERM ends at once. Either way no file is left cut
    // off or under a temporary name.
    void stoppingWhileSaving_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addRow("Ctrl-C") << int(SIGINT);
        QTest::addRow("SIGTERM") << int(SIGTERM);
    }
    void stoppingWhileSaving()
    {
        QFETCH(int, signalNumber);
        const QString out = m_dir.filePath(u"stopped-"_s + QString::number(signalNumber));
        const Run run = carve({m_many, u"--types"_s, u"jpg"_s, u"--all"_s, u"-o"_s, out}, {}, [signalNumber](QProcess &process, const QString &err) {
            return sendSignalAt(process, err, u"Saving:"_s, signalNumber);
        });
        const QStringList entries = entriesOf(out);
        const QStringList saved = entries.filter(u"recovered_"_s);
        QVERIFY2(!saved.isEmpty() && saved.size() < manyHits, qPrintable(run.err));
        QCOMPARE(saved.size() + 1, entries.size()); // and the report, nothing else
        for (const QString &name : saved)
            QCOMPARE(QFileInfo(out + u'/' + name).size(), manyHitSize);
        if (signalNumber == SIGTERM) {
            QVERIFY(run.killed);
            return;
        }
        QCOMPARE(run.exitCode, 130);
        QVERIFY2(run.err.contains(u"Not saved: "_s + QString::number(manyHits - saved.size()) + u" files, stopped"_s),
                 qPrintable(run.err));
        int reportedSaved = 0;
        for (const auto &row : reportRows(out + u"/quorvel-report.tsv"_s))
            reportedSaved += row[u"status"_s] == u"saved"_s ? 1 : 0;
        QCOMPARE(reportedSaved, saved.size());
    }

    // `--list -o FOLDER | head` : the reader going away must not cost the
    // files being saved.
    void aClosedListingPipeDoesNotStopSaving()
    {
        int ends[2];
        QVERIFY(::pipe(ends) == 0);
        ::close(ends[0]);
        const int writeEnd = ends[1];
        QProcess process;
        process.setChildProcessModifier([writeEnd] { ::dup2(writeEnd, STDOUT_FILENO); });
        const QString out = m_dir.filePath(u"piped-away"_s);
        process.start(carveTool, {m_image, u"--types"_s, u"jpg,gif"_s, u"--all"_s, u"--list"_s, u"-o"_s, out});
        const bool finished = process.waitForFinished(30000);
        ::close(writeEnd);
        QVERIFY(finished);
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QDir(out).entryList({u"recovered_*"_s}, QDir::Files).size(), 2);
    }

    void accessDeniedSaysHowToGetIn()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to run the tool as another user");
        const QString locked = m_dir.filePath(u"locked.img"_s);
        QVERIFY(QFile::copy(m_image, locked));
        QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0600) == 0);
        QVERIFY(::chmod(QFile::encodeName(m_dir.path()).constData(), 0755) == 0);
        const Run run = carve({locked}, {}, {}, QStandardPaths::findExecutable(u"setpriv"_s),
                              {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, carveTool});
        if (run.exitCode == -1)
            QSKIP("setpriv is needed");
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(u"Permission denied"_s) && run.err.contains(u"sudo quorvel-carve"_s)
                     && run.err.contains(u"pkexec quorvel-carve"_s),
                 qPrintable(run.err));
    }

    // The Volume Scan through the service the window uses: the volume's
    // device is read, hits carry their recovery status, and saving into the
    // volume itself is refused unless asked for.
    void volumeScanOfAMountedVolume()
    {
        const QString image = m_dir.filePath(u"volume.img"_s);
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(16 * 1048576));
        file.close();
        LoopImage loop(image, false);
        const QString mountPoint = m_dir.filePath(u"volume"_s);
        if (loop.device().isEmpty() || !loop.format(loop.device(), u"ext4"_s, u"VOL"_s) || !loop.mount(loop.device(), mountPoint))
            QSKIP(qPrintable(loop.problem));
        QVERIFY(writeFile(mountPoint + u"/photo.jpg"_s, jpegBytes(5000)));
        ::sync();

        const Run refused = carve({u"--volume"_s, mountPoint, u"--types"_s, u"jpg"_s, u"-o"_s, mountPoint + u"/out"_s});
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.contains(u"the same disk as "_s + loop.device()), qPrintable(refused.err));
        QVERIFY(!QFileInfo::exists(mountPoint + u"/out"_s));

        const Run run = carve({u"--volume"_s, mountPoint, u"--types"_s, u"jpg"_s, u"--list"_s});
        QCOMPARE(run.exitCode, 0);
        const QStringList fields = run.out.section(u'\n', 0, 0).split(u'\t');
        QCOMPARE(fields.size(), 10);
        QCOMPARE(fields[2], u"JPEG"_s);
        QVERIFY(QStringList({u"Deleted"_s, u"Existing"_s, u"Unknown"_s}).contains(fields[8]));
        QVERIFY2(run.err.contains(u"Scan complete: 1 files found"_s), qPrintable(run.err));
        // Each step of the scan is in the log, however quickly it passes.
        QVERIFY2(run.err.contains(u"\nFiltering complete: "_s), qPrintable(run.err));
        const Run fallback = carve({u"--volume"_s, mountPoint, u"--types"_s, u"gif"_s});
        QVERIFY2(fallback.err.contains(u"\nRaw scan found no files"_s), qPrintable(fallback.err));

        // A user who can't read the device would get the volume's existing
        // files back as if it had been scanned.
        const QString setpriv = QStandardPaths::findExecutable(u"setpriv"_s);
        if (setpriv.isEmpty())
            return;
        QVERIFY(::chmod(QFile::encodeName(m_dir.path()).constData(), 0755) == 0);
        const Run denied = carve({u"--volume"_s, mountPoint, u"--list"_s}, {}, {}, setpriv,
                                 {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, carveTool});
        QCOMPARE(denied.exitCode, 1);
        QVERIFY2(denied.err.contains(u"Permission denied"_s) && denied.err.contains(u"sudo quorvel-carve"_s),
                 qPrintable(denied.err));
        QVERIFY(denied.out.isEmpty());
    }

    // The Deleted Files mode finds the whole files in the volume's Trash
    // and saves copies of them; the Trash itself is left as it was, and
    // saving into the volume is refused as for the Volume Scan.
    void deletedFilesOfAMountedVolume()
    {
        const QString image = m_dir.filePath(u"trash-volume.img"_s);
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(16 * 1048576));
        file.close();
        LoopImage loop(image, false);
        const QString mountPoint = m_dir.filePath(u"trash-volume"_s);
        if (loop.device().isEmpty() || !loop.format(loop.device(), u"ext4"_s, u"TRASH"_s) || !loop.mount(loop.device(), mountPoint))
            QSKIP(qPrintable(loop.problem));
        const QByteArray photo = wholeJpegBytes(3000);
        const QString trashed = mountPoint + u"/.Trash-0/files/holiday.jpg"_s;
        QVERIFY(writeFile(trashed, photo));
        QVERIFY(writeFile(mountPoint + u"/.Trash-0/info/holiday.jpg.trashinfo"_s,
                          "[Trash Info]\nPath=photos/holiday.jpg\nDeletionDate=2026-11-30T09:15:00\n"));
        // A file that merely looks like a picture and still exists is no hit.
        QVERIFY(writeFile(mountPoint + u"/photos/kept.jpg"_s, wholeJpegBytes(2000)));
        ::sync();
        // Root's own Trash would add whatever this machine holds there.
        const QStringList environment{u"XDG_DATA_HOME="_s + m_dir.filePath(u"empty-data-home"_s)};

        struct Case {
            const char *name;
            QStringList extra;
            int exitCode;
            QString message;
            QString savedInto;  // where the copy must be, or empty
        };
        const QString elsewhere = m_dir.filePath(u"from-trash"_s);
        const QList<Case> cases{
            {"listed, nothing saved", {u"--list"_s}, 0, u"Scan complete: 1 files found"_s, {}},
            {"saved as a copy elsewhere", {u"-o"_s, elsewhere}, 0, u"Saved: 1 files"_s, elsewhere},
            {"saving onto the volume refused", {u"-o"_s, mountPoint + u"/out"_s}, 1, u"the same disk as "_s + loop.device(), {}},
            {"onto the volume when insisted", {u"-o"_s, mountPoint + u"/out"_s, u"--allow-same-device"_s}, 0,
             u"Warning: saving onto the scanned disk"_s, mountPoint + u"/out"_s},
        };
        for (const Case &c : cases) {
            const Run run = carve(QStringList{u"--deleted"_s, mountPoint, u"--types"_s, u"jpg"_s} + c.extra, environment);
            QVERIFY2(run.exitCode == c.exitCode && run.err.contains(c.message), qPrintable(c.name + u": "_s + run.err));
            if (c.extra.contains(u"--list"_s)) {
                const QStringList fields = run.out.section(u'\n', 0, 0).split(u'\t');
                QVERIFY2(fields.size() == 10 && fields[2] == u"JPEG"_s && fields[8] == u"Deleted"_s, qPrintable(run.out));
                QVERIFY2(run.out.count(u'\n') == 1, qPrintable(run.out));
            }
            if (c.savedInto.isEmpty()) {
                QVERIFY2(!QFileInfo::exists(mountPoint + u"/out"_s), c.name);
                continue;
            }
            const QStringList saved = entriesOf(c.savedInto).filter(u".jpg"_s);
            QVERIFY2(saved.size() == 1, qPrintable(c.name + u": "_s + entriesOf(c.savedInto).join(u", "_s)));
            QVERIFY2(readFile(c.savedInto + u'/' + saved.first()) == photo, c.name);
            const auto rows = reportRows(c.savedInto + u"/quorvel-report.tsv"_s);
            QVERIFY2(rows.size() == 1 && rows[0][u"status"_s] == u"saved"_s, c.name);
        }
        QCOMPARE(readFile(trashed), photo);
        QVERIFY(QFileInfo::exists(mountPoint + u"/.Trash-0/info/holiday.jpg.trashinfo"_s));
    }

    // A raw scan of a real disk and its partitions, saving into the mounted
    // first partition: only the other partition may be saved from there
    // without asking.
    void sameDiskRefusals_data()
    {
        QTest::addColumn<QString>("scanned");
        QTest::addColumn<bool>("insist");
        QTest::addColumn<bool>("refused");
        QTest::addRow("the disk holding the folder's partition") << u"disk"_s << false << true;
        QTest::addRow("the folder's own partition") << u"p1"_s << false << true;
        QTest::addRow("the other partition of that disk") << u"p2"_s << false << false;
        QTest::addRow("the disk, with --allow-same-device") << u"disk"_s << true << false;
    }
    void sameDiskRefusals()
    {
        QFETCH(QString, scanned);
        QFETCH(bool, insist);
        QFETCH(bool, refused);
        if (!m_partitioned) {
            QString problem;
            const QString image = m_dir.filePath(u"partitioned.img"_s);
            if (!makePartitionedImage(image, 48 * 1048576, {u",20M"_s, u","_s}, &problem))
                QSKIP(qPrintable(problem));
            m_partitioned = std::make_unique<LoopImage>(image);
        }
        LoopImage &disk = *m_partitioned;
        const QString mountPoint = m_dir.filePath(u"first-partition"_s);
        if (!QFileInfo::exists(mountPoint + u"/photo.jpg"_s)) {
            if (disk.device().isEmpty() || !QFileInfo::exists(disk.partition(2)))
                QSKIP(qPrintable(disk.problem.isEmpty() ? u"no partition nodes"_s : disk.problem));
            if (!disk.format(disk.partition(1), u"ext4"_s, u"FIRST"_s) || !disk.mount(disk.partition(1), mountPoint))
                QSKIP(qPrintable(disk.problem));
            QVERIFY(writeFile(mountPoint + u"/photo.jpg"_s, wholeJpegBytes(3000)));
            ::sync();
        }
        const QString source = scanned == u"disk"_s ? disk.device() : disk.partition(scanned.right(1).toInt());
        const QString out = mountPoint + u"/saved-from-"_s + scanned + (insist ? u"-anyway"_s : QString());
        QStringList arguments{source, u"--types"_s, u"jpg"_s, u"-o"_s, out};
        if (insist)
            arguments << u"--allow-same-device"_s;
        const Run run = carve(arguments);
        QVERIFY2(run.err.contains(u"the same disk as "_s + source) == refused, qPrintable(run.err));
        QCOMPARE(run.exitCode, refused ? 1 : 0);
        if (refused) {
            QVERIFY(!run.err.contains(u"Scanning"_s));
            QVERIFY(!QFileInfo::exists(out));
        }
        if (insist) {
            QVERIFY2(run.err.contains(u"--allow-same-device"_s), qPrintable(run.err));
            // The disk itself isn't mounted, but writes to its partition
            // overwrite its free space all the same.
            QVERIFY2(run.err.contains(u"is mounted at "_s + mountPoint + u" ("_s + disk.partition(1) + u')'), qPrintable(run.err));
            QVERIFY(!QDir(out).entryList({u"recovered_jpeg_*"_s}).isEmpty());
        }
    }

    // The Directory Scan through the service: each recognised file is a hit
    // that still exists, and saving copies it.
    void directoryScanListsAndCopiesFiles()
    {
        const QString folder = m_dir.filePath(u"photos"_s);
        QVERIFY(writeFile(folder + u"/inner/a.jpg"_s, jpegBytes(300)));
        QVERIFY(writeFile(folder + u"/notes.txt"_s, "plain text"));
        const QString out = m_dir.filePath(u"copies"_s);
        const Run run = carve({u"--directory"_s, folder, u"--list"_s, u"-o"_s, out});
        QCOMPARE(run.exitCode, 0);
        const QStringList fields = run.out.trimmed().split(u'\t');
        QCOMPARE(fields.size(), 10);
        QCOMPARE(fields[2], u"JPEG"_s);
        QCOMPARE(fields[8], rawValue(RecoveryStatus::existing));
        QCOMPARE(fields[9], folder + u"/inner/a.jpg"_s);
        QCOMPARE(readFile(out + u"/a.jpg"_s), jpegBytes(300));
        QCOMPARE(reportRows(out + u"/quorvel-report.tsv"_s).value(0).value(u"recovery"_s), fields[8]);
    }

    void cleanupTestCase() { m_partitioned.reset(); }

private:
    static constexpr int manyHits = 30;
    static constexpr qint64 hitSpacing = 21 * 512 * 1024;
    static constexpr qint64 manyHitSize = 5 * 1024 * 1024;
    QTemporaryDir m_dir;
    std::unique_ptr<LoopImage> m_partitioned;
    QString m_image;
    QString m_many;
    QByteArray m_jpeg;
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
