#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

class QWindow;

// Finishes launching: styles the application's first window and puts it on
// screen. The window hides the system title bar and draws its own title strip,
// so it is frameless on Linux; on macOS the system keeps its window buttons
// over a transparent title bar that the content extends under.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Names the program on the application object, the one place the window,
    // the About sheet and the settings store take its name and version from.
    static void identifyApplication();

    // Called once when the main window has been created. Without any window
    // it does nothing; launching goes on without styling and without error.
    void applicationDidFinishLaunching();

    // The styling alone: hidden title bar, backgroundDeep behind everything,
    // the program's title for the task bar.
    static void styleWindow(QWindow *window);
};

// What the QML window needs to know about the frame it draws.
class WindowChrome : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    // Whether the title strip draws close / minimise / zoom itself (not on
    // macOS, where the system's buttons occupy that space).
    Q_PROPERTY(bool drawsWindowControls READ drawsWindowControls CONSTANT)
    // Width kept free at the leading edge of the title strip for those buttons.
    Q_PROPERTY(qreal controlsInset READ controlsInset CONSTANT)
    // Width of the band along the edges that resizes the window.
    Q_PROPERTY(qreal resizeMargin READ resizeMargin CONSTANT)

public:
    using QObject::QObject;

    static bool drawsWindowControls();
    static qreal controlsInset() { return 70.0; }
    static qreal resizeMargin() { return 5.0; }
};
