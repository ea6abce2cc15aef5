#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// A child process that this process talks to over its standard input and
// output, for helpers that serve requests for as long as they run (the root
// reader of a raw scan).
//
// The child's standard input is one end of a socket pair: writing to it
// never raises SIGPIPE here when the child is gone, it fails instead. Its
// standard output is a pipe, enlarged so that large answers stream without
// a wake-up per page. Standard error is kept (the first 64 KiB) for the
// reason of a failed start. Every descriptor this side holds is close-on-exec,
// so no other child inherits an end and keeps the helper's input open: when
// this object goes away, or the whole program dies, the child reads end of
// file on its input, which is how it knows to stop. That matters because a
// helper running as root can't be signalled by an unprivileged program.
class PipedProcess
{
public:
    // Starts `program arguments...` (an absolute path; no shell, no PATH
    // lookup). `errorFd`, when not -1, becomes the child's standard error in
    // place of a pipe (errorOutput() is then empty); the caller keeps it.
    // Null with the reason in `error` when it can't be started.
    static std::unique_ptr<PipedProcess> start(const QString &program, const QStringList &arguments, QString *error,
                                               int errorFd = -1);

    // Closes this side's ends and reaps the child: it is waited for briefly,
    // then a background thread waits for it so that it never stays a zombie.
    ~PipedProcess();

    PipedProcess(const PipedProcess &) = delete;
    PipedProcess &operator=(const PipedProcess &) = delete;

    qint64 processId() const { return m_pid; }
    // The child's standard input (write requests here) and standard output
    // (read answers here); -1 once closed.
    int inputFd() const { return m_input; }
    int outputFd() const { return m_output; }

    // Writes all of `bytes` to the child's input; false when it is gone.
    bool send(const QByteArray &bytes);
    // Closes the child's input: a helper that serves requests then ends.
    void closeInput();

    // The exit status once the child has ended (-1 when a signal ended it),
    // waiting up to `milliseconds`; nullopt while it still runs.
    std::optional<int> waitForExit(int milliseconds);
    // What the child wrote to standard error so far.
    QByteArray errorOutput();

private:
    PipedProcess() = default;
    void drainErrorOutput();

    qint64 m_pid = -1;
    int m_input = -1;
    int m_output = -1;
    int m_error = -1;
    QByteArray m_errorText;
    std::optional<int> m_exitStatus;
};
