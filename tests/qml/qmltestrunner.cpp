#include <QQmlEngine>
#include <QStandardPaths>
#include <QtQml/QQmlExtensionPlugin>
#include <QtQuickTest/quicktest.h>

#include "appdelegate.h"

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

// Makes the program's QML module importable ("import Quorvel") in the tests.
class Setup : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void applicationAvailable()
    {
        AppDelegate::identifyApplication();
        // Settings and data the screens write go to a test location, never
        // to the preferences of whoever runs the tests.
        QStandardPaths::setTestModeEnabled(true);
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
    }
};

QUICK_TEST_MAIN_WITH_SETUP(quorvel_qml, Setup)

#include "qmltestrunner.moc"
