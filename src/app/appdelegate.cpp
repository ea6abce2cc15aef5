#include "appdelegate.h"

#include <QGuiApplication>
#include <QQuickWindow>
#include <QWindow>

#include "model/palette.h"

#ifdef Q_OS_MACOS
// appdelegate_mac.mm: transparent title bar with the content beneath it.
void extendContentUnderTitleBar(QWindow *window);
#endif

void AppDelegate::identifyApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("Quorvel File Recovery"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
    QGuiApplication::setApplicationDisplayName(QCoreApplication::applicationName());
}

void AppDelegate::applicationDidFinishLaunching()
{
    const QWindowList windows = QGuiApplication::topLevelWindows();
    if (windows.isEmpty())
        return;
    QWindow *window = windows.first();
    styleWindow(window);
    window->show();
}

void AppDelegate::styleWindow(QWindow *window)
{
    if (!window)
        return;
    window->setTitle(QCoreApplication::applicationName());
    if (auto *quickWindow = qobject_cast<QQuickWindow *>(window))
        quickWindow->setColor(paletteColor(PaletteColor::backgroundDeep));
#ifdef Q_OS_MACOS
    extendContentUnderTitleBar(window);
#else
    // The title strip is drawn by the window itself; the window manager still
    // handles moving (startSystemMove), resizing and its keyboard shortcuts.
    window->setFlags(window->flags() | Qt::Window | Qt::FramelessWindowHint);
#endif
}

bool WindowChrome::drawsWindowControls()
{
#ifdef Q_OS_MACOS
    return false;
#else
    return true;
#endif
}
