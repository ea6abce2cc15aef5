// Renders the window into PNG files, one per state worth looking at:
//   quorvel-screenshot FOLDER
// Each sidebar destination, a hovered row, the About sheet and the progress
// indicator (at 0.42 and without progress). Run it under a display, e.g.
// xvfb-run (scripts/screenshot), or with QT_QPA_PLATFORM=offscreen, where the
// software renderer leaves out glows and gradients.

#include <QDir>
#include <QEventLoop>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTimer>
#include <QtQml/QQmlExtensionPlugin>

#include <cstdio>
#include <memory>

#include "appdelegate.h"
#include "navigationmodel.h"

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

using namespace Qt::Literals::StringLiterals;

namespace {
void settle(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool save(QQuickWindow *window, const QDir &folder, const QString &name)
{
    const QString path = folder.filePath(name);
    const QImage image = window->grabWindow();
    if (image.isNull() || !image.save(path)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

const char progressScene[] = R"(
import QtQuick
import Quorvel
Window {
    width: 440; height: 240; visible: true
    color: Theme.backgroundDeep
    GridPatternView { anchors.fill: parent; opacity: 0.03 }
    Row {
        anchors.centerIn: parent
        spacing: 80
        ScanProgressView { width: 140; height: 140; progress: 0.42; color: Theme.neonBlue }
        ScanProgressView { width: 140; height: 140; color: Theme.neonBlue }
    }
}
)";
} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    AppDelegate::identifyApplication();
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(u"."_s)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QUICK_CONTROLS_STYLE"))
        QQuickStyle::setStyle(u"Basic"_s);

    QQmlApplicationEngine engine;
    engine.addImportPath(u"qrc:/qt/qml"_s);
    engine.load(QUrl(u"qrc:/qt/qml/Quorvel/MainView.qml"_s));
    if (engine.rootObjects().isEmpty())
        return 1;
    AppDelegate().applicationDidFinishLaunching();
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    auto *navigation = window->findChild<NavigationModel *>(u"navigation"_s);
    if (!navigation)
        return 1;
    settle(1200);

    bool ok = true;
    const struct {
        NavigationItem item;
        const char *file;
    } destinations[] = {
        {NavigationItem::trashRecovery, "1-trash-recovery.png"},
        {NavigationItem::snapshotRecovery, "2-snapshots.png"},
        {NavigationItem::deepScan, "3-deep-scan.png"},
        {NavigationItem::settings, "4-settings.png"},
    };
    for (const auto &destination : destinations) {
        navigation->setSelectedNav(destination.item);
        settle(500);
        ok &= save(window, folder, QString::fromLatin1(destination.file));
    }

    navigation->setSelectedNav(NavigationItem::trashRecovery);
    navigation->hoverEntered(static_cast<int>(NavigationItem::deepScan));
    settle(500);
    ok &= save(window, folder, u"5-hovered-row.png"_s);
    navigation->hoverExited(static_cast<int>(NavigationItem::deepScan));

    navigation->setShowingAbout(true);
    settle(600);
    ok &= save(window, folder, u"6-about.png"_s);
    navigation->setShowingAbout(false);
    settle(300);

    QQmlComponent component(&engine);
    component.setData(progressScene, QUrl(u"qrc:/screenshot/progress.qml"_s));
    std::unique_ptr<QObject> scene(component.create());
    auto *progressWindow = qobject_cast<QQuickWindow *>(scene.get());
    if (!progressWindow) {
        std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
        return 1;
    }
    settle(900);
    ok &= save(progressWindow, folder, u"7-progress.png"_s);
    return ok ? 0 : 1;
}
