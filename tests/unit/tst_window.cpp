#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QMetaProperty>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/QQmlExtensionPlugin>

#include "appdelegate.h"
#include "formatting.h"
#include "model/palette.h"
#include "palettebridge.h"

Q_IMPORT_QML_PLUGIN(QuorvelPlugin)

namespace {
QStringList capturedMessages;

void captureMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        capturedMessages.append(message);
}
// MainView in a shown window, styled as at start-up.
QQuickWindow *showMainView(QQmlApplicationEngine &engine)
{
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/Quorvel/MainView.qml")));
    auto *window = engine.rootObjects().size() == 1 ? qobject_cast<QQuickWindow *>(engine.rootObjects().first()) : nullptr;
    if (!window)
        return nullptr;
    AppDelegate().applicationDidFinishLaunching();
    return QTest::qWaitForWindowExposed(window) ? window : nullptr;
}
} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void percentTruncates_data();
    void percentTruncates();
    void gridLines_data();
    void gridLines();
    void gridLinesDoNotDrift();
    void qmlPaletteIsTheCorePalette();
    void monospacedFamilyIsFixedPitch();
    void delegateWithoutWindowCarriesOn();
    void delegateStylesTheFirstWindow();
    void mainViewLoadsWithoutWarnings();
    void doubleClickOnTitleStripZooms();
};

void WindowTest::percentTruncates_data()
{
    QTest::addColumn<double>("fraction");
    QTest::addColumn<QString>("text");
    // 0.29 * 100 is 28.999... in floating point.
    QTest::addRow("0.29") << 0.29 << "29%";
    QTest::addRow("0.9999 truncates") << 0.9999 << "99%";
    QTest::addRow("1") << 1.0 << "100%";
    QTest::addRow("nan") << std::nan("") << "0%";
}

void WindowTest::percentTruncates()
{
    QFETCH(double, fraction);
    QTEST(percentText(fraction), "text");
}

void WindowTest::gridLines_data()
{
    QTest::addColumn<qreal>("length");
    QTest::addColumn<QList<qreal>>("positions");
    QTest::addRow("zero") << 0.0 << QList<qreal>{};
    QTest::addRow("60 stops before 60") << 60.0 << QList<qreal>{0, 30};
    QTest::addRow("60.5 includes 60") << 60.5 << QList<qreal>{0, 30, 60};
    QTest::addRow("negative") << -10.0 << QList<qreal>{};
}

void WindowTest::gridLines()
{
    QFETCH(qreal, length);
    QTEST(gridLinePositions(length), "positions");
}

void WindowTest::gridLinesDoNotDrift()
{
    const QList<qreal> positions = gridLinePositions(30000.0, 0.1);
    QCOMPARE(positions.size(), 300000);
    for (qsizetype i = 0; i < positions.size(); i += 997)
        QCOMPARE(positions.at(i), static_cast<qreal>(i) * 0.1);
}

void WindowTest::qmlPaletteIsTheCorePalette()
{
    PaletteBridge bridge;
    for (int i = 0; i < paletteColorCount; ++i) {
        const auto entry = static_cast<PaletteColor>(i);
        const QByteArray name = paletteName(entry).toLatin1();
        QCOMPARE(bridge.property(name.constData()).value<QColor>(), paletteColor(entry));
        QCOMPARE(bridge.named(paletteName(entry)), paletteColor(entry));
    }
    // Exactly the fourteen colours, nothing else published.
    QCOMPARE(bridge.metaObject()->propertyCount() - bridge.metaObject()->propertyOffset(), paletteColorCount);
}

void WindowTest::monospacedFamilyIsFixedPitch()
{
    const QString family = ThemeFonts::monospacedFamily();
    QVERIFY(!family.isEmpty());
    QVERIFY2(QFontInfo(QFont(family)).fixedPitch(), qPrintable(family));
    if (QFontDatabase::hasFamily(QStringLiteral("JetBrains Mono")))
        QCOMPARE(family, QStringLiteral("JetBrains Mono"));
}

void WindowTest::delegateWithoutWindowCarriesOn()
{
    QVERIFY(QGuiApplication::topLevelWindows().isEmpty());
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    QVERIFY(QGuiApplication::topLevelWindows().isEmpty());
}

void WindowTest::delegateStylesTheFirstWindow()
{
    AppDelegate::identifyApplication();
    QQuickWindow window;
    AppDelegate().applicationDidFinishLaunching();
    QCOMPARE(window.color(), paletteColor(PaletteColor::backgroundDeep));
    QCOMPARE(window.title(), QStringLiteral("Quorvel File Recovery"));
    QCOMPARE(window.flags().testFlag(Qt::FramelessWindowHint), WindowChrome::drawsWindowControls());
    QVERIFY(window.isVisible());
}

void WindowTest::mainViewLoadsWithoutWarnings()
{
    capturedMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    {
        QQmlApplicationEngine engine;
        QQuickWindow *window = showMainView(engine);
        QVERIFY(window);
        QCOMPARE(window->minimumSize(), QSize(1000, 650));
        const QImage frame = window->grabWindow();
        QVERIFY(!frame.isNull());
        // The background is backgroundDeep, seen at a point without content.
        QCOMPARE(frame.pixelColor(frame.width() - 3, frame.height() - 3).rgb(),
                 paletteColor(PaletteColor::backgroundDeep).rgb());
    }
    qInstallMessageHandler(previous);
    QVERIFY2(capturedMessages.isEmpty(), qPrintable(capturedMessages.join(QLatin1Char('\n'))));
}

void WindowTest::doubleClickOnTitleStripZooms()
{
    // QML tests cannot double-click: QtQuickTest spaces its clicks wider than
    // the double-click interval. QTest::mouseDClick sends a real pair.
    QQmlApplicationEngine engine;
    QQuickWindow *window = showMainView(engine);
    QVERIFY(window);
    auto *strip = window->findChild<QQuickItem *>(QStringLiteral("titleStrip"));
    QVERIFY(strip);
    const QPoint middle = strip->mapToScene(QPointF(strip->width() / 2, strip->height() / 2)).toPoint();

    QTest::mouseDClick(window, Qt::LeftButton, {}, middle);
    QTRY_COMPARE(window->visibility(), QWindow::Maximized);
    QTest::mouseDClick(window, Qt::LeftButton, {}, middle);
    QTRY_COMPARE(window->visibility(), QWindow::Windowed);
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
