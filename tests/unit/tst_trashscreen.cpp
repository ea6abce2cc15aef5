#include <QDir>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "helpers/trashtree.h"
#include "trash/trashitemmodel.h"
#include "trash/trashrecoveryservice.h"
#include "trash/trashscreen.h"

using namespace Qt::Literals::StringLiterals;
using namespace trashtest;

namespace {

TrashItem record(const QString &name, qint64 size, std::optional<int> daysAgo, bool withOriginal = true)
{
    TrashItem item;
    item.fileName = name;
    item.fileSize = size;
    item.trashPath = QUrl::fromLocalFile(u"/trash/files/"_s + name);
    if (withOriginal)
        item.originalPath = u"/home/ann/"_s + name;
    if (daysAgo)
        item.deletedDate = QDateTime(QDate(2026, 1, 20).addDays(-*daysAgo), QTime(12, 0));
    item.category = categoryFor(name, false);
    return item;
}

// In the order a scan publishes them: newest first, undated last.
QList<TrashItem> sampleItems()
{
    return {record(u"Quarterly-Report.docx"_s, 300, 1), record(u"sunset.png"_s, 200, 2), record(u"report.pdf"_s, 100, 3),
            record(u"Ärger.txt"_s, 50, 4), record(u"Zebra.mov"_s, 10, std::nullopt, false),
            record(u"photo.JPG"_s, 200, std::nullopt)};
}

QStringList displayedNames(const TrashScreen &screen)
{
    QStringList names;
    for (const TrashItem &item : screen.displayedItems()->displayedItems())
        names.append(item.fileName);
    return names;
}

QString idOf(const TrashScreen &screen, const QString &name)
{
    for (const TrashItem &item : screen.service()->items()->items()) {
        if (item.fileName == name)
            return item.id.toString(QUuid::WithoutBraces);
    }
    return {};
}

int chipCount(const TrashScreen &screen, FileCategory category)
{
    CategoryChipModel *chips = screen.categories();
    return chips->data(chips->index(int(category), 0), int(CategoryChipModel::Role::count)).toInt();
}

} // namespace

class TestTrashScreen : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void init()
    {
        m_platform = std::make_shared<TrashPlatform>(PlatformKind::gnuLinux);
        QVERIFY(m_dir.isValid());
        m_platform->home = TrashTree(m_dir.filePath(u"Trash-"_s + QString::number(++m_run))).location();
        m_service = std::make_unique<TrashRecoveryService>(m_platform);
        m_screen = std::make_unique<TrashScreen>();
        m_screen->setService(m_service.get());
    }
    void cleanup()
    {
        m_screen.reset();
        m_service.reset();
    }

    void displayedList_data()
    {
        QTest::addColumn<int>("category");
        QTest::addColumn<QString>("search");
        QTest::addColumn<TrashSort::Order>("order");
        QTest::addColumn<QStringList>("expected");
        const int all = int(FileCategory::all);
        using Order = TrashSort::Order;
        // Ties whose list order differs from their name order: sunset.png and
        // photo.JPG (same size), Zebra.mov and photo.JPG (no date).
        QTest::addRow("newest first, undated last")
            << all << QString() << Order::dateDesc
            << QStringList{u"Quarterly-Report.docx"_s, u"sunset.png"_s, u"report.pdf"_s, u"Ärger.txt"_s, u"Zebra.mov"_s, u"photo.JPG"_s};
        QTest::addRow("oldest first, undated first in list order")
            << all << QString() << Order::dateAsc
            << QStringList{u"Zebra.mov"_s, u"photo.JPG"_s, u"Ärger.txt"_s, u"report.pdf"_s, u"sunset.png"_s, u"Quarterly-Report.docx"_s};
        QTest::addRow("largest first, equal sizes in list order")
            << all << QString() << Order::sizeDesc
            << QStringList{u"Quarterly-Report.docx"_s, u"sunset.png"_s, u"photo.JPG"_s, u"report.pdf"_s, u"Ärger.txt"_s, u"Zebra.mov"_s};
        QTest::addRow("smallest first, equal sizes in list order")
            << all << QString() << Order::sizeAsc
            << QStringList{u"Zebra.mov"_s, u"Ärger.txt"_s, u"report.pdf"_s, u"sunset.png"_s, u"photo.JPG"_s, u"Quarterly-Report.docx"_s};
        QTest::addRow("names as the locale sorts them")
            << all << QString() << Order::nameAsc
            << QStringList{u"Ärger.txt"_s, u"photo.JPG"_s, u"Quarterly-Report.docx"_s, u"report.pdf"_s, u"sunset.png"_s, u"Zebra.mov"_s};
        QTest::addRow("search ignores case") << all << u"REPORT"_s << Order::dateDesc
                                             << QStringList{u"Quarterly-Report.docx"_s, u"report.pdf"_s};
        QTest::addRow("search folds accented capitals") << all << u"ärger"_s << Order::dateDesc << QStringList{u"Ärger.txt"_s};
        QTest::addRow("one category") << int(FileCategory::image) << QString() << Order::dateDesc
                                      << QStringList{u"sunset.png"_s, u"photo.JPG"_s};
        QTest::addRow("category, search and order") << int(FileCategory::document) << u"rep"_s << Order::sizeAsc
                                                    << QStringList{u"report.pdf"_s, u"Quarterly-Report.docx"_s};
        QTest::addRow("nothing matches") << int(FileCategory::video) << u"sunset"_s << Order::dateDesc << QStringList();
    }
    void displayedList()
    {
        QFETCH(int, category);
        QFETCH(QString, search);
        QFETCH(TrashSort::Order, order);
        QFETCH(QStringList, expected);
        m_service->items()->setItems(sampleItems());
        // Another order first: ties fall back on the list's order, not on
        // whatever the previous order left.
        m_screen->setSortOrder(order == TrashSort::Order::nameAsc ? TrashSort::Order::dateAsc : TrashSort::Order::nameAsc);
        m_screen->setSelectedCategory(category);
        m_screen->setSearchText(search);
        m_screen->setSortOrder(order);
        QCOMPARE(displayedNames(*m_screen), expected);
        QCOMPARE(m_screen->displayedCount(), expected.size());
        // Chips and stats count every item, whatever is shown.
        QCOMPARE(chipCount(*m_screen, FileCategory::all), 6);
        QCOMPARE(chipCount(*m_screen, FileCategory::image), 2);
        QCOMPARE(chipCount(*m_screen, FileCategory::document), 3);
        QCOMPARE(chipCount(*m_screen, FileCategory::folder), 0);
        QCOMPARE(m_screen->fileCount(), 6);
        QCOMPARE(m_screen->totalSizeText(), u"860 bytes"_s);
    }

    void selectionRules()
    {
        m_service->items()->setItems(sampleItems());
        TrashScreen &screen = *m_screen;
        QSignalSpy changed(&screen, &TrashScreen::selectionChanged);
        screen.toggle(idOf(screen, u"report.pdf"_s));
        screen.toggle(idOf(screen, u"Zebra.mov"_s));
        QCOMPARE(screen.selectedCount(), 2);
        QVERIFY(!screen.allDisplayedSelected());
        // Zebra.mov does not know where it came from.
        QVERIFY(!screen.canRestoreToOriginal());
        screen.toggle(idOf(screen, u"Zebra.mov"_s));
        QVERIFY(screen.canRestoreToOriginal());
        QVERIFY(!changed.isEmpty());

        // Filter, search and order leave the selection alone.
        screen.setSelectedCategory(int(FileCategory::image));
        screen.setSortOrder(TrashSort::Order::nameAsc);
        QCOMPARE(screen.selectedCount(), 1);

        // The header box takes exactly what is shown...
        screen.toggleAll();
        QCOMPARE(screen.selectedCount(), 2);
        QVERIFY(screen.allDisplayedSelected());
        QVERIFY(!screen.isSelected(idOf(screen, u"report.pdf"_s)));
        TrashItemProxy *shown = screen.displayedItems();
        QVERIFY(shown->data(shown->index(0, 0), int(TrashItemModel::Role::isSelected)).toBool());
        // ...and, when all of it is selected, empties the whole selection.
        screen.setSelectedCategory(int(FileCategory::all));
        screen.toggle(idOf(screen, u"report.pdf"_s));
        screen.setSelectedCategory(int(FileCategory::image));
        screen.toggleAll();
        QCOMPARE(screen.selectedCount(), 0);

        // Nothing shown: nothing to take.
        screen.setSelectedCategory(int(FileCategory::video));
        screen.setSearchText(u"nothing"_s);
        screen.toggleAll();
        QCOMPARE(screen.selectedCount(), 0);
        QVERIFY(!screen.allDisplayedSelected());
        QVERIFY(!screen.canRecover());
    }

    // The whole way: scan, select, ask, restore on the worker, count, rescan.
    void recoverThroughTheService()
    {
        const TrashTree tree(m_platform->home.root);
        const QDateTime now = QDateTime::currentDateTime();
        tree.addFile(u"kept.txt"_s, "kept", TrashTree::info(m_dir.filePath(u"home/kept.txt"_s), now));
        tree.addFile(u"one.txt"_s, "one", TrashTree::info(m_dir.filePath(u"home/one.txt"_s), now.addSecs(-10)));
        tree.addFile(u"two.txt"_s, "two", TrashTree::info(m_dir.filePath(u"home/docs/two.txt"_s), now.addSecs(-20)));
        tree.addFile(u"vanishing.txt"_s, "v", TrashTree::info(m_dir.filePath(u"home/vanishing.txt"_s), now.addSecs(-30)));
        TrashScreen &screen = *m_screen;
        screen.scan();
        QVERIFY(m_service->isScanning());
        QTRY_VERIFY(!m_service->isScanning());
        QCOMPARE(m_service->scanProgress(), 1.0);
        QVERIFY(!m_service->hasError());
        QCOMPARE(screen.fileCount(), 4);

        const QString folder = m_dir.filePath(u"recovered"_s);
        QDir().mkpath(folder);
        screen.setConfirmBeforeRecover(true);
        screen.toggle(idOf(screen, u"one.txt"_s));
        screen.toggle(idOf(screen, u"vanishing.txt"_s));
        QFile::remove(tree.location().filesFolder + u"/vanishing.txt"_s);
        screen.recoverTo(QUrl::fromLocalFile(folder));
        QVERIFY(screen.isConfirming());
        QVERIFY2(screen.confirmationText().startsWith(u"Recover 2 items to "_s), qPrintable(screen.confirmationText()));
        QVERIFY(screen.confirmationText().contains(folder));
        screen.cancelConfirmation();
        QVERIFY(!screen.isConfirming());
        QVERIFY(!m_service->isRecovering());
        QCOMPARE(screen.selectedCount(), 2);

        screen.recoverTo(QUrl::fromLocalFile(folder));
        screen.confirm();
        QVERIFY(m_service->isRecovering());
        QTRY_VERIFY(screen.showRecoverAlert());
        QCOMPARE(screen.recoverResultText(), u"Recovered: 1 files\nFailed: 1 files"_s);
        QVERIFY(screen.recoverHadFailures());
        QCOMPARE(screen.selectedCount(), 0);
        QCOMPARE(readFile(folder + u"/one.txt"_s), QByteArray("one"));
        QTRY_VERIFY(!m_service->isScanning());
        QCOMPARE(screen.fileCount(), 2);
        screen.dismissAlert();
        QVERIFY(!screen.showRecoverAlert());
        QVERIFY(screen.recoverResultText().isEmpty());

        // Back where it was deleted from, its folder made again.
        screen.setConfirmBeforeRecover(false);
        screen.toggle(idOf(screen, u"two.txt"_s));
        screen.restoreToOriginal();
        QTRY_VERIFY(screen.showRecoverAlert());
        QCOMPARE(screen.recoverResultText(), u"Recovered: 1 files\nFailed: 0 files"_s);
        QCOMPARE(readFile(m_dir.filePath(u"home/docs/two.txt"_s)), QByteArray("two"));
    }

    // A new scan makes new records; the selection follows the items still in
    // the Trash and drops those that left.
    void rescanKeepsTheSelectionOfItemsStillThere()
    {
        const TrashTree tree(m_platform->home.root);
        tree.addFile(u"stays.txt"_s, "s", TrashTree::info(u"/home/ann/stays.txt"_s, QDateTime::currentDateTime()));
        tree.addFile(u"leaves.txt"_s, "l", TrashTree::info(u"/home/ann/leaves.txt"_s, QDateTime::currentDateTime()));
        m_screen->scan();
        QTRY_VERIFY(!m_service->isScanning());
        m_screen->toggle(idOf(*m_screen, u"stays.txt"_s));
        m_screen->toggle(idOf(*m_screen, u"leaves.txt"_s));
        QFile::remove(tree.location().filesFolder + u"/leaves.txt"_s);
        m_screen->scan();
        QTRY_VERIFY(!m_service->isScanning());
        QCOMPARE(m_screen->selectedCount(), 1);
        QVERIFY(m_screen->isSelected(idOf(*m_screen, u"stays.txt"_s)));
    }

private:
    QTemporaryDir m_dir;
    int m_run = 0;
    std::shared_ptr<TrashPlatform> m_platform;
    std::unique_ptr<TrashRecoveryService> m_service;
    std::unique_ptr<TrashScreen> m_screen;
};

QTEST_GUILESS_MAIN(TestTrashScreen)
#include "tst_trashscreen.moc"
