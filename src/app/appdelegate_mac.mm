#include <QWindow>

#import <AppKit/AppKit.h>

// A hidden title: the title bar turns transparent, the content view extends
// beneath it and the window moves when its background is dragged. The
// system's close / minimise / zoom buttons stay where they are.
void extendContentUnderTitleBar(QWindow *window)
{
    NSView *view = reinterpret_cast<NSView *>(window->winId());
    NSWindow *nativeWindow = view.window;
    if (!nativeWindow)
        return;
    nativeWindow.styleMask |= NSWindowStyleMaskFullSizeContentView;
    nativeWindow.titlebarAppearsTransparent = YES;
    nativeWindow.titleVisibility = NSWindowTitleHidden;
    nativeWindow.movableByWindowBackground = YES;
    nativeWindow.backgroundColor = [NSColor colorWithSRGBRed:0.02 green:0.02 blue:0.08 alpha:1.0];
}
