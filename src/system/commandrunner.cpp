#include "commandrunner.h"

#include "system/pipedprocess.h"

#include <QProcess>
#include <QStringDecoder>

namespace {

void attachStreams(QProcess &process, StreamMode mode)
{
    // A tool that reads standard input must see end of file rather than wait
    // for a terminal that is not there.
    process.setStandardInputFile(QProcess::nullDevice());
    switch (mode) {
    case StreamMode::combined:
        process.setProcessChannelMode(QProcess::MergedChannels);
        break;
    case StreamMode::outputOnly:
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.setStandardErrorFile(QProcess::nullDevice());
        break;
    case StreamMode::discardAll:
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        break;
    }
}

class ProcessRunner final : public CommandRunner
{
public:
    RawToolResult runRaw(const QString &path, const QStringList &arguments, StreamMode mode) override;
};

} // namespace

RawToolResult ProcessRunner::runRaw(const QString &path, const QStringList &arguments, StreamMode mode)
{
    RawToolResult result;
    QProcess process;
    process.setProgram(path);
    process.setArguments(arguments);
    attachStreams(process, mode);
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(-1)) {
        result.startError = process.errorString();
        return result;
    }
    result.launched = true;

    // Drain the pipe while the child runs: a tool that prints more than the
    // pipe buffer holds would otherwise block on write and never exit.
    if (mode != StreamMode::discardAll) {
        while (process.waitForReadyRead(-1))
            result.output += process.readAllStandardOutput();
    }
    process.waitForFinished(-1);
    if (mode != StreamMode::discardAll)
        result.output += process.readAllStandardOutput();

    // A child killed by a signal has no exit code of its own; callers only
    // need to see that it did not succeed.
    result.exitStatus = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    // Stateless, so a sequence cut off at the end counts as an error instead
    // of being held back for a next chunk that never comes; the BOM is kept
    // as text because a tool's output is not a file with a header.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

std::shared_ptr<CommandRunner> CommandRunner::processes()
{
    static const std::shared_ptr<CommandRunner> runner = std::make_shared<ProcessRunner>();
    return runner;
}

ToolResult CommandRunner::run(const QString &path, const QStringList &arguments, StreamMode mode)
{
    return decodedResult(runRaw(path, arguments, mode));
}

ToolResult decodedResult(const RawToolResult &raw)
{
    ToolResult result;
    result.launched = raw.launched;
    result.startError = raw.startError;
    if (!raw.launched)
        return result;
    result.exitStatus = raw.exitStatus;
    result.output = decodeUtf8(raw.output);
    return result;
}

QString shellQuoted(const QString &path)
{
    QString quoted = path;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return quoted;
}

std::unique_ptr<PipedProcess> AdministratorLauncher::startPiped(const QString &, const QStringList &, int, QString *error)
{
    if (error)
        *error = QStringLiteral("This system offers no piped administrator run.");
    return nullptr;
}
