#include "fakeplatform.h"

#include "system/detachedprocess.h"
#include "system/pipedprocess.h"

ToolResult RecordingAdministrator::runShell(const QString &command, StreamMode mode)
{
    shellCommands.append(command);
    if (refuse) {
        ToolResult result;
        result.launched = true;
        result.output = QString();
        result.exitStatus = 126;
        return result;
    }
    return m_runner->run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command}, mode);
}

std::unique_ptr<DetachedAdministratorRun> RecordingAdministrator::startDetached(const QString &scriptPath,
                                                                                const QStringList &arguments,
                                                                                QString *error)
{
    detachedArguments.append(arguments);
    if (refuse) {
        if (error)
            *error = QStringLiteral("Request dismissed");
        return nullptr;
    }
    return startDetachedProcess(QStringLiteral("/bin/bash"), QStringList{scriptPath} + arguments, error);
}

std::unique_ptr<PipedProcess> RecordingAdministrator::startPiped(const QString &program, const QStringList &arguments,
                                                               int errorFd, QString *error)
{
    pipedRuns.append(QStringList{program} + arguments);
    // A dismissed dialog: pkexec ends with 126 and the program never runs.
    if (refuse)
        return PipedProcess::start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exit 126")}, error);
    return PipedProcess::start(program, arguments, error, errorFd);
}

FakePlatform::FakePlatform(PlatformKind kind, std::shared_ptr<CommandRunner> runner)
    : Platform(runner)
    , admin(runner, kind)
    , m_real(makePlatform(kind, ToolPaths::defaultsFor(kind), runner))
{
}
