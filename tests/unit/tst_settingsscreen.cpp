#include <QSignalSpy>
#include <QTest>

#include "helpers/fakeplatform.h"
#include "system/settingsscreen.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// A system whose answer about raw access the test changes, as a user does
// by granting it in the system's settings while the program runs.
class AccessPlatform final : public FakePlatform
{
public:
    using FakePlatform::FakePlatform;
    bool hasFullDiskAccess() const override { return granted; }
    bool granted = false;
};

} // namespace

class TestSettingsScreen : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void accessIsCheckedAgainEachTime()
    {
        auto platform = std::make_shared<AccessPlatform>();
        SettingsScreen screen(platform);
        screen.checkAccess();
        QVERIFY(screen.isCheckingAccess());
        QTRY_VERIFY(!screen.isCheckingAccess());
        QVERIFY(!screen.hasFullDiskAccess());

        platform->granted = true;
        screen.checkAccess();
        QTRY_VERIFY(screen.hasFullDiskAccess());
    }

    void eachSystemSaysHowAccessIsGranted_data()
    {
        QTest::addColumn<PlatformKind>("kind");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("hasSettingsPage");
        QTest::addRow("macOS") << PlatformKind::macOS << u"Full Disk Access"_s << true;
        QTest::addRow("Linux") << PlatformKind::gnuLinux << u"Raw Disk Access"_s << false;
    }
    void eachSystemSaysHowAccessIsGranted()
    {
        QFETCH(PlatformKind, kind);
        QFETCH(bool, hasSettingsPage);
        SettingsScreen screen(std::make_shared<FakePlatform>(kind));
        QTEST(screen.accessTitle(), "title");
        QCOMPARE(screen.canOpenSystemSettings(), hasSettingsPage);
        // Without a page to open, the row says how to get the access instead.
        QCOMPARE(screen.rawDeviceAccessNote().isEmpty(), hasSettingsPage);
    }

    void thePathRow_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("name");
        QTest::addRow("not chosen") << QString() << u"Not set"_s << u"Choose..."_s;
        QTest::addRow("chosen") << u"/Users/u/Rescue"_s << u"/Users/u/Rescue"_s << u"Rescue"_s;
        QTest::addRow("trailing slash") << u"/home/u/Rescue/"_s << u"/home/u/Rescue/"_s << u"Rescue"_s;
        QTest::addRow("the root") << u"/"_s << u"/"_s << u"/"_s;
    }
    void thePathRow()
    {
        QFETCH(QString, path);
        QTEST(SettingsScreen::pathLine(path), "line");
        QTEST(SettingsScreen::folderName(path), "name");
    }
};

QTEST_GUILESS_MAIN(TestSettingsScreen)
#include "tst_settingsscreen.moc"
