#include <QSignalSpy>
#include <QTest>

#include "helpers/snapshotfixture.h"
#include "snapshots/snapshotscreen.h"
#include "snapshots/snapshotservice.h"

using namespace Qt::Literals::StringLiterals;

namespace {


// A user's system: btrfs refuses to list (it needs root), snapper answers
// through its service; as root the administrator shell runs the fake tools.
struct UserSystem {
    UserSystem()
    {
        runner->passOn = true;
        tools.btrfs = QStringLiteral(QUORVEL_TEST_DATA "/tools/btrfs");
        tools.snapper = QStringLiteral(QUORVEL_TEST_DATA "/tools/snapper");
        platform = std::make_shared<ToolsPlatform>(PlatformKind::gnuLinux, tools, runner);
        const QString mount = u" /tmp/q15cap/mnt"_s;
        runner->answer(tools.btrfs + u" subvolume list -a -s -u -q"_s + mount, {}, 1);
        runner->answer(tools.btrfs + u" subvolume list -a -u -q"_s + mount, {}, 1);
        runner->answer(tools.snapper + u" --jsonout list --all-configs --disable-used-space"_s,
                       captured("snapper-list-berlin.json"));
    }

    std::unique_ptr<SnapshotService> service(bool asRoot = false)
    {
        auto made = std::make_unique<SnapshotService>(platform);
        made->setSourcesProvider([asRoot](Platform &) {
            LinuxSnapshotSources sources = capturedSystem();
            sources.asRoot = asRoot;
            return sources;
        });
        return made;
    }

    std::shared_ptr<CannedRunner> runner = std::make_shared<CannedRunner>();
    ToolPaths tools;
    std::shared_ptr<ToolsPlatform> platform;
};

} // namespace

class TestSnapshotService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aRefusedListingOffersTheAdministrator()
    {
        UserSystem system;
        const auto service = system.service();
        QSignalSpy loading(service.get(), &SnapshotService::isLoadingChanged);
        service->loadSnapshots();
        QVERIFY(service->isLoading());
        QCOMPARE(service->snapshots()->rowCount(), 0);
        QTRY_VERIFY(!service->isLoading());
        QCOMPARE(loading.size(), 2);

        // What snapper listed shows, with the reason the rest is missing.
        QCOMPARE(service->snapshots()->rowCount(), 3);
        QCOMPARE(service->errorMessage(), system.platform->texts().snapshotListFailed);
        QVERIFY(service->canListAsAdministrator());

        service->loadSnapshotsAsAdministrator();
        QTRY_VERIFY(!service->isLoading());
        QCOMPARE(system.platform->admin.shellCommands.size(), 1);
        QCOMPARE(service->snapshots()->rowCount(), 5);
        QVERIFY(!service->hasError());
        QVERIFY(!service->canListAsAdministrator());
    }

    void aDismissedPasswordDialogKeepsTheList()
    {
        UserSystem system;
        const auto service = system.service();
        service->loadSnapshots();
        QTRY_VERIFY(!service->isLoading());
        system.platform->admin.refuse = true;
        service->loadSnapshotsAsAdministrator();
        QVERIFY(service->isLoading());
        QTRY_VERIFY(!service->isLoading());
        QCOMPARE(service->snapshots()->rowCount(), 3);
        QVERIFY(service->hasError());
        QVERIFY(service->canListAsAdministrator());
    }

    void rootHasNoOneToAsk()
    {
        UserSystem system;
        system.runner->answer(system.tools.snapper + u" --no-dbus --jsonout list --all-configs --disable-used-space"_s, {}, 1);
        const auto service = system.service(true);
        service->loadSnapshots();
        QTRY_VERIFY(!service->isLoading());
        QVERIFY(service->hasError());
        QVERIFY(!service->canListAsAdministrator());
    }

    void macOSShowsItsOwnFailure()
    {
        auto runner = std::make_shared<CannedRunner>();
        auto mac = std::make_shared<ToolsPlatform>(PlatformKind::macOS, ToolPaths::defaultsFor(PlatformKind::macOS), runner);
        SnapshotService service(mac);
        QCOMPARE(service.title(), u"APFS SNAPSHOTS"_s);
        service.loadSnapshots();
        QTRY_VERIFY(!service.isLoading());
        QCOMPARE(service.errorMessage(),
                 u"Failed to list APFS snapshots. You may need to run with elevated privileges."_s);
        QVERIFY(!service.canListAsAdministrator());
        service.loadSnapshotsAsAdministrator();
        QVERIFY(!service.isLoading());
        QVERIFY(mac->admin.shellCommands.isEmpty());
    }

    // A refresh makes new records: the detail pane keeps the old one, and
    // no row is highlighted until another is chosen.
    void theChosenSnapshotOutlivesARefresh()
    {
        UserSystem system;
        const auto service = system.service();
        SnapshotScreen screen;
        screen.setService(service.get());
        service->loadSnapshots();
        QTRY_VERIFY(!service->isLoading());
        screen.select(2);
        QCOMPARE(screen.selectedName(), u"q15test #1 – before cleanup"_s);
        QCOMPARE(screen.volumeLine(), u"Volume: SNAPVOL • Device: /dev/loop0"_s);
        QVERIFY(screen.canBrowse());
        QVERIFY(screen.manualAccessNote().isEmpty());
        const QString chosen = screen.selectedId();

        service->loadSnapshots();
        QTRY_VERIFY(!service->isLoading());
        QCOMPARE(screen.selectedId(), chosen);
        QCOMPARE(screen.selectedName(), u"q15test #1 – before cleanup"_s);
        const SnapshotListModel *rows = service->snapshots();
        for (int row = 0; row < rows->rowCount(); ++row)
            QVERIFY(rows->index(row).data(int(SnapshotListModel::Role::snapshotId)).toString() != chosen);
    }

    void aSnapshotWithoutAFolderTellsHowToReachIt()
    {
        auto runner = std::make_shared<CannedRunner>();
        ToolPaths tools;
        tools.lvs = u"/sbin/lvs"_s;
        auto linux = std::make_shared<ToolsPlatform>(PlatformKind::gnuLinux, tools, runner);
        runner->answer(u"/sbin/lvs --reportformat json -o lv_name,lv_uuid,lv_time,origin,vg_name,lv_attr,lv_path"_s,
                       captured("lvs-snapshots.json"));
        SnapshotService service(linux);
        service.setSourcesProvider([](Platform &) {
            LinuxSnapshotSources sources;
            sources.hasLvmVolumes = true;
            return sources;
        });
        SnapshotScreen screen;
        screen.setService(&service);
        service.loadSnapshots();
        QTRY_VERIFY(!service.isLoading());
        screen.select(0);
        QVERIFY(!screen.canBrowse());
        QCOMPARE(screen.manualAccessNote(),
                 u"Snapshot browsing requires administrator privileges.\nUse 'mount -o ro /dev/vgtest/data_before_resize "
                 "/mnt' in a terminal for manual access."_s);
        screen.browseSelected();
        QVERIFY(!screen.isBrowsing());
    }
};

QTEST_GUILESS_MAIN(TestSnapshotService)
#include "tst_snapshotservice.moc"
