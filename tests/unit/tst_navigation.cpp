#include <QAbstractItemModelTester>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QtQml/QQmlExtensionPlugin>

#include "model/palette.h"
#include "model/recoveryenums.h"
#include "navigationmodel.h"
#include "system/platform.h"

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

using Look = NavigationModel::RowLook;

class NavigationTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startsOnTrashRecovery();
    void rowsFollowTheEnumeration_data();
    void rowsFollowTheEnumeration();
    void everyDestinationHasItsScreenFile();
    void selectingChangesOnlyTwoRows();
    void selectionWinsOverHover();
    void lateExitKeepsTheNewHover();
    void valuesOutsideTheEnumerationAreIgnored();
    void aboutToggles();
    void leavingWaitsForConfirmation();
    void closingWaitsForConfirmation();
    void snapshotSubtitleNamesThePlatformsFacility_data();
    void snapshotSubtitleNamesThePlatformsFacility();
};

void NavigationTest::startsOnTrashRecovery()
{
    NavigationModel model;
    QCOMPARE(model.selectedNav(), NavigationItem::trashRecovery);
    QCOMPARE(model.hoveredItemValue(), -1);
    QVERIFY(!model.showingAbout());
    QCOMPARE(model.selectedScreen(), QStringLiteral("TrashRecoveryView.qml"));
}

void NavigationTest::rowsFollowTheEnumeration_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("subtitle");
    QTest::addColumn<QString>("symbol");
    QTest::addColumn<PaletteColor>("accent");
    QTest::addColumn<QString>("screen");

    QTest::addRow("trashRecovery") << 0 << "Trash Recovery" << "Recover from Trash" << "trash" << PaletteColor::neonCyan << "TrashRecoveryView.qml";
    QTest::addRow("snapshotRecovery") << 1 << "Snapshots" << "Volume Snapshots" << "clock.arrow.circlepath" << PaletteColor::neonPink << "SnapshotRecoveryView.qml";
    QTest::addRow("deepScan") << 2 << "Deep Scan" << "Signature Scan" << "waveform.and.magnifyingglass" << PaletteColor::neonBlue << "CarvingView.qml";
    QTest::addRow("settings") << 3 << "Settings" << "Preferences" << "gearshape" << PaletteColor::neonPurple << "SettingsView.qml";
}

void NavigationTest::rowsFollowTheEnumeration()
{
    NavigationModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 4);
    QFETCH(int, row);
    const QModelIndex index = model.index(row);
    const auto role = [](NavigationModel::Role r) { return static_cast<int>(r); };
    QCOMPARE(index.data(role(NavigationModel::Role::item)).toInt(), row);
    QTEST(index.data(role(NavigationModel::Role::title)).toString(), "title");
    QTEST(index.data(role(NavigationModel::Role::subtitle)).toString(), "subtitle");
    QTEST(index.data(role(NavigationModel::Role::symbol)).toString(), "symbol");
    QFETCH(PaletteColor, accent);
    QCOMPARE(index.data(role(NavigationModel::Role::accent)).value<QColor>(), paletteColor(accent));
    QTEST(index.data(role(NavigationModel::Role::screen)).toString(), "screen");
    QCOMPARE(index.data(role(NavigationModel::Role::look)).toString(),
             row == 0 ? QStringLiteral("selected") : QStringLiteral("plain"));
}

void NavigationTest::everyDestinationHasItsScreenFile()
{
    QSet<QString> screens;
    for (NavigationItem item : allNavigationItems()) {
        const QString screen = NavigationModel::screenFor(item);
        QVERIFY2(QFile::exists(QStringLiteral(":/qt/qml/Quorvel/") + screen), qPrintable(screen));
        screens.insert(screen);
    }
    QCOMPARE(screens.size(), allNavigationItems().size());
}

void NavigationTest::selectingChangesOnlyTwoRows()
{
    NavigationModel model;
    QSignalSpy selected(&model, &NavigationModel::selectedNavChanged);
    QSignalSpy rows(&model, &QAbstractItemModel::dataChanged);

    model.select(static_cast<int>(NavigationItem::deepScan));
    QCOMPARE(model.selectedNav(), NavigationItem::deepScan);
    QCOMPARE(model.selectedScreen(), QStringLiteral("CarvingView.qml"));
    QCOMPARE(selected.count(), 1);
    QCOMPARE(rows.count(), 2);
    QSet<int> changedRows;
    for (const QList<QVariant> &arguments : rows)
        changedRows.insert(arguments.at(0).toModelIndex().row());
    QCOMPARE(changedRows, (QSet<int>{0, 2}));

    model.select(static_cast<int>(NavigationItem::deepScan));
    QCOMPARE(selected.count(), 1);
}

void NavigationTest::selectionWinsOverHover()
{
    NavigationModel model;
    model.hoverEntered(static_cast<int>(NavigationItem::trashRecovery));
    QCOMPARE(model.lookOf(NavigationItem::trashRecovery), Look::selected);

    model.hoverEntered(static_cast<int>(NavigationItem::settings));
    QCOMPARE(model.lookOf(NavigationItem::settings), Look::hovered);
    QCOMPARE(model.lookOf(NavigationItem::trashRecovery), Look::selected);
    QCOMPARE(model.lookOf(NavigationItem::deepScan), Look::plain);

    // Picking the hovered row: it is now drawn as selected, still hovered.
    model.select(static_cast<int>(NavigationItem::settings));
    QCOMPARE(model.lookOf(NavigationItem::settings), Look::selected);
    QCOMPARE(model.hoveredItemValue(), static_cast<int>(NavigationItem::settings));
    QCOMPARE(model.lookOf(NavigationItem::trashRecovery), Look::plain);

    model.hoverExited(static_cast<int>(NavigationItem::settings));
    QCOMPARE(model.hoveredItemValue(), -1);
}

void NavigationTest::lateExitKeepsTheNewHover()
{
    NavigationModel model;
    QSignalSpy hovered(&model, &NavigationModel::hoveredItemChanged);
    model.hoverEntered(1);
    model.hoverEntered(2);
    model.hoverExited(1);
    QCOMPARE(model.hoveredItemValue(), 2);
    QCOMPARE(model.lookOf(NavigationItem::deepScan), Look::hovered);
    QCOMPARE(hovered.count(), 2);
}

void NavigationTest::valuesOutsideTheEnumerationAreIgnored()
{
    NavigationModel model;
    QSignalSpy selected(&model, &NavigationModel::selectedNavChanged);
    for (int value : {-1, 4, 1000}) {
        model.select(value);
        model.hoverEntered(value);
    }
    QCOMPARE(selected.count(), 0);
    QCOMPARE(model.hoveredItemValue(), -1);
}

void NavigationTest::aboutToggles()
{
    NavigationModel model;
    QSignalSpy about(&model, &NavigationModel::showingAboutChanged);
    model.toggleAbout();
    QVERIFY(model.showingAbout());
    model.setShowingAbout(true);
    QCOMPARE(about.count(), 1);
    model.toggleAbout();
    QVERIFY(!model.showingAbout());
    QCOMPARE(about.count(), 2);
}

// A screen with something to lose is left only once confirmed; the choice
// lapses when it is cancelled or when nothing is left to lose.
void NavigationTest::leavingWaitsForConfirmation()
{
    NavigationModel model;
    const int settings = int(NavigationItem::settings);
    model.select(int(NavigationItem::deepScan));
    model.setLeaveWarning(QStringLiteral("The 3 files found are discarded."));

    model.select(int(NavigationItem::deepScan));
    QCOMPARE(model.pendingNavValue(), -1);
    model.select(settings);
    QCOMPARE(model.selectedNav(), NavigationItem::deepScan);
    QCOMPARE(model.pendingNavValue(), settings);
    model.cancelLeave();
    QCOMPARE(model.pendingNavValue(), -1);
    QCOMPARE(model.selectedNav(), NavigationItem::deepScan);

    model.select(settings);
    model.setLeaveWarning(QString());
    QCOMPARE(model.pendingNavValue(), -1);
    QCOMPARE(model.selectedNav(), NavigationItem::deepScan);

    model.setLeaveWarning(QStringLiteral("The scan stops."));
    model.select(settings);
    model.confirmLeave();
    QCOMPARE(model.selectedNav(), NavigationItem::settings);
    QCOMPARE(model.pendingNavValue(), -1);
    QCOMPARE(model.leaveWarning(), QString());
    model.confirmLeave();
    QCOMPARE(model.selectedNav(), NavigationItem::settings);
}

// Closing the window asks the same question; only a yes lets it close.
void NavigationTest::closingWaitsForConfirmation()
{
    NavigationModel model;
    QSignalSpy confirmed(&model, &NavigationModel::quitConfirmed);
    QVERIFY(model.mayClose());
    model.setLeaveWarning(QStringLiteral("The scan stops."));
    QVERIFY(!model.mayClose());
    QVERIFY(model.quitPending());
    model.cancelLeave();
    QVERIFY(!model.quitPending());
    QVERIFY(!model.mayClose());
    model.confirmLeave();
    QCOMPARE(confirmed.count(), 1);
    QVERIFY(!model.quitPending());
    QVERIFY(model.mayClose());
}

QTEST_GUILESS_MAIN(NavigationTest)
void NavigationTest::snapshotSubtitleNamesThePlatformsFacility_data()
{
    QTest::addColumn<PlatformKind>("kind");
    QTest::addColumn<QString>("subtitle");
    QTest::addRow("macOS") << PlatformKind::macOS << "APFS Snapshots";
    QTest::addRow("Linux") << PlatformKind::gnuLinux << "Volume Snapshots";
}

void NavigationTest::snapshotSubtitleNamesThePlatformsFacility()
{
    QFETCH(PlatformKind, kind);
    QFETCH(QString, subtitle);
    NavigationModel model(makePlatform(kind));
    QCOMPARE(model.data(model.index(1), int(NavigationModel::Role::subtitle)).toString(), subtitle);
}

#include "tst_navigation.moc"
