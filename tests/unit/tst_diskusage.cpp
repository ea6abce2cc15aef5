#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "diskusage.h"
#include "model/palette.h"

class DiskUsageTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void figures_data();
    void figures();
    void unreadablePathShowsZero();
    void changesAreSignalledOnce();
    void readsTheRealRoot();
};

void DiskUsageTest::figures_data()
{
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("free");
    QTest::addColumn<double>("fraction");
    QTest::addColumn<QString>("percent");
    QTest::addColumn<bool>("nearlyFull");

    QTest::addRow("empty file system, nothing to divide") << qint64(0) << qint64(0) << 0.0 << "0%" << false;
    QTest::addRow("unknown sizes count as nothing") << qint64(-1) << qint64(-1) << 0.0 << "0%" << false;
    // 0.29 * 100 is 28.999... in floating point; the card must still say 29.
    QTest::addRow("0.29 reads 29") << qint64(100) << qint64(71) << 0.29 << "29%" << false;
    QTest::addRow("exactly 0.9 stays cyan") << qint64(10000) << qint64(1000) << 0.9 << "90%" << false;
    QTest::addRow("0.9001 turns red") << qint64(10000) << qint64(999) << 0.9001 << "90%" << true;
    QTest::addRow("more free than total") << qint64(1000) << qint64(1500) << 0.0 << "0%" << false;
    QTest::addRow("near the qint64 limit") << std::numeric_limits<qint64>::max() << qint64(0) << 1.0 << "100%" << true;
}

void DiskUsageTest::figures()
{
    QFETCH(qint64, total);
    QFETCH(qint64, free);
    DiskUsage usage;
    usage.setRefreshInterval(0);
    usage.setSizes(total, free);
    QTEST(usage.usedFraction(), "fraction");
    QTEST(usage.percentText(), "percent");
    QTEST(usage.isNearlyFull(), "nearlyFull");
    QCOMPARE(usage.accent(), paletteColor(usage.isNearlyFull() ? PaletteColor::neonRed : PaletteColor::neonCyan));
}

void DiskUsageTest::unreadablePathShowsZero()
{
    QTemporaryDir dir;
    DiskUsage usage;
    usage.setRefreshInterval(0);
    usage.setPath(dir.filePath(QStringLiteral("does/not/exist")));
    QCOMPARE(usage.totalBytes(), 0);
    QCOMPARE(usage.freeBytes(), 0);
    QCOMPARE(usage.percentText(), QStringLiteral("0%"));
}

void DiskUsageTest::changesAreSignalledOnce()
{
    DiskUsage usage;
    usage.setRefreshInterval(0);
    usage.setSizes(100, 50);
    QSignalSpy changed(&usage, &DiskUsage::changed);
    usage.setSizes(100, 50);
    QCOMPARE(changed.count(), 0);
    usage.setSizes(100, 5);
    QCOMPARE(changed.count(), 1);
}

void DiskUsageTest::readsTheRealRoot()
{
    DiskUsage usage;
    usage.setRefreshInterval(0);
    if (usage.totalBytes() == 0)
        QSKIP("the file system of / reports no size here");
    QVERIFY(usage.freeBytes() <= usage.totalBytes());
    QVERIFY(usage.usedFraction() >= 0.0 && usage.usedFraction() <= 1.0);
}

QTEST_GUILESS_MAIN(DiskUsageTest)
#include "tst_diskusage.moc"
