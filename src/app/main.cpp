#include <QGuiApplication>
#include <QQuickWindow>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QQuickWindow window;
    window.setTitle(QStringLiteral("Quorvel File Recovery"));
    window.resize(1200, 800);
    window.show();
    return app.exec();
}
