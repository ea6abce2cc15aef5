#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "system/appsettings.h"

class TestAppSettings : public QObject
{
    Q_OBJECT

    std::unique_ptr<AppSettings> open() const
    {
        return std::make_unique<AppSettings>(
            std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat));
    }

private Q_SLOTS:
    void init() { QFile::remove(m_dir.filePath(QStringLiteral("settings.ini"))); }

    void aFreshStoreHasTheDefaults()
    {
        const auto settings = open();
        QCOMPARE(settings->defaultRecoveryPath(), QString());
        QCOMPARE(settings->showHiddenFiles(), false);
        QCOMPARE(settings->confirmBeforeRecover(), true);
        QCOMPARE(settings->maxCarvingFileSize(), 100);
    }

    // Every change is on disk at once: a second object over the same store
    // (a restarted program) sees it.
    void changesAreKeptAtOnce()
    {
        {
            const auto settings = open();
            QSignalSpy changed(settings.get(), &AppSettings::confirmBeforeRecoverChanged);
            settings->setDefaultRecoveryPath(QStringLiteral("/home/u/Rescue"));
            settings->setShowHiddenFiles(true);
            settings->setConfirmBeforeRecover(false);
            settings->setConfirmBeforeRecover(false);
            settings->setMaxCarvingFileSize(1000);
            QCOMPARE(changed.size(), 1);
        }
        const auto reopened = open();
        QCOMPARE(reopened->defaultRecoveryPath(), QStringLiteral("/home/u/Rescue"));
        QCOMPARE(reopened->showHiddenFiles(), true);
        QCOMPARE(reopened->confirmBeforeRecover(), false);
        QCOMPARE(reopened->maxCarvingFileSize(), 1000);
    }

    void fileSizeStaysOnTheSlidersSteps_data()
    {
        QTest::addColumn<int>("given");
        QTest::addColumn<int>("kept");
        QTest::addRow("lowest") << 10 << 10;
        QTest::addRow("below the range") << 0 << 10;
        QTest::addRow("above the range") << 5000 << 1000;
        QTest::addRow("between steps") << 234 << 230;
    }
    void fileSizeStaysOnTheSlidersSteps()
    {
        QFETCH(int, given);
        const auto settings = open();
        settings->setMaxCarvingFileSize(given);
        QTEST(settings->maxCarvingFileSize(), "kept");
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "tst_appsettings.moc"
