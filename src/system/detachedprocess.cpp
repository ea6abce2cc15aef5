#include "detachedprocess.h"

#include <QProcess>

namespace {

class ProcessRun final : public DetachedAdministratorRun
{
public:
    explicit ProcessRun(std::unique_ptr<QProcess> process) : m_process(std::move(process)) {}

    ~ProcessRun() override
    {
        // QProcess's own destructor kills and then waits up to 30 s. A root
        // child we may not signal ends by its own protocol (its work folder
        // is gone); waiting here keeps it from becoming a zombie.
        if (m_process->state() != QProcess::NotRunning) {
            m_process->terminate();
            m_process->waitForFinished(3000);
        }
    }

    bool isRunning() override
    {
        // Without an event loop, the state only changes inside a wait call.
        if (m_process->state() == QProcess::NotRunning)
            return false;
        m_process->waitForFinished(0);
        return m_process->state() != QProcess::NotRunning;
    }

    void terminate() override
    {
        if (m_process->state() == QProcess::NotRunning)
            return;
        m_process->terminate();
        if (!m_process->waitForFinished(1000))
            m_process->kill();
    }

private:
    std::unique_ptr<QProcess> m_process;
};

} // namespace

std::unique_ptr<DetachedAdministratorRun> startDetachedProcess(const QString &program,
                                                               const QStringList &arguments,
                                                               QString *error)
{
    auto process = std::make_unique<QProcess>();
    process->setProgram(program);
    process->setArguments(arguments);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start();
    if (!process->waitForStarted(-1)) {
        if (error)
            *error = process->errorString();
        return nullptr;
    }
    return std::make_unique<ProcessRun>(std::move(process));
}
