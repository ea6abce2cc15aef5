// Renders the window into PNG files, one per state worth looking at:
//   quorvel-screenshot FOLDER [SET...]
// Run it under a display, e.g. xvfb-run (scripts/screenshot), or with
// QT_QPA_PLATFORM=offscreen, where the software renderer leaves out glows
// and gradients. The states live in screenshot_*.cpp beside this file.

#include "screenshot.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQuickStyle>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtQml/QQmlExtensionPlugin>

#include <cstdio>
#include <map>
#include <memory>

#include "appdelegate.h"
#include "navigationmodel.h"

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

using namespace Qt::Literals::StringLiterals;

namespace {
std::map<QString, ShotSet> &registeredSets()
{
    static std::map<QString, ShotSet> sets;
    return sets;
}
} // namespace

ShotRegistration::ShotRegistration(const char *name, ShotSet set)
{
    registeredSets()[QString::fromLatin1(name)] = set;
}

void ShotContext::settle(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void ShotContext::save(const QString &name, QQuickWindow *other)
{
    const QString path = folder.filePath(name);
    const QImage image = (other ? other : window)->grabWindow();
    if (image.isNull() || !image.save(path)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        ok = false;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

std::unique_ptr<QObject> ShotContext::scene(const QByteArray &qml)
{
    QQmlComponent component(&engine);
    component.setData(qml, QUrl(u"qrc:/screenshot/scene.qml"_s));
    std::unique_ptr<QObject> created(component.create());
    if (!created) {
        std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
        ok = false;
    }
    return created;
}

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    AppDelegate::identifyApplication();
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [SET...]\n", argv[0]);
        return 2;
    }
    QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(u"."_s)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    QStringList chosen;
    for (int i = 2; i < argc; ++i)
        chosen.append(QString::fromLocal8Bit(argv[i]));
    // Screens show and change preferences; the user's own must stay as
    // they are, so the tool keeps a store of its own for the run.
    const QTemporaryDir settingsFolder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsFolder.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder.path());
    if (qEnvironmentVariableIsEmpty("QT_QUICK_CONTROLS_STYLE"))
        QQuickStyle::setStyle(u"Basic"_s);

    bool ok = true;
    for (const auto &[name, set] : registeredSets()) {
        if (!chosen.isEmpty() && !chosen.contains(name))
            continue;
        // Each set starts from the window as the program opens it.
        QQmlApplicationEngine engine;
        engine.addImportPath(u"qrc:/qt/qml"_s);
        engine.load(QUrl(u"qrc:/qt/qml/Quorvel/MainView.qml"_s));
        if (engine.rootObjects().isEmpty())
            return 1;
        AppDelegate().applicationDidFinishLaunching();
        auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
        auto *navigation = window ? window->findChild<NavigationModel *>(u"navigation"_s) : nullptr;
        if (!navigation)
            return 1;
        ShotContext::settle(1200);
        ShotContext shots{engine, window, navigation, folder};
        set(shots);
        ok &= shots.ok;
    }
    return ok ? 0 : 1;
}
