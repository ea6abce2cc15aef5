#include "rootreader.h"

#include <QMutexLocker>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/stat.h>
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
// root wait for a writer. Requests beyond 64 MiB are cut, and a request line
// that never ends is nonsense.
const char readerProgram[] = R"perl(use strict;
use Fcntl qw(O_RDONLY O_NONBLOCK SEEK_SET SEEK_END F_GETFL F_SETFL S_ISBLK S_ISREG S_ISCHR S_ISDIR);
my ($path, $idle) = @ARGV;
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
    } elsif ($line eq "S\n") {
        put('Z ' . size() . "\n");
    } else {
        exit 1;
    }
}
)perl";

// The last line pkexec (or whatever ran in its place) wrote: its reason.
QString lastLine(const QByteArray &text)
{
    const QList<QByteArray> lines = text.trimmed().split('\n');
    return lines.isEmpty() ? QString() : QString::fromLocal8Bit(lines.last().trimmed());
}

} // namespace

namespace RootReader {

QByteArray program()
{
    return QByteArray(readerProgram);
}

QStringList interpreterArguments(const QString &devicePath, int idleSeconds)
{
    return {QStringLiteral("-e"), QString::fromUtf8(readerProgram), QStringLiteral("--"), devicePath,
            QString::number(idleSeconds)};
}

} // namespace RootReader

struct ReaderConnection::Request {
    char kind = 'R';
    qint64 offset = 0;
    std::uint8_t *into = nullptr;   // null: the answer is read and dropped
    qint64 length = 0;
    Result result;
    qint64 size = -1;
    bool done = false;
};

ReaderConnection::ReaderConnection(std::unique_ptr<PipedProcess> process, std::function<bool()> cancelled)
    : m_process(std::move(process))
    , m_cancelled(std::move(cancelled))
{
}

ReaderConnection::~ReaderConnection()
{
    close();
}

ReaderConnection::Opened ReaderConnection::open(AdministratorLauncher &launcher, const QString &interpreter,
                                                const QString &devicePath, int idleSeconds,
                                                std::function<bool()> cancelled)
{
    Opened opened;
    QString error;
    std::unique_ptr<PipedProcess> process =
        launcher.startPiped(interpreter, RootReader::interpreterArguments(devicePath, idleSeconds), &error);
    if (!process) {
        opened.failure = Failure::notStarted;
        opened.reason = error;
        return opened;
    }
    PipedProcess *raw = process.get();
    std::shared_ptr<ReaderConnection> connection(new ReaderConnection(std::move(process), std::move(cancelled)));

    QByteArray line;
    bool answered = false;
    {
        std::lock_guard lock(connection->m_mutex);
        answered = connection->readLineLocked(&line);
        if (!answered && connection->m_waitCancelled) {
            opened.failure = Failure::cancelled;
            return opened;
        }
    }
    if (!answered) {
        // Nothing came: the dialog was dismissed or refused, or the reader
        // could not run at all.
        const std::optional<int> status = raw->waitForExit(5000);
        const QString said = lastLine(raw->errorOutput());
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
        if (ok) {
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

bool ReaderConnection::isOpen() const
{
    std::lock_guard lock(m_mutex);
    return !m_broken && m_process;
}

void ReaderConnection::close()
{
    std::lock_guard lock(m_mutex);
    breakLocked();
}

void ReaderConnection::breakLocked()
{
    m_broken = true;
    m_cancelled = nullptr;
    m_ahead.reset();
    for (const std::shared_ptr<Request> &request : m_queue) {
        request->result = {0, EPIPE, true};
        request->done = true;
    }
    m_queue.clear();
    m_process.reset();
}

std::shared_ptr<ReaderConnection::Request> ReaderConnection::submitLocked(char kind, qint64 offset,
                                                                          std::uint8_t *into, qint64 length)
{
    auto request = std::make_shared<Request>();
    request->kind = kind;
    request->offset = offset;
    request->into = into;
    request->length = std::min(length, largestRequest);
    if (m_broken) {
        request->result = {0, EPIPE, true};
        request->done = true;
        return request;
    }
    const QByteArray line = kind == 'R' ? "R " + QByteArray::number(offset) + ' ' + QByteArray::number(request->length) + '\n'
                                        : QByteArray("S\n");
    if (!m_process->send(line)) {
        breakLocked();
        request->result = {0, EPIPE, true};
        request->done = true;
        return request;
    }
    m_queue.push_back(request);
    return request;
}

void ReaderConnection::waitLocked(const std::shared_ptr<Request> &request)
{
    while (!request->done) {
        if (m_queue.empty() || m_broken) {
            request->result = {0, m_waitCancelled ? ECANCELED : EPIPE, !m_waitCancelled};
            request->done = true;
            return;
        }
        const std::shared_ptr<Request> front = m_queue.front();
        if (!answerLocked(*front)) {
            const bool cancelled = m_waitCancelled;
            breakLocked();
            m_waitCancelled = cancelled;
            if (!request->done || cancelled)
                request->result = {0, cancelled ? ECANCELED : EPIPE, !cancelled};
            request->done = true;
            return;
        }
        m_queue.pop_front();
        front->done = true;
    }
}

bool ReaderConnection::answerLocked(Request &request)
{
    QByteArray line;
    if (!readLineLocked(&line))
        return false;
    const QList<QByteArray> words = line.trimmed().split(' ');
    if (words.size() != 2)
        return false;
    bool ok = false;
    const qint64 value = words.at(1).toLongLong(&ok);
    if (!ok)
        return false;
    if (request.kind == 'S') {
        if (words.at(0) != "Z")
            return false;
        request.size = value;
        return true;
    }
    if (words.at(0) == "E") {
        // The reader's error numbers are this system's: it runs here.
        bool lost = value == ENODEV || value == ENXIO;
#ifdef ENOMEDIUM
        lost = lost || value == ENOMEDIUM;
#endif
        request.result = {0, int(value), lost};
        return true;
    }
    if (words.at(0) != "D" || value < 0 || value > request.length)
        return false;
    if (request.into) {
        if (!readExactLocked(request.into, value))
            return false;
    } else {
        std::uint8_t scratch[65536];
        for (qint64 left = value; left > 0;) {
            const qint64 take = std::min<qint64>(left, sizeof scratch);
            if (!readExactLocked(scratch, take))
                return false;
            left -= take;
        }
    }
    request.result = {value, 0, false};
    return true;
}

qint64 ReaderConnection::readSomeLocked(std::uint8_t *into, qint64 length)
{
    if (m_bufferAt < m_buffer.size()) {
        const qint64 take = std::min<qint64>(length, m_buffer.size() - m_bufferAt);
        std::memcpy(into, m_buffer.constData() + m_bufferAt, std::size_t(take));
        m_bufferAt += take;
        return take;
    }
    return readPipeLocked(into, length);
}

qint64 ReaderConnection::readPipeLocked(std::uint8_t *into, qint64 length)
{
    const int fd = m_process ? m_process->outputFd() : -1;
    if (fd < 0)
        return 0;
    for (;;) {
        if (m_cancelled) {
            pollfd ready{fd, POLLIN, 0};
            const int polled = ::poll(&ready, 1, cancelCheckMilliseconds);
            if (polled < 0 && errno != EINTR)
                return 0;
            if (polled <= 0) {
                if (m_cancelled()) {
                    m_waitCancelled = true;
                    return 0;
                }
                continue;
            }
        }
        const ssize_t got = ::read(fd, into, std::size_t(length));
        if (got < 0 && errno == EINTR)
            continue;
        return got > 0 ? got : 0;
    }
}

bool ReaderConnection::readExactLocked(std::uint8_t *into, qint64 length)
{
    for (qint64 done = 0; done < length;) {
        const qint64 got = readSomeLocked(into + done, length - done);
        if (got <= 0)
            return false;
        done += got;
    }
    return true;
}

bool ReaderConnection::readLineLocked(QByteArray *line)
{
    line->clear();
    for (;;) {
        if (m_bufferAt < m_buffer.size()) {
            const qsizetype end = m_buffer.indexOf('\n', m_bufferAt);
            const qsizetype stop = end < 0 ? m_buffer.size() : end + 1;
            line->append(m_buffer.constData() + m_bufferAt, stop - m_bufferAt);
            m_bufferAt = stop;
            if (end >= 0)
                return true;
            // No answer line is this long; the other side is not our reader.
            if (line->size() > 4096)
                return false;
        }
        // Lines are short and the bytes after them usually follow: read a
        // little ahead, never more than a header's worth past a large answer.
        m_buffer.resize(4096);
        m_bufferAt = 0;
        const qint64 got = readPipeLocked(reinterpret_cast<std::uint8_t *>(m_buffer.data()), m_buffer.size());
        m_buffer.resize(qsizetype(std::max<qint64>(0, got)));
        if (got <= 0)
            return false;
    }
}

SourceReader::Result ReaderConnection::read(qint64 offset, std::uint8_t *into, qint64 length)
{
    std::lock_guard lock(m_mutex);
    std::shared_ptr<Request> request;
    if (m_ahead && m_ahead->offset == offset && m_ahead->into == into
        && m_ahead->length == std::min(length, largestRequest)) {
        request = std::exchange(m_ahead, nullptr);
    } else {
        // Whatever was asked ahead stays in the queue and is read first.
        request = submitLocked('R', offset, into, length);
    }
    waitLocked(request);
    return request->result;
}

void ReaderConnection::readAhead(qint64 offset, std::uint8_t *into, qint64 length)
{
    std::lock_guard lock(m_mutex);
    if (m_ahead)
        m_ahead->into = nullptr;
    m_ahead = submitLocked('R', offset, into, length);
}

void ReaderConnection::cancelReadAhead()
{
    std::lock_guard lock(m_mutex);
    if (m_ahead) {
        m_ahead->into = nullptr;
        m_ahead.reset();
    }
}

std::optional<qint64> ReaderConnection::currentSize()
{
    std::lock_guard lock(m_mutex);
    const std::shared_ptr<Request> request = submitLocked('S', 0, nullptr, 0);
    waitLocked(request);
    if (request->result.error != 0 || request->size < 0)
        return std::nullopt;
    return request->size;
}

QString readerFailureText(const ReaderConnection::Opened &opened, const QString &devicePath, const ScanTexts &texts)
{
    switch (opened.failure) {
    case ReaderConnection::Failure::none:
    case ReaderConnection::Failure::dismissed:
    case ReaderConnection::Failure::cancelled:
        return {};
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
    const ReaderConnection::Opened opened =
        ReaderConnection::open(*launcher, m_interpreter, m_devicePath, batchIdleSeconds);
    if (!opened.connection && error) {
        *error = opened.failure == ReaderConnection::Failure::dismissed
            ? QStringLiteral("Reading %1 needs administrator rights, and the password dialog was dismissed.")
                  .arg(m_devicePath)
            : readerFailureText(opened, m_devicePath, ScanTexts());
    }
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
        m_unread.removeIf([&](const Range &range) {
            return range.offset >= offset && range.offset + quint64(range.length) <= offset + quint64(length);
        });
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
