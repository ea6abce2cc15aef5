#include "pipedprocess.h"

#include <QFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr qsizetype errorTextLimit = 64 * 1024;

[[maybe_unused]] bool setCloseOnExec(int fd)
{
    return ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

bool makePipe(int fds[2])
{
#ifdef __linux__
    return ::pipe2(fds, O_CLOEXEC) == 0;
#else
    return ::pipe(fds) == 0 && setCloseOnExec(fds[0]) && setCloseOnExec(fds[1]);
#endif
}

bool makeSocketPair(int fds[2])
{
#ifdef SOCK_CLOEXEC
    return ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0;
#else
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return false;
    const int on = 1;
    ::setsockopt(fds[0], SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
    return setCloseOnExec(fds[0]) && setCloseOnExec(fds[1]);
#endif
}

void closeAll(std::initializer_list<int> fds)
{
    for (const int fd : fds) {
        if (fd >= 0)
            ::close(fd);
    }
}

} // namespace

std::unique_ptr<PipedProcess> PipedProcess::start(const QString &program, const QStringList &arguments, QString *error,
                                                 int errorFd)
{
    const auto fail = [error](int number) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(number));
        return nullptr;
    };
    int input[2] = {-1, -1};
    int output[2] = {-1, -1};
    int errors[2] = {-1, -1};
    if (!makeSocketPair(input))
        return fail(errno);
    if (!makePipe(output) || !makePipe(errors)) {
        const int saved = errno;
        closeAll({input[0], input[1], output[0], output[1], errors[0], errors[1]});
        return fail(saved);
    }
#ifdef F_SETPIPE_SZ
    // 1 MiB is the most an unprivileged process may ask for by default; a
    // refusal only costs speed.
    ::fcntl(output[0], F_SETPIPE_SZ, 1 << 20);
#endif
    ::fcntl(errors[0], F_SETFL, ::fcntl(errors[0], F_GETFL) | O_NONBLOCK);

    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> storage;
    storage.reserve(std::size_t(arguments.size()) + 1);
    storage.push_back(path);
    for (const QString &argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errorFd >= 0 ? errorFd : errors[1], STDERR_FILENO);
    // The worker thread that starts the child may block signals, and the
    // program may ignore SIGPIPE; the child must see a broken pipe end it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int failure = ::posix_spawn(&pid, path.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    closeAll({input[1], output[1], errors[1]});
    if (failure != 0) {
        closeAll({input[0], output[0], errors[0]});
        return fail(failure);
    }

    std::unique_ptr<PipedProcess> process(new PipedProcess);
    process->m_pid = pid;
    process->m_input = input[0];
    process->m_output = output[0];
    process->m_error = errors[0];
    return process;
}

PipedProcess::~PipedProcess()
{
    closeInput();
    closeAll({m_output, m_error});
    if (m_exitStatus || m_pid <= 0)
        return;
    if (waitForExit(200))
        return;
    // Still asking for the password (pkexec runs as this user until then),
    // or a root child stuck in a read: the first ends on the signal, the
    // second can't be signalled and ends when its read returns and finds
    // the pipes closed.
    ::kill(pid_t(m_pid), SIGTERM);
    if (waitForExit(300))
        return;
    std::thread([pid = pid_t(m_pid)] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

bool PipedProcess::send(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size() && m_input >= 0) {
#ifdef MSG_NOSIGNAL
        const ssize_t wrote = ::send(m_input, bytes.constData() + done, std::size_t(bytes.size() - done), MSG_NOSIGNAL);
#else
        const ssize_t wrote = ::send(m_input, bytes.constData() + done, std::size_t(bytes.size() - done), 0);
#endif
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += wrote;
    }
    return done == bytes.size();
}

void PipedProcess::closeInput()
{
    if (m_input >= 0) {
        ::close(m_input);
        m_input = -1;
    }
}

std::optional<int> PipedProcess::waitForExit(int milliseconds)
{
    if (m_exitStatus || m_pid <= 0)
        return m_exitStatus;
    for (int waited = 0;; waited += 5) {
        int status = 0;
        const pid_t done = ::waitpid(pid_t(m_pid), &status, WNOHANG);
        if (done == pid_t(m_pid)) {
            m_exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return m_exitStatus;
        }
        if (done < 0 && errno != EINTR) {
            // Reaped elsewhere (SIGCHLD ignored): it has ended, status unknown.
            m_exitStatus = -1;
            return m_exitStatus;
        }
        if (waited >= milliseconds)
            return std::nullopt;
        QThread::msleep(5);
    }
}

void PipedProcess::drainErrorOutput()
{
    char buffer[4096];
    while (m_error >= 0) {
        const ssize_t got = ::read(m_error, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return;
        if (m_errorText.size() < errorTextLimit)
            m_errorText.append(buffer, std::min<qsizetype>(got, errorTextLimit - m_errorText.size()));
    }
}

QByteArray PipedProcess::errorOutput()
{
    drainErrorOutput();
    return m_errorText;
}
