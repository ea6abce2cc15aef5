#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class PipedProcess;

// How a child process's output streams are attached.
enum class StreamMode {
    combined,    // standard output and error into one captured stream
    outputOnly,  // standard output captured, standard error discarded
    discardAll,  // both to the null device; nothing captured
};

// The result of one finished run.
struct ToolResult {
    bool launched = false;
    std::optional<QString> output;     // absent when not started or not valid UTF-8
    int exitStatus = 0;                // meaningful only when launched
    std::optional<QString> startError; // the platform's reason, when not launched
};

// The result of a run with the captured bytes undecoded, for callers that must
// look at the raw stream before deciding what it means (the elevation marker).
struct RawToolResult {
    bool launched = false;
    QByteArray output;
    int exitStatus = 0;
    std::optional<QString> startError;
};

// Runs programs as child processes. Everything that starts a tool goes
// through one of these, handed to it by whoever made it, so that tests can
// hand in a runner that answers with captured output.
class CommandRunner
{
public:
    virtual ~CommandRunner() = default;

    // Runs the executable at `path` with `arguments` (no shell, same working
    // folder and environment), waits for it to exit and returns what it
    // printed. Blocks the calling thread; never call it on the GUI thread.
    virtual RawToolResult runRaw(const QString &path, const QStringList &arguments, StreamMode mode) = 0;

    // The same run with the output decoded as strict UTF-8.
    ToolResult run(const QString &path, const QStringList &arguments, StreamMode mode);

    // The runner that starts real processes; it keeps no state, so one is
    // shared by everyone.
    static std::shared_ptr<CommandRunner> processes();
};

// A raw result with its output decoded as strict UTF-8.
ToolResult decodedResult(const RawToolResult &raw);

// Strict UTF-8: absent when any byte sequence is invalid or cut short.
std::optional<QString> decodeUtf8(const QByteArray &bytes);

// A path as it goes between single quotes in shell text: every ' becomes '\''.
QString shellQuoted(const QString &path);

// One root helper started without waiting for it.
class DetachedAdministratorRun
{
public:
    virtual ~DetachedAdministratorRun() = default;
    // Whether the process still runs.
    virtual bool isRunning() = 0;
    // Best effort: an unprivileged program can't signal a root process on
    // every platform, so helpers also stop by their own protocol.
    virtual void terminate() = 0;
};

// Runs commands with administrator rights, behind the platform's own password
// dialog. Each platform backend supplies one; tests supply one that runs the
// commands without elevation.
class AdministratorLauncher
{
public:
    virtual ~AdministratorLauncher() = default;

    // Runs shell text as root and waits; a dismissed or refused password
    // dialog gives no output and a non-zero status.
    virtual ToolResult runShell(const QString &command, StreamMode mode) = 0;

    // Starts `bash scriptPath arguments...` as root without waiting. Returns
    // null with a reason in `error` when the process can't be started.
    virtual std::unique_ptr<DetachedAdministratorRun> startDetached(const QString &scriptPath,
                                                                    const QStringList &arguments,
                                                                    QString *error) = 0;

    // Whether startPiped() is offered. Where it isn't (osascript hands back a
    // command's output only once it has ended), long root work goes through
    // startDetached() and files instead.
    virtual bool canStartPiped() const { return false; }

    // Starts `program arguments...` (an absolute path) as root, talking to
    // this process over its standard input and output, and returns at once:
    // the password dialog may still be open. `errorFd`, when not -1, is the
    // child's standard error (a file both sides share) instead of a pipe. A
    // dismissed or refused dialog shows as a child that ends without printing
    // anything, with status 126 for dismissed. Null with a reason in `error`
    // when nothing could be started. The default offers nothing.
    virtual std::unique_ptr<PipedProcess> startPiped(const QString &program, const QStringList &arguments, int errorFd,
                                                     QString *error);
};

// Makes a launcher for one administrator run. Work keeps a factory rather than
// a launcher when it runs on whatever thread comes later (saving): each call
// gives an object that thread may use.
using AdministratorLauncherFactory = std::function<std::unique_ptr<AdministratorLauncher>()>;
