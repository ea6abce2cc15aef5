#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <QMetaEnum>

#include "carving/filecarvingservice.h"
#include "helpers/fakeplatform.h"
#include "helpers/testsupport.h"
#include "model/bytecount.h"

Q_DECLARE_METATYPE(ReadOutcome)

namespace {

QString writeImage(const QString &path, qint64 size, const QList<QPair<qint64, QByteArray>> &plants)
{
    QByteArray bytes(size, 'U');
    for (const auto &[at, content] : plants)
        bytes.replace(at, content.size(), content);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != size)
        return {};
    return path;
}

CarvedFile sampleHit(quint64 offset)
{
    CarvedFile file;
    file.signatureType = QStringLiteral("JPEG");
    file.fileExtension = QStringLiteral("jpg");
    file.offset = offset;
    file.estimatedSize = 4096;
    file.health = CarvedFileHealth::good;
    file.sourcePath = QStringLiteral("disk.img");
    file.data = CarvedData::fromBytes(QByteArray("\xFF\xD8\xFF\xE0 sample"));
    return file;
}

// A source that takes far longer to scan than any test waits: a sparse image
// of 64 GiB, which the scan reads as zeros at memory speed.
QString endlessImage(const QString &folder)
{
    QFile file(folder + QStringLiteral("/endless.img"));
    if (!file.open(QIODevice::WriteOnly) || !file.resize(64LL * 1024 * MiB))
        return {};
    return file.fileName();
}

const QRegularExpression summaryPattern(QStringLiteral("^Scan complete: (\\d+) files found • (.+) scanned • (\\d+\\.\\d)s$"));

} // namespace

class TestService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(m_dir.isValid());
    }

    void completionText_data()
    {
        QTest::addColumn<qsizetype>("count");
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<ReadOutcome>("outcome");
        QTest::addColumn<QString>("expected");
        QTest::addRow("rounded to one decimal") << qsizetype(3) << quint64(2097152) << 1.26 << ReadOutcome()
                                                << QStringLiteral("Scan complete: 3 files found • 2.1 MB scanned • 1.3s");
        QTest::addRow("nothing, no start time") << qsizetype(0) << quint64(0) << 0.0 << ReadOutcome()
                                                << QStringLiteral("Scan complete: 0 files found • Zero KB scanned • 0.0s");
        QTest::addRow("unreadable bytes") << qsizetype(3) << quint64(2097152) << 1.26 << ReadOutcome{8192, false}
                                          << QStringLiteral("Scan complete: 3 files found • 2.1 MB scanned • 1.3s • 8 KB "
                                                            "could not be read");
        QTest::addRow("source lost") << qsizetype(1) << quint64(2097152) << 1.26 << ReadOutcome{0, true}
                                     << QStringLiteral("Scan ended early: 1 files found • 2.1 MB scanned • 1.3s");
    }
    void completionText()
    {
        QFETCH(qsizetype, count);
        QFETCH(quint64, bytes);
        QFETCH(double, seconds);
        QFETCH(ReadOutcome, outcome);
        QFETCH(QString, expected);
        QCOMPARE(FileCarvingService::completionText(count, bytes, seconds, outcome), expected);
    }

    void diskImageScanPublishesItsProgress()
    {
        const QString path = writeImage(m_dir.path() + QStringLiteral("/card.img"), 2 * MiB - 100,
                                        {{4096, jpegBytes(1000)}, {MiB + 7, jpegBytes(2000)}});
        FileCarvingService service;
        QStringList statuses;
        connect(&service, &FileCarvingService::statusMessageChanged, &service,
                [&] { statuses.append(service.statusMessage()); });
        QSignalSpy scanning(&service, &FileCarvingService::isScanningChanged);

        service.scanDiskImage(QUrl::fromLocalFile(path), std::nullopt);
        QVERIFY(service.isScanning()); // set before the call returns
        QCOMPARE(service.statusMessage(), QStringLiteral("Initializing scan..."));
        QVERIFY(service.scanStartTime().isValid());
        QTRY_VERIFY(!service.isScanning());

        QCOMPARE(scanning.size(), 2);
        QCOMPARE(service.carvedFiles()->rowCount(), 2);
        QCOMPARE(service.carvedFiles()->at(1).offset, quint64(MiB + 7));
        QCOMPARE(service.carvedFiles()->at(1).sourcePath, QStringLiteral("card.img"));
        QCOMPARE(service.scanProgress(), 1.0);
        QVERIFY(!service.hasError());
        QVERIFY(service.errorMessage().isNull());

        QCOMPARE(statuses.value(0), QStringLiteral("Initializing scan..."));
        QCOMPARE(statuses.value(1), QStringLiteral("Scanning card.img..."));
        QCOMPARE(statuses.value(2), QStringLiteral("Scanning card.img: ") + formatByteCount(MiB) + QStringLiteral(" / ")
                                        + formatByteCount(2 * MiB - 100) + QStringLiteral(" — 1 files found"));
        const QRegularExpressionMatch summary = summaryPattern.match(statuses.constLast());
        QVERIFY2(summary.hasMatch(), qPrintable(statuses.constLast()));
        QCOMPARE(summary.captured(1), QStringLiteral("2"));
    }

    void aMissingImageEndsWithTheErrorAndTheSummary()
    {
        const QString path = m_dir.path() + QStringLiteral("/nope.dmg");
        FileCarvingService service;
        service.scanDiskImage(QUrl::fromLocalFile(path), std::nullopt);
        QTRY_VERIFY(!service.isScanning());
        QVERIFY(service.errorMessage().startsWith(QStringLiteral("Cannot open ") + path
                                                  + QStringLiteral(": No such file or directory\n\n")));
        QVERIFY(summaryPattern.match(service.statusMessage()).hasMatch());

        // The next scan start clears the error; New Scan clears the rest.
        const QString good = writeImage(m_dir.path() + QStringLiteral("/ok.img"), 4096, {{0, jpegBytes(100)}});
        service.scanDiskImage(QUrl::fromLocalFile(good), std::nullopt);
        QVERIFY(!service.hasError());
        QTRY_VERIFY(!service.isScanning());
        QCOMPARE(service.carvedFiles()->rowCount(), 1);
        service.newScan();
        QCOMPARE(service.carvedFiles()->rowCount(), 0);
        QCOMPARE(service.scanProgress(), 0.0);
        QCOMPARE(service.statusMessage(), QString());
        QVERIFY(service.errorMessage().isNull());
    }

    void volumeScanDispatch_data()
    {
        QTest::addColumn<bool>("rawDeviceMissing");
        QTest::addColumn<QString>("expectedStatus");
        QTest::addColumn<int>("hits");
        QTest::addRow("empty raw device: the block device is read")
            << false << QStringLiteral("Scanning device %1 for file signatures...") << 1;
        QTest::addRow("failed probe: administrator scan")
            << true << QStringLiteral("Requesting administrator privileges...") << 0;
    }
    void volumeScanDispatch()
    {
        QFETCH(bool, rawDeviceMissing);
        QFETCH(QString, expectedStatus);
        QFETCH(int, hits);
        VolumeInfo volume;
        volume.name = QStringLiteral("USB STICK");
        volume.device = writeImage(m_dir.path() + QStringLiteral("/vol.img"), 8192, {{100, jpegBytes(500)}});
        volume.rawDevice = rawDeviceMissing ? m_dir.path() + QStringLiteral("/no-such-raw") : QString();
        const QString devicePath = rawDeviceMissing ? volume.rawDevice : volume.device;
        volume.totalSize = 8192;

        auto platform = std::make_shared<FakePlatform>();
        platform->admin.refuse = true; // the password dialog is dismissed
        FileCarvingService service(platform);
        QStringList statuses;
        connect(&service, &FileCarvingService::statusMessageChanged, &service,
                [&] { statuses.append(service.statusMessage()); });
        service.scanVolume(volume, std::nullopt);
        QTRY_VERIFY(!service.isScanning());

        QVERIFY(statuses.contains(QString(expectedStatus).replace(QStringLiteral("%1"), devicePath)));
        QCOMPARE(platform->admin.pipedRuns.size(), rawDeviceMissing ? 1 : 0);
        if (rawDeviceMissing)
            QVERIFY(platform->admin.pipedRuns.first().contains(devicePath));
        QCOMPARE(service.carvedFiles()->rowCount(), hits);
        if (hits)
            QCOMPARE(service.carvedFiles()->at(0).sourcePath, volume.name);
        QVERIFY(summaryPattern.match(service.statusMessage()).hasMatch());
    }

    void volumeScanFallsBackAndMatches()
    {
        VolumeInfo volume;
        volume.name = QStringLiteral("Encrypted");
        volume.mountPoint = QStringLiteral("/mnt/encrypted");
        volume.rawDevice = m_dir.path() + QStringLiteral("/missing-device");

        auto platform = std::make_shared<FakePlatform>();
        platform->admin.refuse = true;
        FileCarvingService service(platform);
        QStringList statuses;
        connect(&service, &FileCarvingService::statusMessageChanged, &service,
                [&] { statuses.append(service.statusMessage()); });
        QString directoryRoot;
        QString matchingRoot;
        service.setDirectoryScan([&](ScanSink &sink, const QString &folder, const QList<FileSignature> &, TreeWalk::Scope) {
            directoryRoot = folder;
            CarvedFile whole = sampleHit(0);
            whole.data.reset();
            sink.postCarvedFiles({whole});
        });
        service.setExistingFileMatching([&](ReviewingSink &sink, const QString &root, const QList<FileSignature> &, TreeWalk::Scope) {
            matchingRoot = root;
            sink.withHits([](HitTable &hits) {
                QCOMPARE(hits.hitCount(), 1);
                hits.setRecoveryStatus(0, RecoveryStatus::existing, QStringLiteral("/mnt/encrypted/a.jpg"));
            });
            sink.postExistingFileCount(1);
        });
        service.scanVolume(volume, QList<FileSignature>());
        QTRY_VERIFY(!service.isScanning());

        QVERIFY(statuses.contains(QStringLiteral("Raw scan found no files (drive may be encrypted). Scanning directory...")));
        QVERIFY(!service.hasError()); // the refused password's error is cleared by the fallback
        QCOMPARE(directoryRoot, volume.mountPoint);
        QCOMPARE(matchingRoot, volume.mountPoint);
        QCOMPARE(service.carvedFiles()->rowCount(), 1);
        QCOMPARE(service.carvedFiles()->at(0).recoveryStatus, RecoveryStatus::existing);
        QCOMPARE(service.existingFileCount(), 1);
    }

    void diskImageScanNeitherFallsBackNorMatches()
    {
        const QString path = writeImage(m_dir.path() + QStringLiteral("/plain.img"), 4096, {{10, jpegBytes(100)}});
        FileCarvingService service;
        bool called = false;
        service.setDirectoryScan([&](ScanSink &, const QString &, const QList<FileSignature> &, TreeWalk::Scope) { called = true; });
        service.setExistingFileMatching([&](ReviewingSink &, const QString &, const QList<FileSignature> &, TreeWalk::Scope) { called = true; });
        service.scanDiskImage(QUrl::fromLocalFile(path), QList<FileSignature>()); // an empty list stays empty
        QTRY_VERIFY(!service.isScanning());
        QVERIFY(!called);
        QCOMPARE(service.carvedFiles()->rowCount(), 0);
    }

    // A device listed without a mount point has no files: a raw scan that
    // finds nothing must not walk the working folder instead.
    void anUnmountedDeviceNeitherFallsBackNorMatches()
    {
        VolumeInfo device;
        device.name = QStringLiteral("sdz2");
        device.device = writeImage(m_dir.path() + QStringLiteral("/unmounted.img"), 4096, {{10, jpegBytes(100)}});
        FileCarvingService service(std::make_shared<FakePlatform>());
        QStringList roots;
        service.setDirectoryScan(
            [&](ScanSink &, const QString &root, const QList<FileSignature> &, TreeWalk::Scope) { roots << root; });
        service.setExistingFileMatching(
            [&](ReviewingSink &, const QString &root, const QList<FileSignature> &, TreeWalk::Scope) { roots << root; });
        service.scanVolume(device, QList<FileSignature>{defaultSignatures().first()});
        QTRY_VERIFY(!service.isScanning());
        QCOMPARE(service.carvedFiles()->rowCount(), 1);
        service.scanVolume(device, QList<FileSignature>());
        QTRY_VERIFY(!service.isScanning());
        QCOMPARE(roots, QStringList());
    }

    void stopEndsWithTheSummary()
    {
        VolumeInfo endless;
        endless.name = QStringLiteral("endless");
        endless.device = endlessImage(m_dir.path());
        QVERIFY(!endless.device.isEmpty());
        FileCarvingService service;
        service.scanVolume(endless, QList<FileSignature>{defaultSignatures().first()});
        QTRY_VERIFY(service.bytesScanned() >= quint64(2 * MiB));
        service.cancelScan();
        QTRY_VERIFY(!service.isScanning());
        QVERIFY(summaryPattern.match(service.statusMessage()).hasMatch());
        QCOMPARE(service.scanProgress(), 1.0);
    }

    // Stop and a new scan at once: the old scan's progress never lands in the
    // new one's state.
    void stopThenStartAtOnce()
    {
        VolumeInfo endless;
        endless.name = QStringLiteral("endless");
        endless.device = endlessImage(m_dir.path());
        QVERIFY(!endless.device.isEmpty());
        FileCarvingService service;
        service.scanVolume(endless, QList<FileSignature>{defaultSignatures().first()});
        QTRY_VERIFY(service.bytesScanned() >= quint64(MiB));
        service.cancelScan();
        const QString path = writeImage(m_dir.path() + QStringLiteral("/next.img"), 4096, {{0, jpegBytes(100)}});
        service.scanDiskImage(QUrl::fromLocalFile(path), std::nullopt);
        QTRY_VERIFY(!service.isScanning());
        QTest::qWait(300);
        QVERIFY(!service.isScanning());
        QCOMPARE(service.carvedFiles()->rowCount(), 1);
        QCOMPARE(service.bytesScanned(), quint64(4096));
        QVERIFY(summaryPattern.match(service.statusMessage()).hasMatch());
    }

    // The image is cut short while it is scanned: the scan says so, in the
    // error and in the summary, instead of reporting a complete scan.
    void aSourceThatShrinksEndsEarly()
    {
        const QString path = endlessImage(m_dir.path());
        QVERIFY(!path.isEmpty());
        FileCarvingService service;
        service.scanDiskImage(QUrl::fromLocalFile(path), QList<FileSignature>{defaultSignatures().first()});
        QTRY_VERIFY(service.bytesScanned() >= quint64(2 * MiB));
        QVERIFY(QFile::resize(path, MiB));
        QTRY_VERIFY(!service.isScanning());
        QVERIFY2(service.errorMessage().startsWith(QStringLiteral("Reading endless.img stopped at ")),
                 qPrintable(service.errorMessage()));
        QVERIFY2(service.statusMessage().startsWith(QStringLiteral("Scan ended early: ")), qPrintable(service.statusMessage()));
    }

    void destroyingTheServiceMidScanIsSafe()
    {
        VolumeInfo endless;
        endless.device = endlessImage(m_dir.path());
        QVERIFY(!endless.device.isEmpty());
        auto *service = new FileCarvingService;
        QSignalSpy progress(service, &FileCarvingService::bytesScannedChanged);
        service->scanVolume(endless, QList<FileSignature>{defaultSignatures().first()});
        QVERIFY(progress.wait());
        delete service; // returns at once; the worker sees the service gone
        QTest::qWait(200); // posted changes find the service gone
    }

    void refreshVolumesPublishesOnlyTheList()
    {
        auto platform = std::make_shared<FakePlatform>();
        VolumeInfo a;
        a.name = QStringLiteral("Data");
        a.device = writeImage(m_dir.path() + QStringLiteral("/data.img"), 4096, {{0, jpegBytes(100)}});
        a.totalSize = 4096;
        a.isExternal = true;
        platform->volumes = {a, VolumeInfo{}};
        FileCarvingService service(platform);
        QAbstractItemModelTester tester(service.volumes(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy status(&service, &FileCarvingService::statusMessageChanged);
        service.refreshVolumes();
        QTRY_COMPARE(service.volumes()->rowCount(), 2);
        const QModelIndex first = service.volumes()->index(0);
        QCOMPARE(first.data(int(VolumeListModel::Role::name)).toString(), QStringLiteral("Data"));
        QCOMPARE(first.data(int(VolumeListModel::Role::isExternal)).toBool(), true);
        QCOMPARE(status.size(), 0);
        QVERIFY(!service.isScanning());

        // The screen names the volume by its id.
        service.startVolumeScan(first.data(int(VolumeListModel::Role::id)).toString(), {QStringLiteral("JPEG")});
        QTRY_VERIFY(!service.isScanning());
        QCOMPARE(service.carvedFiles()->rowCount(), 1);
        QCOMPARE(service.carvedFiles()->at(0).sourcePath, QStringLiteral("Data"));
    }

    // Save All takes what the list shows: the whole files, and the
    // unverified matches only once the user has asked to see them.
    void saveFromTheScreen()
    {
        const QByteArray whole = wholeJpegBytes(500);
        const QString path = writeImage(m_dir.path() + QStringLiteral("/save.img"), 8192,
                                        {{100, whole}, {3000, wholeJpegBytes(700)}, {6000, jpegBytes(700)}});
        FileCarvingService service;
        QVERIFY(!service.showUnverified());
        service.scanDiskImage(QUrl::fromLocalFile(path), QList<FileSignature>{defaultSignatures().first()});
        QTRY_VERIFY(!service.isScanning());
        QCOMPARE(service.carvedFiles()->rowCount(), 3);
        QCOMPARE(service.verifiedCount(), 2);
        QCOMPARE(service.unverifiedCount(), 1);
        CarvedFile gone = sampleHit(0);
        gone.data.reset();
        gone.sourcePath = m_dir.path() + QStringLiteral("/deleted-meanwhile.jpg");
        service.carvedFiles()->append({gone});

        const QString all = m_dir.path() + QStringLiteral("/all");
        const QString some = m_dir.path() + QStringLiteral("/some");
        const QString withJunk = m_dir.path() + QStringLiteral("/with-junk");
        QVERIFY(QDir().mkpath(all) && QDir().mkpath(some) && QDir().mkpath(withJunk));
        const QVariantMap everything = service.saveAll(QUrl::fromLocalFile(all));
        QCOMPARE(everything, (QVariantMap{{QStringLiteral("saved"), 2}, {QStringLiteral("failed"), 0},
                                          {QStringLiteral("noData"), 1}}));
        QCOMPARE(readFile(all + QStringLiteral("/recovered_jpeg_00000064.jpg")), whole);
        const QString firstId = service.carvedFiles()->index(0).data(int(CarvedFileModel::Role::id)).toString();
        const QString goneId = gone.id.toString(QUuid::WithoutBraces);
        const QVariantMap chosen = service.saveSelected({firstId, goneId}, QUrl::fromLocalFile(some));
        QCOMPARE(chosen, (QVariantMap{{QStringLiteral("saved"), 1}, {QStringLiteral("failed"), 1},
                                      {QStringLiteral("noData"), 0}}));
        QCOMPARE(QDir(some).entryList(QDir::Files), QStringList{QStringLiteral("recovered_jpeg_00000064.jpg")});

        QSignalSpy toggled(&service, &FileCarvingService::showUnverifiedChanged);
        service.setShowUnverified(true);
        QCOMPARE(toggled.size(), 1);
        QCOMPARE(service.saveAll(QUrl::fromLocalFile(withJunk)).value(QStringLiteral("saved")).toInt(), 3);
    }

    // Random data and crafted inputs give a match every few bytes: the list
    // keeps its limit of unverified rows, and the rest are counted, in the
    // summary too.
    void aDeviceOfJunkEndsWithACount()
    {
        const qint64 size = 2 * MiB;
        QByteArray bytes;
        bytes.reserve(size);
        while (bytes.size() < size)
            bytes.append(QByteArray::fromHex("FFD8FFE0"));
        bytes.replace(MiB, 4000, wholeJpegBytes(3984));
        const QString path = m_dir.path() + QStringLiteral("/junk.img");
        QVERIFY(writeFile(path, bytes));
        FileCarvingService service;
        service.scanDiskImage(QUrl::fromLocalFile(path), QList<FileSignature>{catalogueRow(QStringLiteral("JPEG"))});
        QTRY_VERIFY_WITH_TIMEOUT(!service.isScanning(), 120000);

        const CarvedFileModel &model = *service.carvedFiles();
        const qint64 limit = UnverifiedHits::defaultListLimit;
        const qint64 junk = size / 4 - 1000 - 3; // the whole file's place, and the last three starts
        QCOMPARE(service.verifiedCount(), 1);
        QCOMPARE(service.unverifiedCount(), junk);
        QCOMPARE(service.unverifiedNotListedCount(), junk - limit);
        QCOMPARE(model.rowCount(), limit + 1);
        QVERIFY(service.unverifiedNotListedText().contains(QStringLiteral("more unverified matches not listed")));
        const QRegularExpressionMatch summary = summaryPattern.match(service.statusMessage());
        QVERIFY2(summary.hasMatch(), qPrintable(service.statusMessage()));
        QCOMPARE(summary.captured(1).toLongLong(), junk + 1);
        // The whole file was found past the limit and is listed all the same.
        QCOMPARE(model.at(limit).offset, quint64(MiB));
        QVERIFY(model.at(limit).verification.isVerified());
    }

    void signaturesNamedKeepsCatalogueOrder()
    {
        const QList<FileSignature> chosen =
            FileCarvingService::signaturesNamed({QStringLiteral("WAV"), QStringLiteral("JPEG"), QStringLiteral("nope")});
        QCOMPARE(chosen.size(), 2);
        QCOMPARE(chosen.at(0).typeName, QStringLiteral("JPEG"));
        QCOMPARE(chosen.at(1).typeName, QStringLiteral("WAV"));
    }

    void modelRoles()
    {
        CarvedFileModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.append({sampleHit(0x1000), sampleHit(0x2000)});
        model.append({sampleHit(0x3000)});
        QCOMPARE(model.rowCount(), 3);
        const QModelIndex first = model.index(0);
        using R = CarvedFileModel::Role;
        QCOMPARE(first.data(int(R::offsetText)).toString(), QStringLiteral("0x000000001000"));
        QCOMPARE(first.data(int(R::healthText)).toString(), QStringLiteral("Good"));
        QCOMPARE(first.data(int(R::healthColor)).toString(), QStringLiteral("neonGreen"));
        QCOMPARE(first.data(int(R::recoveryStatusText)).toString(), QStringLiteral("Unknown"));
        QCOMPARE(first.data(int(R::recoveryStatusColor)).toString(), QStringLiteral("neonOrange"));
        QCOMPARE(first.data(int(R::canRecover)).toBool(), true);
        QCOMPARE(first.data(int(R::suggestedFileName)).toString(), QStringLiteral("recovered_jpeg_00001000.jpg"));
        QCOMPARE(first.data(int(R::sizeText)).toString(), QStringLiteral("4 KB"));

        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.setRecoveryStatus(2, RecoveryStatus::existing, QStringLiteral("/home/u/a.jpg"));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.first().at(0).toModelIndex().row(), 2);
        QCOMPARE(model.index(2).data(int(R::recoveryStatusText)).toString(), QStringLiteral("Existing"));
        QCOMPARE(model.index(2).data(int(R::matchedExistingPath)).toString(), QStringLiteral("/home/u/a.jpg"));
        model.reset();
        QCOMPARE(model.rowCount(), 0);
        for (const QByteArray &name : model.roleNames())
            QVERIFY(!name.isEmpty());
        QCOMPARE(model.roleNames().size(), QMetaEnum::fromType<CarvedFileModel::Role>().keyCount());
    }

    void verificationBesideTheHealthBadge_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("isVerified");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("hasBadge");
        QTest::addColumn<qint64>("sizeToSave");
        QTest::addRow("not checked") << int(Verification::State::notChecked) << false << QString() << false << 4096LL;
        QTest::addRow("verified") << int(Verification::State::verified) << true << QStringLiteral("Verified") << true
                                  << 9000LL;
        QTest::addRow("unverified") << int(Verification::State::unverified) << false
                                    << QStringLiteral("invalid marker at 2 KB") << true << 4096LL;
    }

    void verificationBesideTheHealthBadge()
    {
        QFETCH(int, state);
        QFETCH(bool, isVerified);
        QFETCH(QString, text);
        QFETCH(bool, hasBadge);
        QFETCH(qint64, sizeToSave);
        CarvedFile hit = sampleHit(0x1000);
        hit.verification.state = Verification::State(state);
        hit.verification.length = isVerified ? 9000 : 0;
        hit.verification.reason = isVerified ? QString() : text;
        CarvedFileModel model;
        model.append({hit});
        const QModelIndex row = model.index(0);
        using R = CarvedFileModel::Role;
        QCOMPARE(row.data(int(R::isVerified)).toBool(), isVerified);
        QCOMPARE(row.data(int(R::verificationState)).toInt(), state);
        QCOMPARE(row.data(int(R::verificationText)).toString(), text);
        QCOMPARE(!row.data(int(R::verificationIcon)).toString().isEmpty(), hasBadge);
        QCOMPARE(!row.data(int(R::verificationColor)).toString().isEmpty(), hasBadge);
        QCOMPARE(row.data(int(R::verifiedLength)).toLongLong(), isVerified ? 9000 : 0);
        QCOMPARE(row.data(int(R::verifiedSizeText)).toString(), isVerified ? formatByteCount(9000) : QString());
        QCOMPARE(row.data(int(R::sizeToSave)).toLongLong(), sizeToSave);
    }

    void unverifiedRowsAreKeptCompactlyUpToALimit()
    {
        CarvedFileModel model(nullptr, 3);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy tally(&model, &CarvedFileModel::tallyChanged);
        const auto hit = [](quint64 offset, Verification::State state) {
            CarvedFile file = sampleHit(offset);
            file.verification.state = state;
            file.verification.length = state == Verification::State::verified ? 100 : 0;
            file.verification.reason = state == Verification::State::unverified ? QStringLiteral("no file") : QString();
            return file;
        };
        using S = Verification::State;
        model.append({hit(1, S::unverified), hit(2, S::verified), hit(3, S::unverified), hit(4, S::unverified)},
                     {{QStringLiteral("BMP"), 10}});
        model.append({hit(5, S::unverified), hit(6, S::notChecked), hit(7, S::unverified)});
        QCOMPARE(tally.size(), 2);

        QStringList rows;
        for (int row = 0; row < model.rowCount(); ++row)
            rows << QString::number(model.at(row).offset) + QLatin1Char(' ') + model.at(row).verification.text();
        QCOMPARE(rows, (QStringList{QStringLiteral("1 no file"), QStringLiteral("2 Verified"), QStringLiteral("3 no file"),
                                    QStringLiteral("4 no file"), QStringLiteral("6 ")}));
        QCOMPARE(model.verifiedCount(), 1);
        QCOMPARE(model.unverifiedCount(), 15);
        QCOMPARE(model.notListedCount(), 12);
        QCOMPARE(model.totalHitCount(), 17);
        QCOMPARE(model.at(0).id, model.at(0).id);
        QCOMPARE(model.index(0).data(int(CarvedFileModel::Role::id)).toString(),
                 model.at(0).id.toString(QUuid::WithoutBraces));

        // The matching marks a compact row like any other.
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.setRecoveryStatus(3, RecoveryStatus::existing, QStringLiteral("/home/u/a.jpg"));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(model.at(3).recoveryStatus, RecoveryStatus::existing);
        QCOMPARE(model.at(3).matchedExistingPath, std::optional<QString>(QStringLiteral("/home/u/a.jpg")));
        QCOMPARE(model.at(2).recoveryStatus, RecoveryStatus::unknown);

        model.reset();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.unverifiedCount(), 0);
        QCOMPARE(tally.size(), 3);
    }

    void aMillionRows()
    {
        CarvedFileModel model;
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        const CarvedFile pattern = sampleHit(0);
        for (int batch = 0; batch < 1000; ++batch) {
            QList<CarvedFile> rows;
            rows.reserve(1000);
            for (int i = 0; i < 1000; ++i) {
                CarvedFile row = pattern;
                row.id = QUuid::createUuid();
                row.offset = quint64(batch) * 1000 + quint64(i);
                rows.append(std::move(row));
            }
            model.append(std::move(rows));
        }
        QCOMPARE(model.rowCount(), 1'000'000);
        QCOMPARE(inserted.size(), 1000);
        QCOMPARE(inserted.last().at(1).toInt(), 999'000);
        QCOMPARE(inserted.last().at(2).toInt(), 999'999);
        QCOMPARE(model.index(999'999).data(int(CarvedFileModel::Role::offset)).toULongLong(), 999'999ULL);
        QCOMPARE(model.index(500'000).data(int(CarvedFileModel::Role::offsetText)).toString(),
                 QStringLiteral("0x00000007A120"));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestService)
#include "tst_service.moc"
