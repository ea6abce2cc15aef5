#include "fakeplatform.h"

#include "system/detachedprocess.h"

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

FakePlatform::FakePlatform(PlatformKind kind, std::shared_ptr<CommandRunner> runner)
    : Platform(runner)
    , admin(runner)
    , m_real(makePlatform(kind, ToolPaths::defaultsFor(kind), runner))
{
}
