#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <QCryptographicHash>
#include <QScopeGuard>

#include <cerrno>
#include <cstring>

#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "carving/savecarved.h"
#include "helpers/testsupport.h"

namespace {

CarvedFile hit(const QString &type, const QString &extension, quint64 offset, std::optional<QByteArray> bytes,
               const QString &sourcePath = QStringLiteral("disk.img"))
{
    CarvedFile file;
    file.signatureType = type;
    file.fileExtension = extension;
    file.offset = offset;
    file.sourcePath = sourcePath;
    if (bytes) {
        file.data = CarvedData::fromBytes(*bytes);
        file.estimatedSize = bytes->size();
    }
    return file;
}

// Says every read worked but hands back at most 4 KiB of it.
class LessSource final : public ByteSource
{
public:
    bool read(quint64, qint64 length, QByteArray *out, QString *) const override
    {
        *out = QByteArray("carved") + QByteArray(qsizetype(std::min<qint64>(length, 4096)) - 6, 'x');
        return true;
    }
};

// Counts prepare calls and can run something just before handing out bytes.
class WatchedSource : public ByteSource
{
public:
    explicit WatchedSource(QByteArray bytes)
        : m_bytes(std::move(bytes))
    {
    }
    bool prepare(const QList<Range> &ranges, QString *) override
    {
        preparedRanges.append(ranges);
        return prepareSucceeds;
    }
    bool read(quint64 offset, qint64 length, QByteArray *out, QString *) const override
    {
        if (beforeRead)
            beforeRead();
        *out = m_bytes.mid(qsizetype(offset), qsizetype(length));
        return true;
    }

    QList<QList<Range>> preparedRanges;
    bool prepareSucceeds = true;
    std::function<void()> beforeRead;

private:
    QByteArray m_bytes;
};

CarvedFile hitOn(const std::shared_ptr<WatchedSource> &source, quint64 offset, qint64 length)
{
    CarvedFile file = hit(QStringLiteral("JPEG"), QStringLiteral("jpg"), offset, std::nullopt);
    file.data = CarvedData{source, offset, length, {}};
    file.estimatedSize = length;
    return file;
}

} // namespace

Q_DECLARE_METATYPE(SaveCounts)

class TestSave : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_out = m_dir.path() + QStringLiteral("/out-") + QString::number(++m_run);
        QVERIFY(QDir().mkpath(m_out));
    }

    // Carved bytes take the hit's suggested name, a whole file its own; a
    // taken name (by a file or a folder) gets the next free "stem (n).ext".
    void names_data()
    {
        QTest::addColumn<QString>("sourceName");   // empty: carved bytes at `offset`
        QTest::addColumn<quint64>("offset");
        QTest::addColumn<QStringList>("existing");  // a trailing "/" makes a folder
        QTest::addColumn<QStringList>("expected");
        QTest::addRow("same hit three times")
            << QString() << quint64(0xA000) << QStringList()
            << QStringList{"recovered_jpeg_0000A000.jpg", "recovered_jpeg_0000A000 (1).jpg", "recovered_jpeg_0000A000 (2).jpg"};
        QTest::addRow("name taken beforehand") << QString() << quint64(4096) << QStringList{"recovered_jpeg_00001000.jpg"}
                                               << QStringList{"recovered_jpeg_00001000 (1).jpg"};
        QTest::addRow("a folder in the way counts as taken") << QString() << quint64(0) << QStringList{"recovered_jpeg_00000000.jpg/"}
                                                             << QStringList{"recovered_jpeg_00000000 (1).jpg"};
        QTest::addRow("whole file") << "photo.png" << quint64(0) << QStringList() << QStringList{"photo.png", "photo (1).png"};
        QTest::addRow("whole file without extension") << "Makefile" << quint64(0) << QStringList()
                                                      << QStringList{"Makefile", "Makefile (1)"};
        QTest::addRow("hidden name") << ".profile" << quint64(0) << QStringList() << QStringList{".profile", ".profile (1)"};
    }
    void names()
    {
        QFETCH(QString, sourceName);
        QFETCH(quint64, offset);
        QFETCH(QStringList, existing);
        QFETCH(QStringList, expected);
        for (const QString &name : existing) {
            if (name.endsWith(QLatin1Char('/')))
                QVERIFY(QDir(m_out).mkdir(name.chopped(1)));
            else
                QVERIFY(writeFile(m_out + QLatin1Char('/') + name, "old"));
        }
        const QString source = m_dir.path() + QStringLiteral("/src-%1/").arg(m_run) + sourceName;
        CarvedFile file = hit(QStringLiteral("JPEG"), QStringLiteral("jpg"), offset, QByteArray("payload"));
        if (!sourceName.isEmpty()) {
            QVERIFY(writeFile(source, "payload"));
            file = hit(QStringLiteral("PNG"), QStringLiteral("png"), offset, std::nullopt, source);
        }
        QStringList saved;
        for (qsizetype n = 0; n < expected.size(); ++n) {
            const SaveResult result = saveCarvedFile(file, m_out);
            QVERIFY2(result, qPrintable(result.error ? result.error->description : QString()));
            saved.append(QFileInfo(result.savedPath).fileName());
            QCOMPARE(readFile(result.savedPath), QByteArray("payload"));
        }
        QCOMPARE(saved, expected);
        for (const QString &name : existing) {
            if (!name.endsWith(QLatin1Char('/')))
                QCOMPARE(readFile(m_out + QLatin1Char('/') + name), QByteArray("old"));
        }
    }

    void foldersAreCopiedAsTrees()
    {
        const QString tree = m_dir.path() + QStringLiteral("/Album");
        QVERIFY(writeFile(tree + QStringLiteral("/a.jpg"), "A"));
        QVERIFY(writeFile(tree + QStringLiteral("/inner/.b"), "B"));
        QVERIFY(QFile::link(QStringLiteral("/etc/passwd"), tree + QStringLiteral("/link")));
        const CarvedFile file = hit(QStringLiteral("JPEG"), QStringLiteral("jpg"), 0, std::nullopt, tree);
        QVERIFY(saveCarvedFile(file, m_out));
        const SaveResult second = saveCarvedFile(file, m_out);
        QVERIFY(second);
        QCOMPARE(second.savedPath, m_out + QStringLiteral("/Album (1)"));
        QCOMPARE(readFile(second.savedPath + QStringLiteral("/a.jpg")), QByteArray("A"));
        QCOMPARE(readFile(second.savedPath + QStringLiteral("/inner/.b")), QByteArray("B"));
        QCOMPARE(QFileInfo(second.savedPath + QStringLiteral("/link")).symLinkTarget(), QStringLiteral("/etc/passwd"));
    }

    // A folder that can't be read must fail the copy, not pass as empty.
    void anUnreadableSubfolderFailsTheCopy()
    {
        if (::geteuid() == 0)
            QSKIP("root reads every folder; run the tests as a user to cover this");
        const QString tree = m_dir.path() + QStringLiteral("/Project");
        QVERIFY(writeFile(tree + QStringLiteral("/secret/b.txt"), "B"));
        QVERIFY(QFile::setPermissions(tree + QStringLiteral("/secret"), QFileDevice::Permissions()));
        const CarvedFile file = hit(QStringLiteral("JPEG"), QStringLiteral("jpg"), 0, std::nullopt, tree);
        const SaveResult result = saveCarvedFile(file, m_out);
        QFile::setPermissions(tree + QStringLiteral("/secret"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(!result);
    }

    // Saving reads the hit's bytes from its source again. When the source
    // no longer holds what was carved there (the volume was written to since
    // the scan), the save must fail and write nothing, not save other bytes.
    void aSourceChangedSinceTheScanIsRefused()
    {
        const QString image = m_dir.path() + QStringLiteral("/changing.img");
        const QByteArray carved = jpegBytes(100);
        QVERIFY(writeFile(image, QByteArray(64, '\0') + carved));
        CarvedFile file = hit(QStringLiteral("JPEG"), QStringLiteral("jpg"), 64, std::nullopt);
        file.data = CarvedData{std::make_shared<FileByteSource>(image), 64, carved.size(), carved.left(32)};
        file.estimatedSize = carved.size();
        QVERIFY(saveCarvedFile(file, m_out));

        QVERIFY(writeFile(image, QByteArray(64 + carved.size(), 'Z')));
        const SaveResult result = saveCarvedFile(file, m_out);
        QVERIFY(!result);
        QVERIFY(result.error->description.contains(QStringLiteral("changed since the scan")));
        QCOMPARE(QDir(m_out).entryList(QDir::Files).size(), 1);
        QCOMPARE(saveCarvedFiles({file}, m_out).failed, 1);
    }

    // A verified hit is written at its true length, longer or shorter than
    // its window, after its structure is walked again on what was read; an
    // unverified one is written as its window. A structure that no longer
    // holds, or now ends elsewhere, is refused and leaves nothing behind.
    void whatIsWritten_data()
    {
        QTest::addColumn<bool>("verified");
        QTest::addColumn<qint64>("window");
        QTest::addColumn<qint64>("changeAt");   // -1: the source stays as it was
        QTest::addColumn<QByteArray>("changeTo");
        QTest::addColumn<QString>("expected");  // "whole", "window", or a refusal's words
        const QByteArray whole = wholeJpegBytes(300);
        QTest::addRow("verified, longer than its window") << true << 200LL << -1LL << QByteArray() << "whole";
        QTest::addRow("verified, shorter than its window") << true << qint64(whole.size() + 502) << -1LL << QByteArray()
                                                           << "whole";
        QTest::addRow("unverified: its window") << false << 200LL << -1LL << QByteArray() << "window";
        QTest::addRow("frame header broken since the scan")
            << true << 200LL << qint64(whole.indexOf(QByteArray::fromHex("FFC0")) + 4) << QByteArray(1, '\0')
            << "invalid frame header";
        QTest::addRow("ends earlier since the scan")
            << true << 200LL << qint64(whole.size() - 100) << QByteArray::fromHex("FFD9") << "now ends elsewhere";
    }

    void whatIsWritten()
    {
        QFETCH(bool, verified);
        QFETCH(qint64, window);
        QFETCH(qint64, changeAt);
        QFETCH(QByteArray, changeTo);
        QFETCH(QString, expected);
        const QByteArray whole = wholeJpegBytes(300);
        QByteArray bytes = QByteArray(64, '\0') + whole + QByteArray(500, 'j') + QByteArray::fromHex("FFD9");
        const QString image = m_dir.path() + QStringLiteral("/written-%1.img").arg(m_run);
        QVERIFY(writeFile(image, bytes));
        CarvedFile file = hit(QStringLiteral("JPEG"), QStringLiteral("jpg"), 64, std::nullopt);
        file.data = CarvedData{std::make_shared<FileByteSource>(image), 64, window, whole.left(32)};
        file.estimatedSize = window;
        file.verification.state = verified ? Verification::State::verified : Verification::State::unverified;
        file.verification.length = verified ? whole.size() : 0;
        if (changeAt >= 0) {
            bytes.replace(64 + changeAt, changeTo.size(), changeTo);
            QVERIFY(writeFile(image, bytes));
        }

        const SaveResult result = saveCarvedFile(file, m_out);
        if (expected == QLatin1String("whole") || expected == QLatin1String("window")) {
            QVERIFY2(result, qPrintable(result.error ? result.error->description : QString()));
            QCOMPARE(readFile(result.savedPath), expected == QLatin1String("whole") ? whole : bytes.mid(64, window));
        } else {
            QVERIFY(!result);
            QVERIFY2(result.error->description.contains(QStringLiteral("changed since the scan"))
                         && result.error->description.contains(expected),
                     qPrintable(result.error->description));
            QCOMPARE(QDir(m_out).entryList(QDir::Files | QDir::Hidden), QStringList());
        }
    }

    void bytesWinOverAnExistingSource()
    {
        const QString source = m_dir.path() + QStringLiteral("/image.dd");
        QVERIFY(writeFile(source, "the whole image"));
        const CarvedFile file = hit(QStringLiteral("GIF"), QStringLiteral("gif"), 7, QByteArray("GIF89a-bytes"), source);
        const SaveResult result = saveCarvedFile(file, m_out);
        QVERIFY(result);
        // Carved bytes are named after the hit, not after the volume or image they came from.
        QCOMPARE(QFileInfo(result.savedPath).fileName(), QStringLiteral("recovered_gif_00000007.gif"));
        QCOMPARE(readFile(result.savedPath), QByteArray("GIF89a-bytes"));
    }

    // A carved hit names its image or volume, not a path; a file of that name
    // in the working folder must not lend the hit its name.
    void aSourceNameIsNotResolvedAgainstTheWorkingFolder()
    {
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QVERIFY(writeFile(QStringLiteral("disk.img"), "image"));
        const SaveResult result =
            saveCarvedFile(hit(QStringLiteral("JPEG"), QStringLiteral("jpg"), 16, QByteArray("jpeg bytes!!")), m_out);
        QDir::setCurrent(previous);
        QVERIFY(result);
        QCOMPARE(QFileInfo(result.savedPath).fileName(), QStringLiteral("recovered_jpeg_00000010.jpg"));
    }

    void counts_data()
    {
        QTest::addColumn<bool>("folderIsAFile");
        QTest::addColumn<SaveCounts>("expected");
        QTest::addRow("writable folder") << false << SaveCounts{2, 0, 1};
        QTest::addRow("unwritable destination") << true << SaveCounts{0, 2, 1};
    }
    void counts()
    {
        QFETCH(bool, folderIsAFile);
        QFETCH(SaveCounts, expected);
        const QString existing = m_dir.path() + QStringLiteral("/exists.txt");
        QVERIFY(writeFile(existing, "x"));
        QString folder = m_out;
        if (folderIsAFile) {
            folder = m_out + QStringLiteral("/plain-file");
            QVERIFY(writeFile(folder, "not a folder"));
        }
        const QList<CarvedFile> hits = {
            hit(QStringLiteral("JPEG"), QStringLiteral("jpg"), 1, QByteArray("jpeg-bytes-123")),
            hit(QStringLiteral("TXT"), QStringLiteral("txt"), 0, std::nullopt, existing),
            hit(QStringLiteral("PNG"), QStringLiteral("png"), 0, std::nullopt, m_dir.path() + QStringLiteral("/gone.png")),
        };
        QCOMPARE(saveCarvedFiles(hits, folder), expected);
        // Nothing of the hit without bytes or source was written.
        QCOMPARE(QDir(folder).entryList({QStringLiteral("*.png")}, QDir::Files), QStringList());
    }

    void eachSourceIsPreparedOnceWithAllItsRanges()
    {
        auto first = std::make_shared<WatchedSource>(QByteArray(4096, 'a'));
        auto second = std::make_shared<WatchedSource>(QByteArray(4096, 'b'));
        const QList<CarvedFile> hits = {hitOn(first, 0, 100), hitOn(second, 10, 20), hitOn(first, 200, 300),
                                        hit(QStringLiteral("JPEG"), QStringLiteral("jpg"), 0, std::nullopt)};
        QCOMPARE(saveCarvedFiles(hits, m_out), (SaveCounts{3, 0, 1}));
        QCOMPARE(first->preparedRanges.size(), 1);
        QCOMPARE(first->preparedRanges.first().size(), 2);
        QCOMPARE(first->preparedRanges.first().at(1).offset, quint64(200));
        QCOMPARE(first->preparedRanges.first().at(1).length, qint64(300));
        QCOMPARE(second->preparedRanges.size(), 1);

        auto refusing = std::make_shared<WatchedSource>(QByteArray(100, 'c'));
        refusing->prepareSucceeds = false;
        QCOMPARE(saveCarvedFiles({hitOn(refusing, 0, 50)}, m_out), (SaveCounts{0, 1, 0}));
        QVERIFY(!saveCarvedFile(hitOn(refusing, 0, 50), m_out));
    }

    // Another process creating the chosen name just before the write must
    // neither be overwritten nor make the save fail.
    void aNameTakenMeanwhileIsNeverOverwritten()
    {
        auto source = std::make_shared<WatchedSource>(QByteArray(64, 'n'));
        const QString contested = m_out + QStringLiteral("/recovered_jpeg_00000000.jpg");
        source->beforeRead = [contested] { writeFile(contested, "theirs"); };
        const SaveResult result = saveCarvedFile(hitOn(source, 0, 64), m_out);
        QVERIFY(result);
        QCOMPARE(result.savedPath, m_out + QStringLiteral("/recovered_jpeg_00000000 (1).jpg"));
        QCOMPARE(readFile(contested), QByteArray("theirs"));
        QCOMPARE(readFile(result.savedPath), QByteArray(64, 'n'));
    }

    // Files are written without a name, or under a hidden temporary one on
    // file systems that can't do that; either way a file only ever appears
    // complete under its final name, and a failure leaves nothing behind.
    void bothWaysOfWriting_data()
    {
        QTest::addColumn<bool>("unnamed");
        QTest::addRow("unnamed files") << true;
        QTest::addRow("temporary names") << false;
    }
    void bothWaysOfWriting()
    {
        QFETCH(bool, unnamed);
        setUnnamedSaveFiles(unnamed);
        const auto restore = qScopeGuard([] { setUnnamedSaveFiles(true); });
        const CarvedFile jpeg = hit(QStringLiteral("JPEG"), QStringLiteral("jpg"), 0xA000, QByteArray("jpeg bytes"));
        QStringList saved;
        for (int i = 0; i < 2; ++i)
            saved << QFileInfo(saveCarvedFile(jpeg, m_out).savedPath).fileName();
        QCOMPARE(saved, (QStringList{QStringLiteral("recovered_jpeg_0000A000.jpg"), QStringLiteral("recovered_jpeg_0000A000 (1).jpg")}));
        saved.sort();
        QCOMPARE(QDir(m_out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name), saved);

        const QString small = m_dir.path() + QStringLiteral("/small");
        QVERIFY(QDir().mkpath(small));
        if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a small tmpfs here");
        const SaveResult result =
            saveCarvedFile(hit(QStringLiteral("JPEG"), QStringLiteral("jpg"), 0, QByteArray(1 << 20, 'z')), small);
        const QStringList left = QDir(small).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        ::umount(QFile::encodeName(small).constData());
        QVERIFY(!result);
        QCOMPARE(result.error->code, ENOSPC);
        QCOMPARE(result.error->reason, QString::fromLocal8Bit(std::strerror(ENOSPC)));
        QCOMPARE(left, QStringList());
    }

    void failureReasons_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::addRow("nothing to save") << QStringLiteral("gone") << QStringLiteral("No data and source file not accessible");
        QTest::addRow("source changed") << QStringLiteral("changed") << QStringLiteral("Source changed since the scan");
        QTest::addRow("source unreadable") << QStringLiteral("short") << QStringLiteral("Could not read the source");
        // Fewer bytes than asked, said to be all: the save ends, not loops.
        QTest::addRow("source hands back less") << QStringLiteral("less") << QStringLiteral("Could not read the source");
        // A pipe in a Trash folder would block saving for good.
        QTest::addRow("a pipe") << QStringLiteral("pipe") << QStringLiteral("Not a regular file or folder");
        QTest::addRow("destination is a file") << QStringLiteral("file") << QString::fromLocal8Bit(std::strerror(ENOTDIR));
    }
    void failureReasons()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QString image = m_dir.path() + QStringLiteral("/reasons.img");
        QVERIFY(writeFile(image, QByteArray(64, 'Z')));
        CarvedFile file = hit(QStringLiteral("JPEG"), QStringLiteral("jpg"), 0, QByteArray("carved"));
        QString folder = m_out;
        if (kind == QStringLiteral("gone"))
            file = hit(QStringLiteral("PNG"), QStringLiteral("png"), 0, std::nullopt, m_dir.path() + QStringLiteral("/gone.png"));
        if (kind == QStringLiteral("changed"))
            file.data = CarvedData{std::make_shared<FileByteSource>(image), 0, 16, QByteArray("FFD8")};
        if (kind == QStringLiteral("short"))
            file.data = CarvedData{std::make_shared<FileByteSource>(image), 60, 16, QByteArray()};
        if (kind == QStringLiteral("less")) {
            file.data = CarvedData{std::make_shared<LessSource>(), 0, 3 << 20, QByteArray("carved")};
            file.estimatedSize = 3 << 20;
        }
        if (kind == QStringLiteral("pipe")) {
            const QString pipe = m_dir.path() + QStringLiteral("/trashed-pipe");
            QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0 || errno == EEXIST);
            file = hit(QStringLiteral("TXT"), QStringLiteral("txt"), 0, std::nullopt, pipe);
        }
        if (kind == QStringLiteral("file")) {
            folder = m_out + QStringLiteral("/plain-file");
            QVERIFY(writeFile(folder, "x"));
        }
        const SaveResult result = saveCarvedFile(file, folder);
        QVERIFY(!result);
        QCOMPARE(result.error->reason, reason);
    }

    // Root recovers other people's files: they must not become readable by
    // everyone, nor stay root's in the asking user's folder. Anyone else gets
    // what their umask allows, and no copy keeps a set-user-ID bit.
    void modesAndOwners_data()
    {
        QTest::addColumn<bool>("isPrivate");
        QTest::addColumn<int>("sourceMode");  // -1: carved bytes; else a copied file of that mode
        QTest::addColumn<int>("expectedMode");
        QTest::addRow("private carved file") << true << -1 << 0600;
        QTest::addRow("private copy of a set-user-ID program") << true << 04755 << 0700;
        QTest::addRow("private copy of a shared file") << true << 0644 << 0600;
        QTest::addRow("carved file under umask 027") << false << -1 << 0640;
        QTest::addRow("copy of a private file stays private") << false << 0600 << 0600;
        QTest::addRow("copy of a set-user-ID program under umask 027") << false << 04755 << 0750;
    }
    void modesAndOwners()
    {
        QFETCH(bool, isPrivate);
        QFETCH(int, sourceMode);
        QFETCH(int, expectedMode);
        if (isPrivate && ::geteuid() != 0)
            QSKIP("handing files to another user needs root");
        SaveAccess access;
        access.isPrivate = isPrivate;
        if (isPrivate) {
            access.owner = 65534;
            access.group = 65534;
        }
        const mode_t oldMask = ::umask(027);
        const auto restore = qScopeGuard([oldMask] { ::umask(oldMask); });
        CarvedFile file = hit(QStringLiteral("JPEG"), QStringLiteral("jpg"), 0, QByteArray("carved"));
        if (sourceMode >= 0) {
            const QString source = m_dir.path() + QStringLiteral("/mode-") + QString::number(sourceMode, 8);
            QVERIFY(writeFile(source, "#!/bin/sh\n"));
            QVERIFY(::chmod(QFile::encodeName(source).constData(), mode_t(sourceMode)) == 0);
            file = hit(QStringLiteral("TXT"), QStringLiteral("txt"), 0, std::nullopt, source);
        }
        const QString folder = m_out + QStringLiteral("/new/deeper");
        QString problem;
        QVERIFY2(createSaveFolder(folder, access, &problem), qPrintable(problem));
        const SaveResult result = saveCarvedFile(file, folder, access);
        QVERIFY(result);
        struct stat saved {};
        QCOMPARE(::stat(QFile::encodeName(result.savedPath).constData(), &saved), 0);
        QCOMPARE(int(saved.st_mode & 07777), expectedMode);
        for (const QString &path : QStringList{result.savedPath, folder, m_out + QStringLiteral("/new")}) {
            struct stat status {};
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &status), 0);
            QCOMPARE(status.st_uid, isPrivate ? uid_t(65534) : ::geteuid());
            if (S_ISDIR(status.st_mode))
                QCOMPARE(int(status.st_mode & 0777), isPrivate ? 0700 : 0750);
        }
    }

    void accessOfTheProcess_data()
    {
        QTest::addColumn<uint>("effectiveUser");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<bool>("isPrivate");
        QTest::addColumn<uint>("owner");
        QTest::addColumn<uint>("group");
        const uint none = uint(-1);
        struct passwd *nobody = ::getpwuid(65534);
        const uint nobodyGroup = nobody ? nobody->pw_gid : none;
        QTest::addRow("a user") << 1000u << QStringList{QStringLiteral("SUDO_UID=1000")} << false << none << none;
        QTest::addRow("root itself") << 0u << QStringList() << true << none << none;
        QTest::addRow("sudo") << 0u << QStringList{QStringLiteral("SUDO_UID=1000"), QStringLiteral("SUDO_GID=1001")} << true
                              << 1000u << 1001u;
        QTest::addRow("pkexec") << 0u << QStringList{QStringLiteral("PKEXEC_UID=65534")} << true << 65534u << nobodyGroup;
        QTest::addRow("sudo from root") << 0u << QStringList{QStringLiteral("SUDO_UID=0")} << true << none << none;
        QTest::addRow("garbage") << 0u << QStringList{QStringLiteral("SUDO_UID=me")} << true << none << none;
    }
    void accessOfTheProcess()
    {
        QFETCH(uint, effectiveUser);
        QFETCH(QStringList, environment);
        QFETCH(bool, isPrivate);
        QFETCH(uint, owner);
        QFETCH(uint, group);
        QProcessEnvironment env;
        for (const QString &entry : environment)
            env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
        const SaveAccess access = SaveAccess::forProcess(uid_t(effectiveUser), env);
        QCOMPARE(access.isPrivate, isPrivate);
        QCOMPARE(uint(access.owner), owner);
        QCOMPARE(uint(access.group), group);
    }

    // A batch stops between files when asked and tells each result in
    // order, with the hash of what it wrote.
    void batchStopsBetweenFiles()
    {
        QList<CarvedFile> hits;
        for (int i = 0; i < 4; ++i)
            hits << hit(QStringLiteral("GIF"), QStringLiteral("gif"), quint64(i), QByteArray("GIF89a-") + QByteArray::number(i));
        SaveObserver observer;
        QList<quint64> told;
        QList<QByteArray> hashes;
        observer.proceed = [&] { return told.size() < 2; };
        observer.done = [&](const CarvedFile &file, const SaveResult &result) {
            told << file.offset;
            hashes << result.sha256;
            QCOMPARE(result.bytesWritten, qint64(8));
            QCOMPARE(readFile(result.savedPath), QByteArray("GIF89a-") + QByteArray::number(file.offset));
        };
        QCOMPARE(saveCarvedFiles(hits, m_out, observer), (SaveCounts{2, 0, 0}));
        QCOMPARE(told, (QList<quint64>{0, 1}));
        QCOMPARE(hashes.at(1), QCryptographicHash::hash("GIF89a-1", QCryptographicHash::Sha256));
        QCOMPARE(QDir(m_out).entryList(QDir::Files).size(), 2);
    }

    // A large file tells how far it is while it is written, carved bytes a
    // block at a time and a file that still exists as it is copied.
    void largeFileTellsItsProgress_data()
    {
        QTest::addColumn<bool>("carved");
        QTest::addRow("carved bytes") << true;
        QTest::addRow("an existing file") << false;
    }
    void largeFileTellsItsProgress()
    {
        QFETCH(bool, carved);
        const QByteArray bytes = QByteArray("GIF89a") + QByteArray(3 * 1024 * 1024 + 12345, 'g');
        const QString existing = m_dir.filePath(QStringLiteral("still-there.gif"));
        QVERIFY(writeFile(existing, bytes));
        const CarvedFile file = carved ? hit(QStringLiteral("GIF"), QStringLiteral("gif"), 0, bytes)
                                       : hit(QStringLiteral("GIF"), QStringLiteral("gif"), 0, std::nullopt, existing);
        SaveObserver observer;
        QList<qint64> heard;
        observer.written = [&heard](qint64 written) { heard << written; };
        QCOMPARE(saveCarvedFiles({file}, m_out, observer), (SaveCounts{1, 0, 0}));
        QVERIFY2(heard.size() >= 4, qPrintable(QString::number(heard.size())));
        QVERIFY(std::is_sorted(heard.cbegin(), heard.cend()) && heard.first() > 0);
        QCOMPARE(heard.last(), qint64(bytes.size()));
    }

private:
    QTemporaryDir m_dir;
    QString m_out;
    int m_run = 0;
};

QTEST_GUILESS_MAIN(TestSave)
#include "tst_save.moc"
