#include <algorithm>

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "carving/deepscanscreen.h"
#include "helpers/fakeplatform.h"
#include "helpers/testsupport.h"
#include "system/appsettings.h"

using Mode = DeepScanScreen::ScanMode;
using Body = DeepScanScreen::Body;

namespace {

// A JPEG whose structure walk succeeds: scans keep it in the list, which
// hides refused hits until asked.
const QByteArray jpeg = wholeJpegBytes(300);
const QByteArray png = QByteArray::fromHex("89504E470D0A1A0A") + QByteArray(200, 'p') + QByteArray::fromHex("49454E44AE426082");

// A hit as the list shows it. `source` names a whole file when there are no
// bytes (Directory Scan, Deleted Files).
CarvedFile hit(RecoveryStatus status, std::optional<QByteArray> bytes, const QString &source = QStringLiteral("disk.img"),
               quint64 offset = 0)
{
    CarvedFile file;
    file.signatureType = QStringLiteral("JPEG");
    file.fileExtension = QStringLiteral("jpg");
    file.offset = offset;
    file.recoveryStatus = status;
    file.sourcePath = source;
    if (bytes) {
        file.data = CarvedData::fromBytes(*bytes);
        file.estimatedSize = bytes->size();
    }
    return file;
}

// Hands out its bytes only once the test lets it, so a save can be caught
// in the middle of a file.
class GatedSource : public ByteSource
{
public:
    explicit GatedSource(QByteArray bytes) : m_bytes(std::move(bytes)) {}
    bool read(quint64 offset, qint64 length, QByteArray *out, QString *) const override
    {
        reading.release();
        gate.acquire();
        *out = m_bytes.mid(qsizetype(offset), qsizetype(length));
        return true;
    }
    mutable QSemaphore reading;
    mutable QSemaphore gate;

private:
    QByteArray m_bytes;
};

} // namespace

class TestDeepScanScreen : public QObject
{
    Q_OBJECT

    std::unique_ptr<DeepScanScreen> makeScreen(PlatformKind kind = PlatformKind::gnuLinux)
    {
        m_platform = std::make_shared<FakePlatform>(kind);
        VolumeInfo volume;
        volume.name = QStringLiteral("DATA");
        volume.device = m_dir.filePath(QStringLiteral("volume.img"));
        volume.mountPoint = m_dir.path();
        m_platform->volumes = {volume};
        m_platform->admin.refuse = true;
        m_settings = std::make_unique<AppSettings>(
            std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat));
        m_settings->setConfirmBeforeRecover(false);
        auto screen = std::make_unique<DeepScanScreen>(m_platform, m_settings.get());
        screen->setSameDeviceCheck([](const QString &, const QString &) { return false; });
        return screen;
    }

    static QString chooseFirstVolume(DeepScanScreen &screen)
    {
        screen.service()->refreshVolumes();
        if (!QTest::qWaitFor([&] { return screen.service()->volumes()->rowCount() > 0; }))
            return {};
        const QString id = screen.service()->volumes()->index(0).data(int(VolumeListModel::Role::id)).toString();
        screen.selectVolume(id);
        return id;
    }

    QString image(const QString &name, const QList<QByteArray> &plants)
    {
        QByteArray bytes(256, 'U');
        for (const QByteArray &plant : plants)
            bytes += plant + QByteArray(256, 'U');
        const QString path = m_dir.filePath(name);
        return writeFile(path, bytes) ? path : QString();
    }

    QString freshFolder(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        QDir(path).removeRecursively();
        return QDir().mkpath(path) ? path : QString();
    }

    QTemporaryDir m_dir;
    std::shared_ptr<FakePlatform> m_platform;
    std::unique_ptr<AppSettings> m_settings;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("volume.img")), QByteArray(4096, 'U')));
    }

    void startRules_data()
    {
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<bool>("volumeChosen");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("enabled");
        QTest::addRow("deleted files, no volume") << Mode::deletedFiles << false << QStringLiteral("/x") << false;
        QTest::addRow("deleted files, volume") << Mode::deletedFiles << true << QString() << true;
        QTest::addRow("volume scan, no volume") << Mode::rawDevice << false << QStringLiteral("/x") << false;
        QTest::addRow("volume scan, volume") << Mode::rawDevice << true << QString() << true;
        QTest::addRow("directory, no path") << Mode::directory << true << QString() << false;
        QTest::addRow("directory, path") << Mode::directory << false << QStringLiteral("/x") << true;
        QTest::addRow("image, no path") << Mode::diskImage << true << QString() << false;
        QTest::addRow("image, path") << Mode::diskImage << false << QStringLiteral("/x.img") << true;
    }
    void startRules()
    {
        QFETCH(Mode, mode);
        QFETCH(bool, volumeChosen);
        QFETCH(QString, path);
        QFETCH(bool, enabled);
        auto screen = makeScreen();
        screen->setScanMode(mode);
        screen->setScanPath(path);
        if (volumeChosen)
            QVERIFY(!chooseFirstVolume(*screen).isEmpty());
        // No file type chosen plays no part.
        screen->setSelectedSignatures({});
        QCOMPARE(screen->canStart(), enabled);
        screen->startScan();
        QCOMPARE(screen->service()->isScanning(), enabled);
        QTRY_VERIFY(!screen->service()->isScanning());
    }

    // The chosen types reach the scan in catalogue order, and no type at all
    // is an empty list, not the whole catalogue.
    void chosenTypesReachTheScan_data()
    {
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QStringList>("found");
        QTest::addRow("all") << QStringList{} << QStringList{QStringLiteral("JPEG"), QStringLiteral("PNG")};
        QTest::addRow("one") << QStringList{QStringLiteral("PNG")} << QStringList{QStringLiteral("PNG")};
        QTest::addRow("none") << QStringList{QStringLiteral("-")} << QStringList{};
    }
    void chosenTypesReachTheScan()
    {
        QFETCH(QStringList, chosen);
        QFETCH(QStringList, found);
        auto screen = makeScreen();
        if (chosen.isEmpty())
            chosen = screen->selectedSignatures();
        screen->setSelectedSignatures(chosen);
        screen->setScanMode(Mode::diskImage);
        screen->setScanPath(image(QStringLiteral("types.img"), {jpeg, png}));
        screen->startScan();
        QTRY_VERIFY(!screen->service()->isScanning());
        QStringList types;
        for (const CarvedFile &file : screen->service()->carvedFiles()->files())
            types.append(file.signatureType);
        QCOMPARE(types, found);
    }

    void typeChoiceKeepsCatalogueOrder()
    {
        auto screen = makeScreen();
        QVERIFY(screen->allSignaturesSelected());
        screen->toggleAllSignatures();
        QCOMPARE(screen->selectedSignatures(), QStringList());
        screen->toggleSignature(QStringLiteral("WAV"));
        screen->toggleSignature(QStringLiteral("JPEG"));
        screen->toggleSignature(QStringLiteral("no such type"));
        QCOMPARE(screen->selectedSignatures(), (QStringList{QStringLiteral("JPEG"), QStringLiteral("WAV")}));
        QVERIFY(!screen->allSignaturesSelected());
        screen->toggleAllSignatures();
        QVERIFY(screen->allSignaturesSelected());
        QCOMPARE(screen->selectedSignatures().size(), defaultSignatures().size());
    }

    // The two modes that walk files get the scan's target and types in
    // catalogue order; Deleted Files finishes even before its steps exist.
    void walkingModesGetTheirTarget_data()
    {
        QTest::addColumn<Mode>("mode");
        QTest::addRow("deleted files") << Mode::deletedFiles;
        QTest::addRow("directory") << Mode::directory;
    }
    void walkingModesGetTheirTarget()
    {
        QFETCH(Mode, mode);
        auto screen = makeScreen();
        screen->setScanMode(mode);
        const QString folder = freshFolder(QStringLiteral("walked"));
        screen->setScanPath(folder);
        QVERIFY(!chooseFirstVolume(*screen).isEmpty());
        screen->startScan();
        QCOMPARE(screen->body(), Body::progress);
        QTRY_COMPARE(screen->body(), Body::results);
        QVERIFY(screen->service()->statusMessage().startsWith(QStringLiteral("Scan complete: 0 files found")));

        QString target;
        QStringList types;
        const auto record = [&](ScanSink &sink, const QString &where, const QList<FileSignature> &signatures) {
            target = where;
            for (const FileSignature &signature : signatures)
                types.append(signature.typeName);
            sink.postCarvedFiles({hit(RecoveryStatus::deleted, jpeg)});
        };
        FileCarvingService *service = screen->service();
        service->setDirectoryScan([&](ScanSink &sink, const QString &root, const QList<FileSignature> &signatures,
                                      TreeWalk::Scope) { record(sink, root, signatures); });
        service->setExistingFileMatching({});
        service->setDeletedFilesScan([&](ReviewingSink &sink, const VolumeInfo &volume,
                                         const QList<FileSignature> &signatures) { record(sink, volume.name, signatures); });
        screen->newScan();
        screen->setSelectedSignatures({QStringLiteral("PDF"), QStringLiteral("GIF")});
        screen->startScan();
        QTRY_VERIFY(!service->isScanning());
        QCOMPARE(target, mode == Mode::directory ? folder : QStringLiteral("DATA"));
        QCOMPARE(types, (QStringList{QStringLiteral("GIF"), QStringLiteral("PDF")}));
        QCOMPARE(service->carvedFiles()->rowCount(), 1);
    }

    // A real Directory Scan: its hits are files that still exist, which the
    // matching marks so; the list hides them until asked, and select-all
    // leaves them out while a tap still takes one.
    void directoryScanHitsAreExistingFiles()
    {
        auto screen = makeScreen();
        const QString folder = freshFolder(QStringLiteral("photos"));
        QVERIFY(writeFile(folder + QStringLiteral("/a.jpg"), jpeg));
        QVERIFY(writeFile(folder + QStringLiteral("/b.png"), png));
        screen->setScanMode(Mode::directory);
        screen->setScanPath(folder);
        screen->startScan();
        QTRY_COMPARE(screen->body(), Body::results);
        QCOMPARE(screen->service()->carvedFiles()->rowCount(), 2);
        QCOMPARE(screen->service()->existingFileCount(), 2);
        VisibleHitsModel *list = screen->visibleFiles();
        QTRY_COMPARE(list->rowCount(), 0);

        screen->setHideExistingFiles(false);
        QCOMPARE(list->rowCount(), 2);
        QCOMPARE(list->deletedCount(), 0);
        screen->toggleSelectAll();
        QCOMPARE(list->selectedCount(), 0);
        screen->toggleFile(1);
        QCOMPARE(list->selectedCount(), 1);
    }

    void bodyFollowsTheService()
    {
        auto screen = makeScreen();
        QSignalSpy changes(screen.get(), &DeepScanScreen::bodyChanged);
        QCOMPARE(screen->body(), Body::setup);
        // A scan that reports no fraction: it is at progress 0 until it ends.
        screen->setScanMode(Mode::directory);
        screen->setScanPath(freshFolder(QStringLiteral("nothing here")));
        screen->startScan();
        QCOMPARE(screen->body(), Body::progress);
        QCOMPARE(screen->leaveWarning(), QStringLiteral("The scan stops, and what it has read so far is discarded."));
        // A finished scan without hits shows the (empty) results, straight
        // from the progress panel, and has nothing to lose.
        QTRY_COMPARE(screen->body(), Body::results);
        QCOMPARE(screen->leaveWarning(), QString());
        QCOMPARE(screen->visibleFiles()->rowCount(), 0);
        QVERIFY(!screen->visibleFiles()->allSelectableSelected());
        screen->newScan();
        QCOMPARE(screen->body(), Body::setup);
        QCOMPARE(changes.size(), 3);
    }

    void visibleFilesAndCounters_data()
    {
        QTest::addColumn<bool>("hideExisting");
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("deleted");
        QTest::addRow("existing hidden") << true << 3 << 2;
        QTest::addRow("existing shown") << false << 5 << 2;
    }
    void visibleFilesAndCounters()
    {
        QFETCH(bool, hideExisting);
        QFETCH(int, shown);
        QFETCH(int, deleted);
        auto screen = makeScreen();
        QVERIFY(screen->hideExistingFiles());
        QAbstractItemModelTester tester(screen->visibleFiles(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        screen->service()->carvedFiles()->append({hit(RecoveryStatus::deleted, jpeg), hit(RecoveryStatus::existing, jpeg),
                                                  hit(RecoveryStatus::unknown, jpeg)});
        screen->service()->carvedFiles()->append({hit(RecoveryStatus::existing, jpeg), hit(RecoveryStatus::deleted, jpeg)});
        screen->setHideExistingFiles(hideExisting);
        QCOMPARE(screen->visibleFiles()->rowCount(), shown);
        QCOMPARE(screen->visibleFiles()->deletedCount(), deleted);
        for (int row = 0; row < shown; ++row) {
            const QModelIndex index = screen->visibleFiles()->index(row);
            QVERIFY(!hideExisting
                    || index.data(int(CarvedFileModel::Role::recoveryStatus)).toInt() != int(RecoveryStatus::existing));
        }
        // The rows keep the list's order.
        QCOMPARE(screen->visibleFiles()->fileAt(shown - 1).id, screen->service()->carvedFiles()->files().last().id);
    }

    // Matches a structure walk refused stay out of the list and out of Save
    // All until the toggle, which counts them, is on; hits no walk checked
    // (Directory Scan) are always shown.
    void unverifiedHiddenUntilShown_data()
    {
        QTest::addColumn<bool>("show");
        QTest::addColumn<int>("shown");
        QTest::addRow("hidden") << false << 1;
        QTest::addRow("shown") << true << 3;
    }
    void unverifiedHiddenUntilShown()
    {
        QFETCH(bool, show);
        QFETCH(int, shown);
        auto screen = makeScreen();
        QVERIFY(!screen->showUnverified());
        QVERIFY(screen->showUnverifiedText().isEmpty());
        QAbstractItemModelTester tester(screen->visibleFiles(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy texts(screen.get(), &DeepScanScreen::showUnverifiedTextChanged);
        CarvedFile refused = hit(RecoveryStatus::unknown, jpeg, QStringLiteral("disk.img"), 0x1000);
        refused.verification = {Verification::State::unverified, 0, QStringLiteral("no valid frames after header")};
        CarvedFile alsoRefused = refused;
        alsoRefused.id = QUuid::createUuid();
        alsoRefused.offset = 0x3000;
        screen->service()->carvedFiles()->append(
            {refused, hit(RecoveryStatus::deleted, png, QStringLiteral("disk.img"), 0x2000), alsoRefused});
        QVERIFY(!texts.isEmpty());
        QVERIFY2(screen->showUnverifiedText().contains(QLatin1String("(2)")), qPrintable(screen->showUnverifiedText()));

        screen->setShowUnverified(show);
        QCOMPARE(screen->showUnverified(), show);
        QCOMPARE(screen->visibleFiles()->rowCount(), shown);
        QCOMPARE(screen->visibleFiles()->fileAt(0).verification.isUnverified(), show);

        const QString folder = freshFolder(show ? QStringLiteral("with-unverified") : QStringLiteral("verified-only"));
        screen->requestSaveAll();
        screen->folderChosen(QUrl::fromLocalFile(folder));
        QTRY_VERIFY(screen->showSaveAlert());
        QCOMPARE(screen->lastSaveCounts(), (DeepScanScreen::SaveCountsShown{shown, 0, 0, 0}));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), shown);
    }

    // The matching marks hits after they are listed; hidden ones leave the
    // list and the counters follow.
    void hitsMarkedExistingLeaveTheList()
    {
        auto screen = makeScreen();
        QAbstractItemModelTester tester(screen->visibleFiles(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        CarvedFileModel *hits = screen->service()->carvedFiles();
        hits->append({hit(RecoveryStatus::unknown, jpeg), hit(RecoveryStatus::unknown, jpeg), hit(RecoveryStatus::unknown, jpeg)});
        QCOMPARE(screen->visibleFiles()->rowCount(), 3);
        hits->setRecoveryStatus(0, RecoveryStatus::existing, QStringLiteral("/a.jpg"));
        hits->setRecoveryStatus(1, RecoveryStatus::deleted, std::nullopt);
        hits->setRecoveryStatus(2, RecoveryStatus::existing, QStringLiteral("/c.jpg"));
        QTRY_COMPARE(screen->visibleFiles()->rowCount(), 1);
        QCOMPARE(screen->visibleFiles()->deletedCount(), 1);
        QCOMPARE(screen->visibleFiles()->fileAt(0).id, hits->at(1).id);
    }

    // Select-all takes the hits that can be saved and no longer exist; a tap
    // toggles any hit that can be saved, and nothing else.
    void selection()
    {
        auto screen = makeScreen();
        screen->setHideExistingFiles(false);
        const QString kept = m_dir.filePath(QStringLiteral("kept.jpg"));
        QVERIFY(writeFile(kept, jpeg));
        screen->service()->carvedFiles()->append({
            hit(RecoveryStatus::deleted, jpeg),                                            // 0 selectable
            hit(RecoveryStatus::existing, jpeg),                                           // 1 tap only
            hit(RecoveryStatus::deleted, std::nullopt, m_dir.filePath(QStringLiteral("gone.jpg"))), // 2 nothing to save
            hit(RecoveryStatus::deleted, std::nullopt, kept),                              // 3 selectable
            hit(RecoveryStatus::unknown, std::nullopt, QStringLiteral("DATA")),            // 4 a label, not a file
        });
        VisibleHitsModel *list = screen->visibleFiles();
        QCOMPARE(list->selectableCount(), 2);

        screen->toggleSelectAll();
        QCOMPARE(list->selectedCount(), 2);
        QVERIFY(list->allSelectableSelected());
        QVERIFY(list->index(0).data(int(VisibleHitsModel::Role::isSelected)).toBool());
        QVERIFY(!list->index(1).data(int(VisibleHitsModel::Role::isSelected)).toBool());
        screen->toggleSelectAll();
        QCOMPARE(list->selectedCount(), 0);

        const struct {
            int row;
            int selectedAfter;
        } taps[] = {{2, 0}, {4, 0}, {1, 1}, {3, 2}, {1, 1}};
        for (const auto &tap : taps) {
            screen->toggleFile(tap.row);
            QCOMPARE(list->selectedCount(), tap.selectedAfter);
        }
        QVERIFY(!list->index(2).data(int(CarvedFileModel::Role::canRecover)).toBool());
        // Row 3 is selected, row 0 is not.
        QVERIFY(!list->allSelectableSelected());
    }

    // A row drawn while its source file existed must not let the hit be
    // tapped into the selection once that file is gone; the row learns it.
    // A hit selected before can still be taken out.
    void tapAfterTheSourceWasDeleted_data()
    {
        QTest::addColumn<bool>("selectedBefore");
        QTest::addRow("not selected") << false;
        QTest::addRow("selected") << true;
    }
    void tapAfterTheSourceWasDeleted()
    {
        QFETCH(bool, selectedBefore);
        auto screen = makeScreen();
        const QString source = m_dir.filePath(QStringLiteral("soon-gone.jpg"));
        QVERIFY(writeFile(source, jpeg));
        screen->service()->carvedFiles()->append({hit(RecoveryStatus::deleted, std::nullopt, source)});
        VisibleHitsModel *list = screen->visibleFiles();
        const int canRecoverRole = int(CarvedFileModel::Role::canRecover);
        QVERIFY(list->index(0).data(canRecoverRole).toBool());
        if (selectedBefore)
            screen->toggleFile(0);
        QCOMPARE(list->selectedCount(), selectedBefore ? 1 : 0);
        QVERIFY(QFile::remove(source));

        QSignalSpy rowsChanged(list, &QAbstractItemModel::dataChanged);
        screen->toggleFile(0);
        QCOMPARE(list->selectedCount(), 0);
        QVERIFY(!list->index(0).data(canRecoverRole).toBool());
        screen->toggleFile(0);
        QCOMPARE(list->selectedCount(), 0);
        const bool rowTold = std::any_of(rowsChanged.cbegin(), rowsChanged.cend(), [&](const QList<QVariant> &args) {
            return args.at(0).toModelIndex().row() == 0 && args.at(2).value<QList<int>>().contains(canRecoverRole);
        });
        QVERIFY(rowTold);
    }

    void newScanResets()
    {
        auto screen = makeScreen();
        QVERIFY(!chooseFirstVolume(*screen).isEmpty());
        screen->setScanMode(Mode::diskImage);
        screen->setScanPath(image(QStringLiteral("reset.img"), {jpeg}));
        screen->setSelectedSignatures({QStringLiteral("JPEG")});
        screen->setHideExistingFiles(false);
        screen->startScan();
        QTRY_COMPARE(screen->body(), Body::results);
        screen->toggleSelectAll();
        QCOMPARE(screen->visibleFiles()->selectedCount(), 1);
        const quint64 scanned = screen->service()->bytesScanned();
        QCOMPARE(screen->leaveWarning(), QStringLiteral("The 1 file found is discarded."));

        screen->newScan();
        QCOMPARE(screen->leaveWarning(), QString());
        FileCarvingService *service = screen->service();
        QCOMPARE(service->carvedFiles()->rowCount(), 0);
        QCOMPARE(service->scanProgress(), 0.0);
        QVERIFY(service->errorMessage().isNull());
        QCOMPARE(service->statusMessage(), QString());
        QCOMPARE(screen->visibleFiles()->selectedCount(), 0);
        QCOMPARE(screen->body(), Body::setup);
        // Kept: the set-up choices, the filter and what the scan measured.
        QCOMPARE(service->bytesScanned(), scanned);
        QCOMPARE(screen->scanMode(), Mode::diskImage);
        QVERIFY(screen->scanPath().endsWith(QStringLiteral("reset.img")));
        QCOMPARE(screen->selectedSignatures(), QStringList{QStringLiteral("JPEG")});
        QVERIFY(!screen->selectedVolumeId().isEmpty());
        QVERIFY(!screen->hideExistingFiles());
    }

    // Save Selected counts a hit with nothing to save as failed; Save All
    // keeps the no-data count and saves hidden hits too.
    void saveCounts_data()
    {
        QTest::addColumn<bool>("all");
        QTest::addColumn<int>("saved");
        QTest::addColumn<int>("failed");
        QTest::addColumn<int>("noData");
        QTest::addRow("selected") << false << 2 << 1 << 0;
        QTest::addRow("all") << true << 3 << 0 << 1;
    }
    void saveCounts()
    {
        QFETCH(bool, all);
        QFETCH(int, saved);
        QFETCH(int, failed);
        QFETCH(int, noData);
        auto screen = makeScreen();
        const QString source = m_dir.filePath(QStringLiteral("photo.jpg"));
        QVERIFY(writeFile(source, jpeg));
        screen->service()->carvedFiles()->append({
            hit(RecoveryStatus::deleted, jpeg, QStringLiteral("disk.img"), 0x1000),
            hit(RecoveryStatus::deleted, std::nullopt, source),
            hit(RecoveryStatus::deleted, std::nullopt, m_dir.filePath(QStringLiteral("vanishes.jpg"))),
            hit(RecoveryStatus::existing, png, QStringLiteral("disk.img"), 0x2000),
        });
        // The third hit's file is still there when it is tapped, and gone by
        // the time it is saved.
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("vanishes.jpg")), jpeg));
        for (int row = 0; row < 3; ++row)
            screen->toggleFile(row);
        QCOMPARE(screen->visibleFiles()->selectedCount(), 3);
        QVERIFY(QFile::remove(m_dir.filePath(QStringLiteral("vanishes.jpg"))));

        const QString folder = freshFolder(all ? QStringLiteral("all") : QStringLiteral("selected"));
        QSignalSpy dialogs(screen.get(), &DeepScanScreen::folderDialogRequested);
        all ? screen->requestSaveAll() : screen->requestSaveSelected();
        QCOMPARE(dialogs.size(), 1);
        screen->folderChosen(QUrl::fromLocalFile(folder));
        QVERIFY(screen->service()->isSaving());
        QTRY_VERIFY(screen->showSaveAlert());
        QCOMPARE(screen->lastSaveCounts(), (DeepScanScreen::SaveCountsShown{saved, failed, noData, 0}));
        QCOMPARE(screen->saveResultText(),
                 QStringLiteral("Saved: %1 files\nFailed: %2\nNo data: %3").arg(saved).arg(failed).arg(noData));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), saved);
        QCOMPARE(screen->visibleFiles()->selectedCount(), all ? 3 : 0);
        QCOMPARE(screen->service()->saveFilesDone(), all ? 4 : 3);

        screen->dismissSaveAlert();
        QVERIFY(!screen->showSaveAlert());
        QVERIFY(!screen->saveResult().isValid());
    }

    void sameDeviceWarningAndConfirmation()
    {
        auto screen = makeScreen();
        screen->setScanMode(Mode::diskImage);
        screen->setScanPath(image(QStringLiteral("warn.img"), {jpeg}));
        screen->startScan();
        QTRY_COMPARE(screen->body(), Body::results);
        QStringList asked;
        screen->setSameDeviceCheck([&](const QString &folder, const QString &source) {
            asked.append(source);
            return folder.endsWith(QStringLiteral("/on-device"));
        });
        m_settings->setConfirmBeforeRecover(true);
        QSignalSpy dialogs(screen.get(), &DeepScanScreen::folderDialogRequested);
        const QString risky = freshFolder(QStringLiteral("on-device"));
        const QString safe = freshFolder(QStringLiteral("elsewhere"));

        screen->requestSaveAll();
        screen->folderChosen(QUrl::fromLocalFile(risky));
        QVERIFY(screen->showSameDeviceWarning());
        QCOMPARE(asked, QStringList{screen->scanPath()});
        QVERIFY(!screen->service()->isSaving());
        screen->chooseAnotherFolder();
        QVERIFY(!screen->showSameDeviceWarning());
        QCOMPARE(dialogs.size(), 2);

        screen->folderChosen(QUrl::fromLocalFile(safe));
        QVERIFY(!screen->showSameDeviceWarning());
        QVERIFY(screen->showSaveConfirmation());
        QCOMPARE(screen->saveConfirmationText(), QStringLiteral("Recover 1 items to %1?").arg(safe));
        screen->cancelPendingSave();
        QVERIFY(!screen->showSaveConfirmation());

        // Insisting saves onto the scanned device after all.
        screen->requestSaveAll();
        screen->folderChosen(QUrl::fromLocalFile(risky));
        screen->saveAnyway();
        QVERIFY(screen->showSaveConfirmation());
        screen->confirmSave();
        QTRY_VERIFY(screen->showSaveAlert());
        QCOMPARE(QDir(risky).entryList(QDir::Files).size(), 1);
        QCOMPARE(QDir(safe).entryList(QDir::Files).size(), 0);
    }

    // Cancel ends the save after the file being written; the hits not yet
    // saved stay selected.
    void cancelStopsAfterTheCurrentFile()
    {
        auto screen = makeScreen();
        auto source = std::make_shared<GatedSource>(jpeg + jpeg + jpeg);
        QList<CarvedFile> files;
        for (int i = 0; i < 3; ++i) {
            CarvedFile file = hit(RecoveryStatus::deleted, jpeg, QStringLiteral("disk.img"), quint64(i) * jpeg.size());
            file.data->source = source;
            file.data->offset = file.offset;
            files.append(file);
        }
        screen->service()->carvedFiles()->append(files);
        screen->toggleSelectAll();
        const QString folder = freshFolder(QStringLiteral("cancelled"));
        screen->requestSaveSelected();
        screen->folderChosen(QUrl::fromLocalFile(folder));
        QVERIFY(source->reading.tryAcquire(1, 5000));
        QCOMPARE(screen->leaveWarning(),
                 QStringLiteral("Saving stops after the file being written, and the 3 files found are discarded."));
        screen->cancelSaving();
        QVERIFY(screen->isStoppingSave());
        source->gate.release(3);
        QTRY_VERIFY(screen->showSaveAlert());
        QCOMPARE(screen->lastSaveCounts(), (DeepScanScreen::SaveCountsShown{1, 0, 0, 2}));
        QVERIFY(screen->saveResultText().endsWith(QStringLiteral("\nNot saved (cancelled): 2")));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1);
        QCOMPARE(screen->visibleFiles()->selectedCount(), 2);
        QCOMPARE(screen->visibleFiles()->selectedSourceRows(), (QList<int>{1, 2}));
    }
};

QTEST_GUILESS_MAIN(TestDeepScanScreen)
#include "tst_deepscanscreen.moc"
