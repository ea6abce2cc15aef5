#include "rootreader.h"

#include <QFile>
#include <QMutexLocker>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "carving/directscan.h"
#include "system/pipedprocess.h"

namespace {

// Requests are capped by the reader too; larger reads come back in parts.
constexpr qint64 largestRequest = 64 * 1024 * 1024;
// How often a waiting thread looks at the cancel flag.
constexpr int cancelCheckMilliseconds = 100;
// Readers started for saving end by themselves after this long unused.
constexpr int batchIdleSeconds = 60;

// O_NONBLOCK on the open: a named pipe given as the device must not make
// root wait for a writer. Root may enlarge the pipe beyond what the program
// could (fcntl 1031 is Linux's F_SETPIPE_SZ; elsewhere it fails harmlessly),
// so that the reader runs further ahead. Requests beyond 64 MiB are cut, and
// a request line that never ends is nonsense.
const char readerProgram[] = R"perl(use strict;
use Fcntl qw(O_RDONLY O_NONBLOCK SEEK_SET SEEK_END F_GETFL F_SETFL S_ISBLK S_ISREG S_ISCHR S_ISDIR);
use Config;
# The system call numbers and socket constants come from the program, which
# was built for this system; 0 where it has none to give.
my ($path, $idle, $sendfile, $sendmsg, $level, $rights) = @ARGV;
# Standard error is the program's read-ahead ring: no message may land there.
$SIG{__WARN__} = sub {};
$SIG{__DIE__} = sub { exit 1 };
# The calls below pass 64-bit numbers and pointers.
($sendfile, $sendmsg) = (0, 0) unless $Config{ivsize} == 8 && $Config{ptrsize} == 8;
binmode STDIN;
binmode STDOUT;
sub put {
    my $at = 0;
    while ($at < length $_[0]) {
        my $n = syswrite(STDOUT, $_[0], length($_[0]) - $at, $at);
        exit 0 unless $n;
        $at += $n;
    }
}
my $fh;
unless (sysopen($fh, $path, O_RDONLY | O_NONBLOCK)) { put('F ' . ($! + 0) . "\n"); exit 0 }
sub size { my $end = sysseek($fh, 0, SEEK_END); defined $end ? $end + 0 : -1 }
my $mode = (stat $fh)[2];
my $size = size();
unless (S_ISBLK($mode) || S_ISREG($mode) || (S_ISCHR($mode) && $size > 0)) {
    put('T ' . (S_ISCHR($mode) ? 'c' : S_ISDIR($mode) ? 'd' : 'p') . "\n");
    exit 0;
}
fcntl($fh, F_SETFL, fcntl($fh, F_GETFL, 0) & ~O_NONBLOCK);
fcntl(STDOUT, 1031, 4194304);
put("QUORVEL-READER 1 $size\n");
my ($in, $buf) = ('', '');
for (;;) {
    my $end = index($in, "\n");
    if ($end < 0) {
        exit 1 if length $in > 4096;
        if ($idle > 0) {
            my $ready = '';
            vec($ready, fileno(STDIN), 1) = 1;
            exit 0 unless select($ready, undef, undef, $idle) > 0;
        }
        sysread(STDIN, $in, 65536, length $in) or exit 0;
        next;
    }
    my $line = substr($in, 0, $end + 1, '');
    if ($line =~ /^R (\d{1,18}) (\d{1,18})\n\z/) {
        my ($at, $want, $got, $error) = ($1, $2 < 67108864 ? $2 : 67108864, 0, 0);
        $buf = '';
        if (defined sysseek($fh, $at, SEEK_SET)) {
            while ($got < $want) {
                my $n = sysread($fh, $buf, $want - $got, $got);
                if (!defined $n) { next if $!{EINTR}; $error = $! + 0; last }
                last unless $n;
                $got += $n;
            }
        } else {
            $error = $! + 0;
        }
        if ($got || !$error) { put("D $got\n"); put($buf) if $got } else { put("E $error\n") }
    } elsif ($line =~ /^W (\d{1,18}) (\d{1,18}) (\d{1,18})\n\z/) {
        my ($at, $want, $pos, $got, $error) = ($1, $2, $3, 0, 0);
        my $ring = -s STDERR;
        while ($ring && $got < $want) {
            my $place = ($pos + $got) % $ring;
            my $piece = $want - $got < $ring - $place ? $want - $got : $ring - $place;
            my $n;
            if (defined sysseek(STDERR, $place, SEEK_SET)) {
                if ($sendfile) {
                    my $from = pack('q', $at + $got);
                    $n = syscall($sendfile, 2, fileno($fh), $from, $piece);
                    if ($n < 0) {
                        if ($!{EINVAL} || $!{ENOSYS}) { $sendfile = 0; next }
                        $n = undef;
                    }
                } else {
                    $buf = '';
                    $n = defined sysseek($fh, $at + $got, SEEK_SET) ? sysread($fh, $buf, $piece) : undef;
                    $n = syswrite(STDERR, $buf) if $n;
                }
            }
            if (!defined $n) { next if $!{EINTR}; $error = $! + 0; last }
            last unless $n;
            $got += $n;
        }
        put($got || !$error ? "D $got\n" : "E $error\n");
    } elsif ($line eq "H\n") {
        # sendmsg with one byte and the descriptor as SCM_RIGHTS: an iovec, a
        # control message of CMSG_SPACE(4) bytes and a msghdr, laid out for
        # 64 bits. STDIN is the socket the program writes requests into.
        my ($sent, $byte) = (-1, 'H');
        my $iov = pack('P Q', $byte, 1);
        my $control = pack('Q i i i x4', 20, $level, $rights, fileno($fh));
        my $message = pack('Q L x4 P Q P Q i x4', 0, 0, $iov, 1, $control, length $control, 0);
        $sent = syscall($sendmsg, fileno(STDIN), $message, 0) if $sendmsg;
        put($sent == 1 ? "D 1\n" : 'E ' . ($sendmsg ? $! + 0 : 0) . "\n");
    } elsif ($line eq "S\n") {
        put('Z ' . size() . "\n");
    } else {
        exit 1;
    }
}
)perl";

// pkexec's reason for not running the reader: its last "Error ..." line
// ("... No authentication agent found.", "... Not authorized"), which comes
// before remarks such as "This incident has been reported."; else the last
// line whatever ran in its place wrote.
QString failureReason(const QByteArray &text)
{
    const QList<QByteArray> lines = text.trimmed().split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        if (line->trimmed().startsWith("Error"))
            return QString::fromLocal8Bit(line->trimmed());
    }
    return lines.isEmpty() ? QString() : QString::fromLocal8Bit(lines.last().trimmed());
}

} // namespace

namespace RootReader {

QStringList interpreterArguments(const QString &devicePath, const ReaderOptions &options)
{
    long sendfileCall = 0;
    long sendmsgCall = 0;
#if defined(__linux__) && defined(SYS_sendfile) && defined(SYS_sendmsg)
    if constexpr (sizeof(void *) == 8) {
        sendfileCall = options.kernelCopy ? SYS_sendfile : 0;
        sendmsgCall = options.handOver ? SYS_sendmsg : 0;
    }
#endif
    return {QStringLiteral("-e"), QString::fromUtf8(readerProgram), QStringLiteral("--"), devicePath,
            QString::number(options.idleSeconds), QString::number(sendfileCall), QString::number(sendmsgCall),
            QString::number(SOL_SOCKET), QString::number(SCM_RIGHTS)};
}

} // namespace RootReader

struct ReaderConnection::Request {
    char kind = 'R';
    qint64 offset = 0;
    std::uint8_t *into = nullptr;
    qint64 length = 0;
    bool discard = false;   // its buffer went away: the answer is read and dropped
    Result result;
    qint64 size = -1;
    bool done = false;
};

ReaderConnection::ReaderConnection(std::unique_ptr<PipedProcess> process, std::function<bool()> cancelled)
    : m_process(std::move(process))
    , m_output(m_process->outputFd())
    , m_cancelled(std::move(cancelled))
{
}

ReaderConnection::~ReaderConnection()
{
    close();
}

ReaderConnection::Opened ReaderConnection::open(AdministratorLauncher &launcher, const QString &interpreter,
                                                const QString &devicePath, const ReaderOptions &options,
                                                std::function<bool()> cancelled)
{
    Opened opened;
    QString error;
    // The file the reader writes read-ahead bytes into, and the program maps:
    // memory, never a copy of the device on a disk.
    int transfer = -1;
#ifdef __linux__
    transfer = ::memfd_create("quorvel-reader", MFD_CLOEXEC);
#endif
    std::unique_ptr<PipedProcess> process =
        launcher.startPiped(interpreter, RootReader::interpreterArguments(devicePath, options), transfer, &error);
    if (!process) {
        if (transfer >= 0)
            ::close(transfer);
        opened.failure = Failure::notStarted;
        opened.reason = error;
        return opened;
    }
    PipedProcess *raw = process.get();
    std::shared_ptr<ReaderConnection> connection(new ReaderConnection(std::move(process), cancelled));
    connection->m_transfer = transfer;

    // The password dialog may stay open for minutes: wait as long as the
    // scan is not stopped.
    bool wasCancelled = false;
    QByteArray line;
    const bool answered = connection->readLine(&line, [&] {
        wasCancelled = cancelled && cancelled();
        return wasCancelled;
    });
    if (!answered) {
        if (wasCancelled) {
            opened.failure = Failure::cancelled;
            return opened;
        }
        // Nothing came: the dialog was dismissed or refused, or the reader
        // could not run at all.
        const std::optional<int> status = raw->waitForExit(5000);
        QByteArray errorText = raw->errorOutput();
        if (transfer >= 0) {
            errorText.resize(4096);
            errorText.resize(qsizetype(std::max<ssize_t>(0, ::pread(transfer, errorText.data(), 4096, 0))));
        }
        const QString said = failureReason(errorText);
        if (status == 126) {
            opened.failure = Failure::dismissed;
        } else {
            opened.failure = Failure::notStarted;
            opened.reason = !said.isEmpty() ? said
                : status           ? QStringLiteral("The reader ended with status %1.").arg(*status)
                                   : QStringLiteral("The reader did not answer.");
        }
        return opened;
    }
    const QList<QByteArray> words = line.trimmed().split(' ');
    if (line.startsWith(RootReader::greeting) && words.size() == 3) {
        bool ok = false;
        connection->m_size = words.at(2).toLongLong(&ok);
        // Handed over, the descriptor is all the program needs: the reader
        // goes at once, and nothing runs as root for the rest of the scan.
        const HandOver handOver =
            ok && options.handOver ? connection->takeDescriptor(devicePath, cancelled) : HandOver::declined;
        if (handOver == HandOver::taken) {
            connection->m_process.reset();
            opened.connection = std::move(connection);
            return opened;
        }
        if (handOver == HandOver::failed) {
            if (cancelled && cancelled()) {
                opened.failure = Failure::cancelled;
            } else {
                opened.failure = Failure::notStarted;
                opened.reason = QStringLiteral("The reader opened something other than %1.").arg(devicePath);
            }
            return opened;
        }
        if (ok && ::pipe(connection->m_wake) == 0) {
            for (const int fd : connection->m_wake)
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            connection->m_pump = std::thread(&ReaderConnection::pump, connection.get());
            opened.connection = std::move(connection);
            return opened;
        }
    } else if (words.size() == 2 && words.at(0) == "F") {
        opened.failure = Failure::cannotOpen;
        opened.error = words.at(1).toInt();
        return opened;
    } else if (words.size() == 2 && words.at(0) == "T") {
        opened.failure = Failure::unsupported;
        opened.fileType = words.at(1) == "c" ? S_IFCHR : words.at(1) == "d" ? S_IFDIR : S_IFIFO;
        return opened;
    }
    opened.failure = Failure::notStarted;
    opened.reason = QStringLiteral("The reader answered something unexpected.");
    return opened;
}

ReaderConnection::HandOver ReaderConnection::takeDescriptor(const QString &devicePath,
                                                            const std::function<bool()> &giveUp)
{
    QByteArray line;
    if (!m_process->send("H\n") || !readLine(&line, giveUp))
        return HandOver::failed;
    // A reader that can't send it serves the reads itself.
    if (line != "D 1\n")
        return line.startsWith("E ") ? HandOver::declined : HandOver::failed;
    // The descriptor travelled with the byte, ahead of the answer line.
    char byte = 0;
    iovec piece{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    int flags = MSG_DONTWAIT;
#ifdef MSG_CMSG_CLOEXEC
    flags |= MSG_CMSG_CLOEXEC;
#endif
    ssize_t got = -1;
    do {
        got = ::recvmsg(m_process->inputFd(), &message, flags);
    } while (got < 0 && errno == EINTR);
    const cmsghdr *header = got == 1 ? CMSG_FIRSTHDR(&message) : nullptr;
    if (!header || header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS
        || header->cmsg_len != CMSG_LEN(sizeof(int)))
        return HandOver::failed;
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    // It must be the device named, where the program may look at the name
    // (a link swapped meanwhile must not make the scan read another disk),
    // and something that reads to an end.
    struct stat opened {};
    struct stat named {};
    bool same = ::fstat(fd, &opened) == 0 && (S_ISBLK(opened.st_mode) || S_ISREG(opened.st_mode) || S_ISCHR(opened.st_mode));
    if (same && ::stat(QFile::encodeName(devicePath).constData(), &named) == 0) {
        same = (opened.st_mode & S_IFMT) == (named.st_mode & S_IFMT)
            && (S_ISREG(opened.st_mode) ? opened.st_dev == named.st_dev && opened.st_ino == named.st_ino
                                        : opened.st_rdev == named.st_rdev);
    }
    if (!same) {
        ::close(fd);
        return HandOver::failed;
    }
    m_device = fd;
    m_direct = DirectScan::descriptorReader(fd, m_size >= 0);
    return HandOver::taken;
}

bool ReaderConnection::isOpen() const
{
    if (m_direct) {
        std::shared_lock lock(m_deviceLock);
        return m_device >= 0;
    }
    std::lock_guard lock(m_mutex);
    return !m_broken;
}

void ReaderConnection::close()
{
    if (m_direct) {
        std::unique_lock lock(m_deviceLock);
        if (m_device >= 0)
            ::close(m_device);
        m_device = -1;
    }
    {
        std::unique_lock lock(m_mutex);
        stopLocked(lock);
    }
    if (m_pump.joinable())
        m_pump.join();
    // Closing its input ends the reader; it is reaped without a long wait.
    m_process.reset();
    for (int &fd : m_wake) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    if (m_ring)
        ::munmap(m_ring, 2 * m_ringSize);
    m_ring = nullptr;
    if (m_transfer >= 0)
        ::close(m_transfer);
    m_transfer = -1;
}

std::uint8_t *ReaderConnection::sharedRing(std::size_t size)
{
    if (m_direct)
        return nullptr;
    std::lock_guard lock(m_mutex);
    if (m_ring || m_transfer < 0 || m_broken || ::ftruncate(m_transfer, off_t(size)) != 0)
        return nullptr;
    m_ring = mapMirroredFile(m_transfer, size);
    m_ringSize = m_ring ? size : 0;
    return m_ring;
}

bool ReaderConnection::waitReadable(const std::function<bool()> &giveUp)
{
    pollfd fds[2] = {{m_output, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    for (;;) {
        const int polled = ::poll(fds, m_wake[0] >= 0 ? 2 : 1, giveUp ? cancelCheckMilliseconds : -1);
        if (polled < 0 && errno != EINTR)
            return false;
        if (polled > 0) {
            if (fds[1].revents != 0)
                return false;
            if (fds[0].revents != 0)
                return true;
        }
        if (giveUp && giveUp())
            return false;
    }
}

qint64 ReaderConnection::readPipe(std::uint8_t *into, qint64 length)
{
    for (;;) {
        const ssize_t got = ::read(m_output, into, std::size_t(length));
        if (got < 0 && errno == EINTR)
            continue;
        return got > 0 ? qint64(got) : 0;
    }
}

bool ReaderConnection::readLine(QByteArray *line, const std::function<bool()> &giveUp)
{
    line->clear();
    for (;;) {
        if (m_lineAt < m_line.size()) {
            const qsizetype end = m_line.indexOf('\n', m_lineAt);
            const qsizetype stop = end < 0 ? m_line.size() : end + 1;
            line->append(m_line.constData() + m_lineAt, stop - m_lineAt);
            m_lineAt = stop;
            if (end >= 0)
                return true;
            // No answer line is this long; the other side is not our reader.
            if (line->size() > 4096)
                return false;
        }
        // Lines are short and the bytes after them usually follow: read a
        // little ahead, never much past the header of a large answer.
        m_line.resize(4096);
        m_lineAt = 0;
        const qint64 got = waitReadable(giveUp) ? readPipe(reinterpret_cast<std::uint8_t *>(m_line.data()), 4096) : 0;
        m_line.resize(qsizetype(got));
        if (got <= 0)
            return false;
    }
}

bool ReaderConnection::answer(const Request &request, Result *result, qint64 *size)
{
    const auto stopping = [this] {
        std::lock_guard lock(m_mutex);
        return m_stopping;
    };
    QByteArray line;
    if (!readLine(&line, stopping))
        return false;
    const QList<QByteArray> words = line.trimmed().split(' ');
    bool ok = false;
    const qint64 value = words.size() == 2 ? words.at(1).toLongLong(&ok) : 0;
    if (!ok)
        return false;
    if (request.kind == 'S') {
        *size = value;
        return words.at(0) == "Z";
    }
    // Bytes asked into the shared ring are there already.
    if (request.kind == 'W' && words.at(0) == "D") {
        *result = {value, 0, false};
        return value >= 0 && value <= request.length;
    }
    if (words.at(0) == "E") {
        // The reader's error numbers are this system's: it runs here.
        bool lost = value == ENODEV || value == ENXIO;
#ifdef ENOMEDIUM
        lost = lost || value == ENOMEDIUM;
#endif
        *result = {0, int(value), lost};
        return true;
    }
    if (words.at(0) != "D" || value < 0 || value > request.length)
        return false;
    std::uint8_t scratch[65536];
    for (qint64 done = 0; done < value;) {
        const bool buffered = m_lineAt < m_line.size();
        if (!buffered && !waitReadable(stopping))
            return false;
        std::uint8_t *into = nullptr;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return false;
            into = request.discard ? nullptr : request.into + done;
            m_writing = into != nullptr;
        }
        const qint64 want = into ? value - done : std::min<qint64>(value - done, sizeof scratch);
        std::uint8_t *target = into ? into : scratch;
        qint64 got = 0;
        if (buffered) {
            got = std::min<qint64>(want, m_line.size() - m_lineAt);
            std::memcpy(target, m_line.constData() + m_lineAt, std::size_t(got));
            m_lineAt += got;
        } else {
            // The pipe has bytes now, so this does not block: a buffer that
            // is being given up is never written for long.
            got = readPipe(target, want);
        }
        {
            std::lock_guard lock(m_mutex);
            m_writing = false;
        }
        m_changed.notify_all();
        if (got <= 0)
            return false;
        done += got;
    }
    *result = {value, 0, false};
    return true;
}

void ReaderConnection::pump()
{
    for (;;) {
        std::shared_ptr<Request> request;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping)
                return;
            request = m_queue.front();
        }
        Result result;
        qint64 size = -1;
        const bool answered = answer(*request, &result, &size);
        std::unique_lock lock(m_mutex);
        if (!answered) {
            failLocked();
            return;
        }
        // A stop meanwhile has settled the request already.
        if (m_queue.empty() || m_queue.front() != request)
            continue;
        m_queue.pop_front();
        request->result = result;
        request->size = size;
        request->done = true;
        m_changed.notify_all();
    }
}

void ReaderConnection::failLocked()
{
    m_broken = true;
    m_stopping = true;
    for (const std::shared_ptr<Request> &request : m_queue) {
        request->result = m_waitCancelled ? Result{0, ECANCELED, false} : Result{0, EPIPE, true};
        request->done = true;
    }
    m_queue.clear();
    m_ahead.clear();
    m_cancelled = nullptr;
    m_changed.notify_all();
}

void ReaderConnection::stopLocked(std::unique_lock<std::mutex> &lock)
{
    if (!m_stopping && m_wake[1] >= 0) {
        const char byte = 0;
        while (::write(m_wake[1], &byte, 1) < 0 && errno == EINTR) {
        }
    }
    m_stopping = true;
    m_changed.notify_all();
    // Requests are only given up once nothing writes into their buffers.
    m_changed.wait(lock, [this] { return !m_writing; });
    failLocked();
}

std::shared_ptr<ReaderConnection::Request> ReaderConnection::submitLocked(char kind, qint64 offset,
                                                                          std::uint8_t *into, qint64 length)
{
    auto request = std::make_shared<Request>();
    request->offset = offset;
    request->into = into;
    request->length = std::min(length, largestRequest);
    QByteArray line;
    if (kind == 'S') {
        line = "S\n";
    } else if (m_ring && into >= m_ring && into < m_ring + 2 * m_ringSize) {
        kind = 'W';
        const std::size_t place = std::size_t(into - m_ring) % m_ringSize;
        line = "W " + QByteArray::number(offset) + ' ' + QByteArray::number(request->length) + ' '
            + QByteArray::number(qulonglong(place)) + '\n';
    } else {
        line = "R " + QByteArray::number(offset) + ' ' + QByteArray::number(request->length) + '\n';
    }
    request->kind = kind;
    if (m_broken || !m_process || !m_process->send(line)) {
        request->result = m_waitCancelled ? Result{0, ECANCELED, false} : Result{0, EPIPE, true};
        request->done = true;
        return request;
    }
    m_queue.push_back(request);
    m_changed.notify_all();
    return request;
}

void ReaderConnection::waitLocked(std::unique_lock<std::mutex> &lock, const std::shared_ptr<Request> &request)
{
    while (!request->done) {
        if (m_cancelled) {
            m_changed.wait_for(lock, std::chrono::milliseconds(cancelCheckMilliseconds));
            if (!request->done && m_cancelled && m_cancelled()) {
                m_waitCancelled = true;
                stopLocked(lock);
            }
        } else {
            m_changed.wait(lock);
        }
    }
}

void ReaderConnection::discardAheadLocked(std::unique_lock<std::mutex> &lock)
{
    for (const std::shared_ptr<Request> &request : m_ahead)
        request->discard = true;
    m_ahead.clear();
    m_changed.wait(lock, [this] { return !m_writing; });
}

SourceReader::Result ReaderConnection::read(qint64 offset, std::uint8_t *into, qint64 length)
{
    if (m_direct) {
        std::shared_lock lock(m_deviceLock);
        return m_device >= 0 ? m_direct->read(offset, into, length) : Result{0, EPIPE, true};
    }
    std::unique_lock lock(m_mutex);
    std::shared_ptr<Request> request;
    if (!m_ahead.empty() && m_ahead.front()->offset == offset && m_ahead.front()->into == into
        && m_ahead.front()->length == std::min(length, largestRequest)) {
        request = m_ahead.front();
        m_ahead.pop_front();
    } else {
        // Answers asked ahead come first and still land in their buffers.
        request = submitLocked('R', offset, into, length);
    }
    waitLocked(lock, request);
    return request->result;
}

void ReaderConnection::readAhead(qint64 offset, std::uint8_t *into, qint64 length)
{
    if (m_direct)
        return;
    std::unique_lock lock(m_mutex);
    const std::shared_ptr<Request> request = submitLocked('R', offset, into, length);
    if (!request->done)
        m_ahead.push_back(request);
}

void ReaderConnection::cancelReadAhead()
{
    if (m_direct)
        return;
    std::unique_lock lock(m_mutex);
    discardAheadLocked(lock);
}

std::optional<qint64> ReaderConnection::currentSize()
{
    if (m_direct) {
        std::shared_lock lock(m_deviceLock);
        return m_device >= 0 ? m_direct->currentSize() : std::nullopt;
    }
    std::unique_lock lock(m_mutex);
    const std::shared_ptr<Request> request = submitLocked('S', 0, nullptr, 0);
    waitLocked(lock, request);
    if (request->result.error != 0 || request->size < 0)
        return std::nullopt;
    return request->size;
}

QString readerFailureText(const ReaderConnection::Opened &opened, const QString &devicePath, const ScanTexts &texts)
{
    switch (opened.failure) {
    case ReaderConnection::Failure::none:
    case ReaderConnection::Failure::cancelled:
        return {};
    case ReaderConnection::Failure::dismissed:
        // Where nothing else is scanned instead, the user must learn why
        // nothing was found; a fallback scan clears it.
        return QStringLiteral("Reading %1 needs administrator rights, and the password dialog was dismissed.")
            .arg(devicePath);
    case ReaderConnection::Failure::notStarted:
        return QStringLiteral("Failed to launch elevated scan: ") + opened.reason;
    case ReaderConnection::Failure::cannotOpen:
        return DirectScan::openErrorText(devicePath, opened.error, texts);
    case ReaderConnection::Failure::unsupported:
        return DirectScan::unsupportedSourceText(devicePath, opened.fileType, 0);
    }
    return {};
}

AdministratorByteSource::AdministratorByteSource(QString devicePath, AdministratorLauncherFactory launchers,
                                                 QString interpreter)
    : m_devicePath(std::move(devicePath))
    , m_launchers(std::move(launchers))
    , m_interpreter(std::move(interpreter))
{
}

AdministratorByteSource::~AdministratorByteSource() = default;

void AdministratorByteSource::attach(std::shared_ptr<ReaderConnection> connection)
{
    QMutexLocker lock(&m_mutex);
    m_scan = std::move(connection);
}

void AdministratorByteSource::detach()
{
    QMutexLocker lock(&m_mutex);
    if (m_scan)
        m_scan->close();
    m_scan.reset();
}

std::shared_ptr<ReaderConnection> AdministratorByteSource::startLocked(QString *error) const
{
    const std::unique_ptr<AdministratorLauncher> launcher = m_launchers ? m_launchers() : nullptr;
    if (!launcher) {
        if (error)
            *error = QStringLiteral("No administrator launcher is available.");
        return nullptr;
    }
    ReaderOptions options;
    options.idleSeconds = batchIdleSeconds;
    const ReaderConnection::Opened opened = ReaderConnection::open(*launcher, m_interpreter, m_devicePath, options);
    if (!opened.connection && error)
        *error = readerFailureText(opened, m_devicePath, ScanTexts());
    return opened.connection;
}

bool AdministratorByteSource::prepare(const QList<Range> &ranges, QString *error)
{
    QMutexLocker lock(&m_mutex);
    if (m_scan && m_scan->isOpen())
        return true;
    m_batch.reset();
    m_unread.clear();
    for (const Range &range : ranges) {
        if (range.length > 0)
            m_unread.append(range);
    }
    if (m_unread.isEmpty())
        return true;
    m_batch = startLocked(error);
    if (!m_batch)
        m_unread.clear();
    return m_batch != nullptr;
}

void AdministratorByteSource::release()
{
    QMutexLocker lock(&m_mutex);
    m_unread.clear();
    if (m_batch) {
        m_batch->close();
        m_batch.reset();
    }
}

bool AdministratorByteSource::read(quint64 offset, qint64 length, QByteArray *out, QString *error) const
{
    QMutexLocker lock(&m_mutex);
    std::shared_ptr<ReaderConnection> connection;
    if (m_scan && m_scan->isOpen())
        connection = m_scan;
    else if (m_batch && m_batch->isOpen())
        connection = m_batch;
    else if (!(connection = startLocked(error)))
        return false;
    // A batch reader that went idle or away is replaced by this one.
    if (connection != m_scan && !m_unread.isEmpty())
        m_batch = connection;

    out->resize(qsizetype(std::max<qint64>(0, length)));
    qint64 done = 0;
    QString failure;
    while (done < length && failure.isEmpty()) {
        const SourceReader::Result got =
            connection->read(qint64(offset) + done, reinterpret_cast<std::uint8_t *>(out->data()) + done, length - done);
        if (got.bytes > 0)
            done += got.bytes;
        else if (got.error == 0)
            failure = QStringLiteral("%1 ended before the carved range.").arg(m_devicePath);
        else
            failure = QStringLiteral("Cannot read %1: %2").arg(m_devicePath, QString::fromLocal8Bit(std::strerror(got.error)));
    }

    if (connection != m_scan) {
        // One read settles one prepared range: the same range, or else the
        // first one it covers (hits nest, so a read may cover several).
        qsizetype settled = -1;
        for (qsizetype i = 0; i < m_unread.size() && settled < 0; ++i) {
            if (m_unread[i].offset == offset && m_unread[i].length == length)
                settled = i;
        }
        for (qsizetype i = 0; i < m_unread.size() && settled < 0; ++i) {
            if (m_unread[i].offset >= offset && m_unread[i].offset + quint64(m_unread[i].length) <= offset + quint64(length))
                settled = i;
        }
        if (settled >= 0)
            m_unread.removeAt(settled);
        // Each batch reader serves one save action: once every range it was
        // started for has been read, it goes.
        if (m_unread.isEmpty()) {
            connection->close();
            if (connection == m_batch)
                m_batch.reset();
        }
    }
    if (!failure.isEmpty()) {
        out->clear();
        if (error)
            *error = failure;
        return false;
    }
    return true;
}
