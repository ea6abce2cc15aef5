#include <QTest>
#include <QTimeZone>

#include "helpers/testsupport.h"
#include "snapshots/snapshotparsers.h"

using namespace Qt::Literals::StringLiterals;

namespace {

QString captured(const char *name)
{
    return QString::fromUtf8(readFile(QStringLiteral(QUORVEL_TEST_DATA "/captured/") + QLatin1String(name)));
}

QDateTime utc(const char *text)
{
    return QDateTime::fromString(QLatin1String(text), Qt::ISODate).toUTC();
}

QDateTime local(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

} // namespace

class TestSnapshotParsers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // diskutil: each case gives the records as "name|uuid|volume|device" and
    // the dates in the user's zone (an invalid one for none), newest first.
    void diskutilLines_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QStringList>("records");
        QTest::addColumn<QList<QDateTime>>("dates");

        const QString tm = u"Name: com.apple.TimeMachine.2024-01-15-103000.local, UUID: 1A2B, Created: 2024-01-15 10:30:00"_s;
        QTest::addRow("one line, no volume line")
            << tm << QStringList{u"com.apple.TimeMachine.2024-01-15-103000.local|1A2B|System|/dev/disk1s1"_s}
            << QList<QDateTime>{local(2024, 1, 15, 10, 30, 0)};
        QTest::addRow("volume line names the lines after it")
            << u"+-- Volume disk3s5 \"Data\"\n"_s + tm + u"\n+-- APFS Volume disk4s1 \"Backup\"\nName: b, Created: 2024-01-16 09:00:00"_s
            << QStringList{u"b||Backup|/dev/disk4s1"_s, u"com.apple.TimeMachine.2024-01-15-103000.local|1A2B|Data|/dev/disk3s5"_s}
            << QList<QDateTime>{local(2024, 1, 16, 9, 0, 0), local(2024, 1, 15, 10, 30, 0)};
        QTest::addRow("volume line without device or name changes nothing")
            << u"+-- Volume disk3s5 \"Data\"\nAPFS Volume\n"_s + tm
            << QStringList{u"com.apple.TimeMachine.2024-01-15-103000.local|1A2B|Data|/dev/disk3s5"_s}
            << QList<QDateTime>{local(2024, 1, 15, 10, 30, 0)};
        QTest::addRow("com.apple without a Name part")
            << u"Snapshot: com.apple.TimeMachine.2024-01-15-103000.local"_s << QStringList{} << QList<QDateTime>{};
        QTest::addRow("date with a T is not read")
            << u"Name: a, Created: 2024-01-15T10:30:00"_s << QStringList{u"a||System|/dev/disk1s1"_s}
            << QList<QDateTime>{QDateTime()};
        QTest::addRow("a carriage return spoils the date")
            << u"Name: a, Created: 2024-01-15 10:30:00\r"_s << QStringList{u"a||System|/dev/disk1s1"_s}
            << QList<QDateTime>{QDateTime()};
        QTest::addRow("equal dates keep their order, no date comes last")
            << u"Name: first\nName: x, Created: 2024-01-15 10:30:00\nName: y, Created: 2024-01-15 10:30:00\nName: z, Created: 2024-02-01 00:00:00"_s
            << QStringList{u"z||System|/dev/disk1s1"_s, u"x||System|/dev/disk1s1"_s, u"y||System|/dev/disk1s1"_s,
                           u"first||System|/dev/disk1s1"_s}
            << QList<QDateTime>{local(2024, 2, 1, 0, 0, 0), local(2024, 1, 15, 10, 30, 0), local(2024, 1, 15, 10, 30, 0),
                                QDateTime()};
        QTest::addRow("later part of a kind wins, other parts ignored")
            << u"Name: a, XID: 7, Name: b, UUID: 1, UUID: 2"_s << QStringList{u"b|2|System|/dev/disk1s1"_s}
            << QList<QDateTime>{QDateTime()};
        QTest::addRow("empty output") << QString() << QStringList{} << QList<QDateTime>{};
        QTest::addRow("captured shape")
            << captured("diskutil-apfs-listsnapshots.txt")
            << QStringList{u"com.apple.TimeMachine.2024-01-15-103000.local|1A2B3C4D-1111-4222-8333-444455556666|Data|/dev/disk3s5"_s,
                           u"com.apple.os.update-0A1B2C|9F8E7D6C-0000-4A4A-8B8B-112233445566|Macintosh HD|/dev/disk3s1"_s,
                           u"com.apple.TimeMachine.2024-01-14-093000.local|5E6F7A8B-2222-4333-8444-555566667777|Data|/dev/disk3s5"_s}
            << QList<QDateTime>{local(2024, 1, 15, 10, 30, 0), local(2024, 1, 10, 8, 0, 0), QDateTime()};
    }
    void diskutilLines()
    {
        QFETCH(QString, output);
        QFETCH(QStringList, records);
        QFETCH(QList<QDateTime>, dates);
        const QList<SnapshotInfo> parsed = parseSnapshotList(output);
        QStringList seen;
        QList<QDateTime> seenDates;
        for (const SnapshotInfo &info : parsed) {
            seen.append(info.name + u'|' + info.snapshotUUID + u'|' + info.volumeName + u'|' + info.volumeDevice);
            seenDates.append(info.date.value_or(QDateTime()));
        }
        QCOMPARE(seen, records);
        QCOMPARE(seenDates, dates);
    }

    // Lines are taken untrimmed; the header and lines without a dot name no
    // snapshot.
    void tmutilLines()
    {
        QCOMPARE(countTmutilSnapshots(u"Snapshots for disk /:\n\nno dot\n a.b\n"_s), 1);
    }

    // btrfs prints otime in its own zone: the same text means another
    // instant in Berlin than in UTC.
    void btrfsListInTheToolsZone_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDateTime>("firstCreated");
        QTest::addRow("Berlin") << QByteArray("Europe/Berlin") << utc("2026-12-06T22:50:33Z");
        QTest::addRow("UTC") << QByteArray("UTC") << utc("2026-12-06T23:50:33Z");
    }
    void btrfsListInTheToolsZone()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDateTime, firstCreated);
        const QList<BtrfsSubvolume> snapshots =
            parseBtrfsSubvolumeList(captured("btrfs-list-snapshots-berlin.txt") + u"ERROR: can't access '/tmp'\n"_s,
                                    QTimeZone(zone));
        QCOMPARE(snapshots.size(), 5);
        QCOMPARE(snapshots[0].created, std::optional<QDateTime>(firstCreated));
        QCOMPARE(snapshots[0].path, u".snapshots/data-1"_s);
        QCOMPARE(snapshots[0].parentUuid, u"c3b67a5e-ed93-1649-a08b-f7f5abea4c53"_s);
        QCOMPARE(snapshots[0].uuid, u"183ee0d1-f23a-1e40-85f7-3d51b501c740"_s);
        QCOMPARE(snapshots[4].path, u"@data/.snapshots/3/snapshot"_s);
        QCOMPARE(snapshots[4].topLevel, 259);
    }

    void btrfsListOfEverySubvolume()
    {
        const QList<BtrfsSubvolume> all = parseBtrfsSubvolumeList(captured("btrfs-list-all.txt"), QTimeZone::utc());
        QCOMPARE(all.size(), 7);
        // No otime without -s, and "parent_uuid -" padded to a UUID's width.
        QCOMPARE(all[0].created, std::nullopt);
        QCOMPARE(all[0].parentUuid, QString());
        QCOMPARE(all[0].path, u"@data"_s);
        QCOMPARE(all[3].path, u"@data/.snapshots"_s);
    }

    void snapperListInTheToolsZone()
    {
        const QString json = u"Warning: something\n"_s + captured("snapper-list-berlin.json");
        const QList<SnapperSnapshot> snapshots = parseSnapperList(json, QTimeZone("Europe/Berlin"));
        QCOMPARE(snapshots.size(), 3);
        QCOMPARE(snapshots[0].config, u"q15test"_s);
        QCOMPARE(snapshots[0].subvolume, u"/tmp/q15cap/sub"_s);
        QCOMPARE(snapshots[0].number, 1);
        QCOMPARE(snapshots[0].description, u"before cleanup"_s);
        QCOMPARE(snapshots[0].date, std::optional<QDateTime>(utc("2026-12-06T22:50:40Z")));
        QCOMPARE(snapshots[1].type, u"pre"_s);
        QCOMPARE(snapshots[2].description, u"quote \" and ünï"_s);
        QVERIFY(parseSnapperList(u"Failure (dbus fatal exception)."_s, QTimeZone::utc()).isEmpty());
    }

    void lvsSnapshotRows()
    {
        const QList<LvmSnapshot> snapshots = parseLvsSnapshots(captured("lvs-snapshots.json"));
        QCOMPARE(snapshots.size(), 3);
        QCOMPARE(snapshots[0].name, u"data_before_resize"_s);
        QCOMPARE(snapshots[0].origin, u"data"_s);
        QCOMPARE(snapshots[0].volumeGroup, u"vgtest"_s);
        QCOMPARE(snapshots[0].path, u"/dev/vgtest/data_before_resize"_s);
        // The offset printed with the time decides the instant.
        QCOMPARE(snapshots[0].created, std::optional<QDateTime>(utc("2026-12-06T14:10:05Z")));
        QCOMPARE(snapshots[1].created, std::optional<QDateTime>(utc("2026-12-05T13:00:00Z")));
        QVERIFY(snapshots[0].isValid);
        QVERIFY(!snapshots[1].isValid);
        // time_format="%s" gives epoch seconds instead.
        QCOMPARE(snapshots[2].created, std::optional<QDateTime>(QDateTime::fromSecsSinceEpoch(1796563760)));
        QVERIFY(parseLvsSnapshots(u"  /run/lock/lvm/P_global:aux: open failed: Permission denied"_s).isEmpty());
    }

    void zfsSnapshotLines()
    {
        const QList<ZfsSnapshot> snapshots =
            parseZfsSnapshots(captured("zfs-list-snapshots.txt") + u"no tabs here\npool@\t1\t2\n"_s);
        QCOMPARE(snapshots.size(), 3);
        QCOMPARE(snapshots[0].dataset, u"tank/photos"_s);
        QCOMPARE(snapshots[0].name, u"autosnap_2026-11-30_daily"_s);
        QCOMPARE(snapshots[0].guid, u"4829166254213471537"_s);
        QCOMPARE(snapshots[0].created, std::optional<QDateTime>(QDateTime::fromSecsSinceEpoch(1796515200)));
        QCOMPARE(snapshots[2].dataset, u"rpool/ROOT/debian"_s);
        QCOMPARE(snapshots[2].created, std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestSnapshotParsers)
#include "tst_snapshotparsers.moc"
