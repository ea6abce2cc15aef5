#include <QDir>
#include <QFile>
#include <QQmlEngine>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtQml/QQmlExtensionPlugin>
#include <QtQuickTest/quicktest.h>

#include "appdelegate.h"

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

// Files for the tests, which QML can't write or read as bytes itself:
// TestFiles in "import QuorvelTest". Everything lives in one temporary
// folder that goes with the run.
class TestFiles : public QObject
{
    Q_OBJECT

public:
    // A new empty folder inside the run's folder.
    Q_INVOKABLE QString makeFolder(const QString &name)
    {
        const QString path = m_root.filePath(name);
        return QDir().mkpath(path) ? path : QString();
    }

    // Writes `fillerSize` bytes of 'U' before, between and after the given
    // files (each in hex), and returns the image's path.
    Q_INVOKABLE QString writeImage(const QString &name, const QStringList &plantsHex, int fillerSize)
    {
        const QByteArray filler(fillerSize, 'U');
        QByteArray bytes = filler;
        for (const QString &hex : plantsHex)
            bytes += QByteArray::fromHex(hex.toLatin1()) + filler;
        QFile file(m_root.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return file.fileName();
    }

    // The file names in a folder, sorted.
    Q_INVOKABLE QStringList fileNames(const QString &folder) const
    {
        return QDir(folder).entryList(QDir::Files, QDir::Name);
    }

    // A file's bytes in upper-case hex; empty when it can't be read.
    Q_INVOKABLE QString hexOf(const QString &path) const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().toHex().toUpper()) : QString();
    }

private:
    QTemporaryDir m_root;
};

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
        qmlRegisterSingletonInstance("QuorvelTest", 1, 0, "TestFiles", &m_files);
    }

private:
    TestFiles m_files;
};

QUICK_TEST_MAIN_WITH_SETUP(quorvel_qml, Setup)

#include "qmltestrunner.moc"
