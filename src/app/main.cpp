#include <QCoreApplication>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QUrl>
#include <QtQml/QQmlExtensionPlugin>

#include "appdelegate.h"

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

using namespace Qt::Literals::StringLiterals;

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    AppDelegate::identifyApplication();
    // The window draws every control itself; Basic keeps the few stock
    // controls (the About sheet's popup) free of a desktop style.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_CONTROLS_STYLE"))
        QQuickStyle::setStyle(u"Basic"_s);

    QQmlApplicationEngine engine;
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app, [] { QCoreApplication::exit(1); },
        Qt::QueuedConnection);
    engine.addImportPath(u"qrc:/qt/qml"_s);
    engine.load(QUrl(u"qrc:/qt/qml/Quorvel/MainView.qml"_s));

    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    return QGuiApplication::exec();
}
