#include <QTest>

#include "helpers/snapshotfixture.h"
#include "snapshots/snapshotlisting.h"

using namespace Qt::Literals::StringLiterals;

namespace {


ToolPaths linuxTools(const QString &folder = u"/usr/sbin"_s)
{
    ToolPaths tools;
    tools.btrfs = folder + u"/btrfs"_s;
    tools.snapper = folder + u"/snapper"_s;
    tools.lvs = folder + u"/lvs"_s;
    tools.zfs = folder + u"/zfs"_s;
    return tools;
}

QStringList described(const QList<SnapshotToolRun> &runs)
{
    QStringList calls;
    for (const SnapshotToolRun &run : runs)
        calls.append((QStringList{run.program} + run.arguments).join(u' '));
    return calls;
}

const QString snapshotsCall = u"/usr/sbin/btrfs subvolume list -a -s -u -q /tmp/q15cap/mnt"_s;
const QString subvolumesCall = u"/usr/sbin/btrfs subvolume list -a -u -q /tmp/q15cap/mnt"_s;
const QString snapperCall = u"/usr/sbin/snapper --jsonout list --all-configs --disable-used-space"_s;

} // namespace

class TestSnapshotListing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void foldersThroughTheMountsOfAFileSystem_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("folders");
        QTest::addRow("below the top level only") << u".snapshots/data-1"_s << QStringList{u"/tmp/q15cap/mnt/.snapshots/data-1"_s};
        QTest::addRow("below a mounted subvolume, shortest first")
            << u"@data/.snapshots/1/snapshot"_s
            << QStringList{u"/tmp/q15cap/sub/.snapshots/1/snapshot"_s, u"/tmp/q15cap/mnt/@data/.snapshots/1/snapshot"_s};
        QTest::addRow("the mounted subvolume itself") << u"@data"_s << QStringList{u"/tmp/q15cap/sub"_s, u"/tmp/q15cap/mnt/@data"_s};
        QTest::addRow("a name that only starts like one") << u"@database"_s << QStringList{u"/tmp/q15cap/mnt/@database"_s};
    }
    void foldersThroughTheMountsOfAFileSystem()
    {
        QFETCH(QString, path);
        QList<MountInfoEntry> mounts = capturedSystem().mounts.mid(1);
        QTEST(btrfsFolders(path, mounts), "folders");
        // Without the top level mounted, only what lies below @data is reachable.
        mounts.removeFirst();
        QCOMPARE(btrfsFolders(path, mounts).isEmpty(), !path.startsWith(u"@data/"_s) && path != u"@data"_s);
    }

    void runsFollowWhatTheSystemHolds_data()
    {
        QTest::addColumn<bool>("asRoot");
        QTest::addColumn<bool>("withLvm");
        QTest::addColumn<bool>("withZfs");
        QTest::addColumn<QStringList>("calls");
        const QString lvs = u"/usr/sbin/lvs --reportformat json -o lv_name,lv_uuid,lv_time,origin,vg_name,lv_attr,lv_path"_s;
        const QString zfs = u"/usr/sbin/zfs list -H -p -t snapshot -o name,guid,creation -s creation"_s;
        QTest::addRow("user: snapper through its service")
            << false << false << false << QStringList{snapshotsCall, subvolumesCall, snapperCall};
        QTest::addRow("root: snapper reads its configs itself")
            << true << false << false
            << QStringList{snapshotsCall, subvolumesCall,
                           u"/usr/sbin/snapper --no-dbus --jsonout list --all-configs --disable-used-space"_s};
        QTest::addRow("LVM and ZFS volumes present")
            << false << true << true << QStringList{snapshotsCall, subvolumesCall, snapperCall, lvs, zfs};
    }
    void runsFollowWhatTheSystemHolds()
    {
        QFETCH(bool, asRoot);
        QFETCH(bool, withLvm);
        QFETCH(bool, withZfs);
        LinuxSnapshotSources sources = capturedSystem();
        sources.asRoot = asRoot;
        sources.hasLvmVolumes = withLvm;
        if (withZfs)
            sources.mounts.append(mountEntry(u"/"_s, u"/tank/photos"_s, u"zfs"_s, u"tank/photos"_s));
        QTEST(described(linuxSnapshotRuns(sources, linuxTools())), "calls");

        // Tools that are not installed are not run.
        ToolPaths missing = linuxTools();
        missing.btrfs.clear();
        missing.snapper.clear();
        QVERIFY(!described(linuxSnapshotRuns(sources, missing)).join(u'\n').contains(u"btrfs"_s));
    }

    // The captured btrfs file system with its Snapper config: three of the
    // five btrfs snapshots are Snapper's and are listed once, with btrfs's
    // UUID and Snapper's name.
    void capturedListingBecomesRecords()
    {
        const LinuxSnapshotSources sources = capturedSystem();
        ToolPaths tools = linuxTools();
        const QList<SnapshotToolRun> runs = linuxSnapshotRuns(sources, tools);
        const QList<SnapshotToolOutput> outputs = {
            {true, QString::fromUtf8(captured("btrfs-list-snapshots-berlin.txt"))},
            {true, QString::fromUtf8(captured("btrfs-list-all.txt"))},
            {true, QString::fromUtf8(captured("snapper-list-berlin.json"))},
        };
        const SnapshotListing listing = assembleLinuxSnapshots(sources, runs, outputs, QTimeZone("Europe/Berlin"));
        QVERIFY(!listing.failed);

        QStringList names;
        for (const SnapshotEntry &entry : listing.entries)
            names.append(entry.info.name);
        QCOMPARE(names, (QStringList{u"q15test #2 – apt"_s, u"q15test #3 – quote \" and ünï"_s,
                                     u"q15test #1 – before cleanup"_s, u".snapshots/data-1"_s, u".snapshots/data-2"_s}));

        const SnapshotEntry &snapper = listing.entries[2];
        QCOMPARE(snapper.kind, SnapshotKind::snapper);
        QCOMPARE(snapper.info.snapshotUUID, u"6445de98-52a2-5b47-81d0-964478be34bc"_s);
        QCOMPARE(snapper.folder, u"/tmp/q15cap/sub/.snapshots/1/snapshot"_s);
        QCOMPARE(snapper.liveFolder, u"/tmp/q15cap/sub"_s);
        QCOMPARE(snapper.info.volumeName, u"SNAPVOL"_s);
        QCOMPARE(snapper.info.volumeDevice, u"/dev/loop0"_s);

        const SnapshotEntry &btrfs = listing.entries[3];
        QCOMPARE(btrfs.kind, SnapshotKind::btrfs);
        QCOMPARE(btrfs.folder, u"/tmp/q15cap/mnt/.snapshots/data-1"_s);
        // Its origin is @data, mounted on its own.
        QCOMPARE(btrfs.liveFolder, u"/tmp/q15cap/sub"_s);
        QCOMPARE(btrfs.info.date, std::optional<QDateTime>(QDateTime(QDate(2026, 12, 6), QTime(22, 50, 33), Qt::UTC)));
        QCOMPARE(btrfs.info.volumeName, u"SNAPVOL"_s);

        // Snapper refused: the btrfs records stay, and the listing says it
        // is incomplete.
        QList<SnapshotToolOutput> refused = outputs;
        refused[2] = {false, QString()};
        const SnapshotListing partial = assembleLinuxSnapshots(sources, runs, refused, QTimeZone("Europe/Berlin"));
        QVERIFY(partial.failed);
        QCOMPARE(partial.entries.size(), 5);
        QCOMPARE(partial.entries[0].kind, SnapshotKind::btrfs);
    }

    void otherToolsBecomeRecords()
    {
        LinuxSnapshotSources sources;
        sources.mounts = {mountEntry(u"/"_s, u"/tank/photos"_s, u"zfs"_s, u"tank/photos"_s)};
        const QList<SnapshotToolRun> runs = {{SnapshotTool::lvs, u"lvs"_s, {}, {}}, {SnapshotTool::zfs, u"zfs"_s, {}, {}}};
        const SnapshotListing listing = assembleLinuxSnapshots(
            sources, runs,
            {{true, QString::fromUtf8(captured("lvs-snapshots.json"))},
             {true, QString::fromUtf8(captured("zfs-list-snapshots.txt"))}},
            QTimeZone::utc());
        QCOMPARE(listing.entries.size(), 6);
        const auto named = [&](const QString &name) {
            return *std::find_if(listing.entries.begin(), listing.entries.end(),
                                 [&](const SnapshotEntry &entry) { return entry.info.name == name; });
        };
        const SnapshotEntry lvm = named(u"data_before_resize"_s);
        QCOMPARE(lvm.info.volumeDevice, u"/dev/vgtest/data"_s);
        QVERIFY(lvm.folder.isEmpty());
        QCOMPARE(lvm.manualCommand, u"mount -o ro /dev/vgtest/data_before_resize /mnt"_s);
        const SnapshotEntry zfs = named(u"tank/photos@before-import"_s);
        QCOMPARE(zfs.folder, u"/tank/photos/.zfs/snapshot/before-import"_s);
        QCOMPARE(zfs.liveFolder, u"/tank/photos"_s);
        // A dataset that is not mounted has no folder to browse.
        QVERIFY(named(u"rpool/ROOT/debian@install"_s).folder.isEmpty());
        QVERIFY(!named(u"rpool/ROOT/debian@install"_s).info.date);
        QCOMPARE(listing.entries.last().info.name, u"rpool/ROOT/debian@install"_s);
    }

    // The administrator script runs every tool in one shell; each one's
    // output and status come back apart, whatever the tools print.
    void elevatedScriptKeepsRunsApart()
    {
        const QString tools = QStringLiteral(QUORVEL_TEST_DATA "/tools/");
        const QList<SnapshotToolRun> runs = {
            {SnapshotTool::zfs, tools + u"exitwith"_s, {u"0"_s}, {}},
            {SnapshotTool::lvs, tools + u"exitwith"_s, {u"5"_s}, {}},
            {SnapshotTool::zfs, tools + u"silent"_s, {}, {}},
            {SnapshotTool::zfs, u"/bin/echo"_s, {u"@@ 0"_s, u"it's"_s}, {}},
        };
        const QString nonce = u"0123456789abcdef"_s;
        const ToolResult result = CommandRunner::processes()->run(u"/bin/sh"_s, {u"-c"_s, elevatedListingScript(runs, nonce)},
                                                                  StreamMode::outputOnly);
        const QList<SnapshotToolOutput> outputs = splitElevatedListing(*result.output, runs.size(), nonce);
        QCOMPARE(outputs.size(), 4);
        QCOMPARE(outputs[0].ok, true);
        QCOMPARE(outputs[0].text, u"out\n"_s);
        QCOMPARE(outputs[1].ok, false);
        QCOMPARE(outputs[2].ok, true);
        QCOMPARE(outputs[2].text, QString());
        QCOMPARE(outputs[3].text, u"@@ 0 it's\n"_s);
        // A cut-off run counts as failed.
        QCOMPARE(splitElevatedListing(result.output->left(result.output->indexOf(u"it's"_s)), 4, nonce)[3].ok, false);
    }

    void macOSAsksDiskutil_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<int>("count");
        QTest::addRow("listing") << captured("diskutil-apfs-listsnapshots.txt") << false << 3;
        QTest::addRow("error text only") << QByteArray("Error: -69808\n") << false << 0;
        QTest::addRow("not UTF-8") << QByteArray("Name: caf\xe9") << true << 0;
    }
    void macOSAsksDiskutil()
    {
        QFETCH(QByteArray, output);
        auto runner = std::make_shared<CannedRunner>();
        ToolsPlatform mac(PlatformKind::macOS, ToolPaths::defaultsFor(PlatformKind::macOS), runner);
        runner->answer(u"/usr/sbin/diskutil apfs listSnapshots /"_s, output, 1);
        const SnapshotListing listing = listSnapshots(mac, {});
        QTEST(listing.failed, "failed");
        QTEST(int(listing.entries.size()), "count");
        QCOMPARE(runner->modes, QList<StreamMode>{StreamMode::combined});
    }

    // One password prompt for everything, times read as UTC (the script
    // sets the zone), and nothing when the prompt is dismissed.
    void administratorListingIsOneRun()
    {
        auto runner = CommandRunner::processes();
        ToolPaths tools;
        tools.btrfs = QStringLiteral(QUORVEL_TEST_DATA "/tools/btrfs");
        ToolsPlatform linux(PlatformKind::gnuLinux, tools, runner);
        const std::optional<SnapshotListing> listing = listSnapshotsAsAdministrator(linux, capturedSystem());
        QVERIFY(listing);
        QCOMPARE(linux.admin.shellCommands.size(), 1);
        QVERIFY(!listing->failed);
        QCOMPARE(listing->entries.size(), 5);
        QCOMPARE(listing->entries.last().info.date,
                 std::optional<QDateTime>(QDateTime(QDate(2026, 12, 6), QTime(23, 50, 33), Qt::UTC)));

        linux.admin.refuse = true;
        QVERIFY(!listSnapshotsAsAdministrator(linux, capturedSystem()));
    }
};

QTEST_GUILESS_MAIN(TestSnapshotListing)
#include "tst_snapshotlisting.moc"
