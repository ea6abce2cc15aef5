#pragma once

// The screenshot tool's parts. Each screen keeps its own states in a file
// src/app/screenshot_NAME.cpp that registers them with QUORVEL_SHOTS; the
// tool runs every registered set in name order, each from the window as the
// program opens it (quorvel-screenshot FOLDER [SET...] runs only those sets).

#include <QDir>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QString>

class NavigationModel;

struct ShotContext {
    QQmlApplicationEngine &engine;
    QQuickWindow *window;
    NavigationModel *navigation;
    QDir folder;
    bool ok = true;

    // Lets animations and loaders finish.
    static void settle(int milliseconds);
    // Writes the window (or another one) to FOLDER/name; a failure is
    // reported and makes the tool exit with an error in the end.
    void save(const QString &name, QQuickWindow *other = nullptr);
    // Builds a window from QML text, for widgets shown outside the window.
    std::unique_ptr<QObject> scene(const QByteArray &qml);
};

using ShotSet = void (*)(ShotContext &);

struct ShotRegistration {
    ShotRegistration(const char *name, ShotSet set);
};

#define QUORVEL_SHOTS(name)                                                    \
    static void quorvelShots_##name(ShotContext &shots);                      \
    static const ShotRegistration quorvelShotsRegistration_##name(#name, quorvelShots_##name); \
    static void quorvelShots_##name(ShotContext &shots)
