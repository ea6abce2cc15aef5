#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "helpers/testsupport.h"
#include "snapshots/snapshotbrowser.h"
#include "system/appsettings.h"

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList shownNames(const SnapshotBrowser &browser)
{
    QStringList names;
    for (int row = 0; row < browser.files()->rowCount(); ++row)
        names.append(browser.files()->index(row, 0).data(int(SnapshotFileModel::Role::name)).toString());
    return names;
}

int rowNamed(const SnapshotBrowser &browser, const QString &name)
{
    return int(shownNames(browser).indexOf(name));
}

QString markOf(const SnapshotBrowser &browser, const QString &name)
{
    return browser.files()->index(rowNamed(browser, name), 0).data(int(SnapshotFileModel::Role::comparisonText)).toString();
}

} // namespace

class TestSnapshotBrowser : public QObject
{
    Q_OBJECT

    // A snapshot of a home folder and the folder as it is now: notes.txt
    // edited since, Photos/a.jpg deleted.
    void plantFolders()
    {
        QVERIFY(writeFile(m_kept->path() + u"/notes.txt"_s, "kept notes"));
        QVERIFY(writeFile(m_kept->path() + u"/Zebra.txt"_s, "z"));
        QVERIFY(writeFile(m_kept->path() + u"/apple.txt"_s, "a"));
        QVERIFY(writeFile(m_kept->path() + u"/Photos/a.jpg"_s, "jpeg"));
        QVERIFY(writeFile(m_kept->path() + u"/Photos/b.jpg"_s, "jpeg b"));
        QVERIFY(writeFile(m_live->path() + u"/notes.txt"_s, "live notes"));
        QVERIFY(writeFile(m_live->path() + u"/Zebra.txt"_s, "z"));
        QVERIFY(writeFile(m_live->path() + u"/apple.txt"_s, "a"));
        QVERIFY(writeFile(m_live->path() + u"/Photos/b.jpg"_s, "jpeg b"));
    }

    std::unique_ptr<SnapshotBrowser> openBrowser()
    {
        auto browser = std::make_unique<SnapshotBrowser>(m_settings.get());
        SnapshotEntry entry;
        entry.info.name = u"home-2026-12-04"_s;
        entry.kind = SnapshotKind::btrfs;
        entry.folder = m_kept->path();
        entry.liveFolder = m_live->path();
        browser->open(entry, {m_kept->path()});
        [&] { QTRY_VERIFY(!browser->isListing()); }();
        return browser;
    }

private Q_SLOTS:
    void init()
    {
        m_kept.emplace();
        m_live.emplace();
        m_target.emplace();
        m_store.emplace();
        m_settings = std::make_unique<AppSettings>(
            std::make_unique<QSettings>(m_store->filePath(u"settings.ini"_s), QSettings::IniFormat));
        plantFolders();
    }

    void foldersAreEnteredAndSearched()
    {
        const auto browser = openBrowser();
        QCOMPARE(shownNames(*browser), (QStringList{u"Photos"_s, u"apple.txt"_s, u"notes.txt"_s, u"Zebra.txt"_s}));
        QVERIFY(!browser->canGoBack());

        browser->setSearchText(u"TXT"_s);
        QCOMPARE(shownNames(*browser), (QStringList{u"apple.txt"_s, u"notes.txt"_s, u"Zebra.txt"_s}));
        // A file can't be entered; the filtered row of a folder can.
        browser->enter(0);
        QCOMPARE(browser->currentPath(), u"/"_s);
        browser->setSearchText(u"pho"_s);
        browser->enter(0);
        QTRY_VERIFY(!browser->isListing());
        QCOMPARE(browser->currentPath(), u"/Photos"_s);
        QCOMPARE(browser->searchText(), QString());
        QCOMPARE(shownNames(*browser), (QStringList{u"a.jpg"_s, u"b.jpg"_s}));

        browser->goBack();
        QTRY_VERIFY(!browser->isListing());
        QCOMPARE(shownNames(*browser).size(), 4);
    }

    void aFolderThatCantBeReadSaysWhy()
    {
        const auto browser = std::make_unique<SnapshotBrowser>(m_settings.get());
        SnapshotEntry entry;
        entry.folder = m_kept->path() + u"/gone"_s;
        browser->open(entry, {});
        QTRY_VERIFY(!browser->isListing());
        QCOMPARE(browser->errorMessage(), u"Cannot open /: No such file or directory"_s);
    }

    void choicesSurviveFolderChanges()
    {
        const auto browser = openBrowser();
        browser->toggleSelected(rowNamed(*browser, u"notes.txt"_s));
        browser->enter(rowNamed(*browser, u"Photos"_s));
        QTRY_VERIFY(!browser->isListing());
        browser->toggleSelected(rowNamed(*browser, u"a.jpg"_s));
        QCOMPARE(browser->selectedCount(), 2);
        browser->goBack();
        QTRY_VERIFY(!browser->isListing());
        QVERIFY(browser->files()->index(rowNamed(*browser, u"notes.txt"_s), 0).data(int(SnapshotFileModel::Role::isSelected)).toBool());
        browser->toggleSelected(rowNamed(*browser, u"notes.txt"_s));
        QCOMPARE(browser->selectedCount(), 1);
    }

    void comparisonMarksEveryFolderShown()
    {
        const auto browser = openBrowser();
        browser->setComparing(true);
        QTRY_COMPARE(markOf(*browser, u"apple.txt"_s), u"Same"_s);
        QTRY_COMPARE(markOf(*browser, u"notes.txt"_s), u"Changed"_s);
        QCOMPARE(browser->changedCount(), 1);
        browser->enter(rowNamed(*browser, u"Photos"_s));
        QTRY_COMPARE(markOf(*browser, u"a.jpg"_s), u"Missing"_s);
        QCOMPARE(browser->missingCount(), 1);
        browser->setComparing(false);
        QCOMPARE(markOf(*browser, u"a.jpg"_s), QString());
    }

    // "Default Recovery Path" is where the folder dialog opens, and
    // "Confirm Before Recovery" decides whether a restore asks first.
    void theSettingsDecideHowARestoreStarts_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::addRow("asks first") << true;
        QTest::addRow("restores at once") << false;
    }
    void theSettingsDecideHowARestoreStarts()
    {
        QFETCH(bool, confirm);
        m_settings->setConfirmBeforeRecover(confirm);
        const auto browser = openBrowser();
        QCOMPARE(browser->dialogFolder(),
                 QUrl::fromLocalFile(QStandardPaths::writableLocation(QStandardPaths::HomeLocation)));
        m_settings->setDefaultRecoveryPath(m_target->path());
        QCOMPARE(browser->dialogFolder(), QUrl::fromLocalFile(m_target->path()));

        browser->toggleSelected(rowNamed(*browser, u"notes.txt"_s));
        browser->toggleSelected(rowNamed(*browser, u"Photos"_s));
        browser->chooseDestination(browser->dialogFolder());
        QCOMPARE(browser->isConfirming(), confirm);
        if (confirm) {
            QCOMPARE(browser->confirmationText(), u"Recover 2 items to "_s + m_target->path() + u'?');
            browser->dismissConfirmation();
            QVERIFY(!browser->isRestoring());
            QVERIFY(QDir(m_target->path()).isEmpty());
            browser->chooseDestination(browser->dialogFolder());
            browser->confirmRestore();
        }
        QVERIFY(browser->isRestoring());
        QTRY_VERIFY(!browser->isRestoring());
        QCOMPARE(browser->restoreMessage(), u"Restored 2 items to "_s + m_target->path());
        QVERIFY(!browser->restoreFailed());
        QCOMPARE(readFile(m_target->path() + u"/Photos/a.jpg"_s), QByteArray("jpeg"));

        // Another snapshot opened after it does not claim that restore.
        browser->close();
        QVERIFY(browser->restoreMessage().isEmpty());
    }

    void aRestoreIntoTheSnapshotIsRefused()
    {
        m_settings->setConfirmBeforeRecover(false);
        const auto browser = openBrowser();
        browser->toggleSelected(rowNamed(*browser, u"notes.txt"_s));
        browser->chooseDestination(QUrl::fromLocalFile(m_kept->path() + u"/Photos"_s));
        QTRY_VERIFY(!browser->isRestoring());
        QVERIFY(browser->restoreFailed());
        QCOMPARE(QDir(m_kept->path() + u"/Photos"_s).entryList(QDir::Files).size(), 2);
    }

private:
    std::optional<QTemporaryDir> m_kept;
    std::optional<QTemporaryDir> m_live;
    std::optional<QTemporaryDir> m_target;
    std::optional<QTemporaryDir> m_store;
    std::unique_ptr<AppSettings> m_settings;
};

QTEST_GUILESS_MAIN(TestSnapshotBrowser)
#include "tst_snapshotbrowser.moc"
