#pragma once

#include <QString>
#include <QStringList>

#include <memory>

#include "system/commandrunner.h"

// Starts `program arguments...` with every stream on the null device and
// returns at once; the caller polls and may terminate. The QProcess stays
// owned by the returned object (not QProcess::startDetached): pkexec checks
// that its parent is alive and is the process that asked, which a
// double-forked child would not satisfy. Null with the reason in `error`
// when the program can't be started.
std::unique_ptr<DetachedAdministratorRun> startDetachedProcess(const QString &program,
                                                               const QStringList &arguments,
                                                               QString *error);
