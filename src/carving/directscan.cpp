#include "directscan.h"

#include "system/platform.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __APPLE__
#include <sys/disk.h>
#endif

#include "carving/carveengine.h"
#include "carving/carver.h"
#include "carving/verify/hitverifier.h"
#include "model/bytecount.h"

// The original wording names macOS facilities; another backend words them for
// itself (of).
ScanTexts::ScanTexts()
    : rawAccessPrivileges(PlatformTexts::macOS().rawAccessPrivileges)
    , deviceBusyTemplate(PlatformTexts::macOS().deviceBusyTemplate)
    , otherAdvice(QStringLiteral(
          "\n\n💡 Try using \"Directory Scan\" mode instead, which does not require raw device access."))
{
}

ScanTexts ScanTexts::of(const PlatformTexts &platform)
{
    ScanTexts texts;
    texts.rawAccessPrivileges = platform.rawAccessPrivileges;
    texts.deviceBusyTemplate = platform.deviceBusyTemplate;
    return texts;
}

namespace DirectScan {

qsizetype overlap(const QList<FileSignature> &signatures)
{
    qsizetype longest = 16; // an empty list still reads a little past the step
    if (!signatures.isEmpty()) {
        longest = 0;
        for (const FileSignature &signature : signatures)
            longest = std::max(longest, signature.header.size());
    }
    return longest + 16;
}

QString openErrorText(const QString &path, int errorNumber, const ScanTexts &texts)
{
    // One arg() call, so that a "%1" inside the path is not expanded again.
    if (errorNumber == EBUSY)
        return texts.deviceBusyTemplate.arg(path);
    const QString prefix = QStringLiteral("Cannot open ") + path + QStringLiteral(": ");
    const QString reason = QString::fromLocal8Bit(std::strerror(errorNumber));
    if (errorNumber == EPERM || errorNumber == EACCES)
        return prefix + reason + texts.rawAccessPrivileges;
    return prefix + reason + texts.otherAdvice;
}

namespace {
// The size a device node reports; 0 when it doesn't tell.
qint64 deviceNodeSize(int fd)
{
#ifdef __APPLE__
    // lseek to the end gives 0 on a disk node; the disk driver knows.
    std::uint32_t blockSize = 0;
    std::uint64_t blockCount = 0;
    if (::ioctl(fd, DKIOCGETBLOCKSIZE, &blockSize) == 0 && ::ioctl(fd, DKIOCGETBLOCKCOUNT, &blockCount) == 0)
        return qint64(blockSize) * qint64(blockCount);
#endif
    const off_t end = ::lseek(fd, 0, SEEK_END);
    ::lseek(fd, 0, SEEK_SET);
    return end > 0 ? qint64(end) : 0;
}
} // namespace

Sizes sizesOf(int fd)
{
    Sizes sizes;
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return sizes;
    if (S_ISBLK(status.st_mode) || S_ISCHR(status.st_mode)) {
        const qint64 size = deviceNodeSize(fd);
        if (size >= 1) {
            sizes.scanSize = size;
            sizes.knownTotal = size;
        }
        return sizes;
    }
    sizes.knownTotal = status.st_size;
    sizes.scanSize = status.st_size;
    return sizes;
}

QString unsupportedSourceText(const QString &path, unsigned mode, qint64 knownSize)
{
    const QString head = QStringLiteral("Cannot scan ") + path + QStringLiteral(": ");
    const QString choose = QStringLiteral("\n\n💡 Choose a disk, a partition or a disk-image file.");
    if (S_ISREG(mode) || S_ISBLK(mode) || (S_ISCHR(mode) && knownSize > 0))
        return {};
    if (S_ISDIR(mode))
        return head + QStringLiteral("it is a folder.\n\n💡 Use \"Directory Scan\" mode to scan the files of a folder.");
    if (S_ISCHR(mode))
        return head + QStringLiteral("it is a character device whose size can't be told, so the scan would never end.")
            + choose;
    return head + QStringLiteral("it is a pipe or a socket, which has no end to read to.") + choose;
}

QString unreadableText(quint64 unreadableBytes)
{
    return formatByteCount(qint64(unreadableBytes))
        + QStringLiteral(" could not be read: the device reported read errors there. The rest was scanned; files "
                         "that lie across those bytes may be damaged.");
}

QString sourceLostText(const QString &sourceName, qint64 offset, qint64 knownTotal)
{
    return QStringLiteral("Reading ") + sourceName + QStringLiteral(" stopped at ") + formatByteCount(offset)
        + (knownTotal > 0 ? QStringLiteral(" of ") + formatByteCount(knownTotal) : QString())
        + QStringLiteral(": the device was removed, became smaller or stopped answering. The files found until then "
                         "are listed.");
}

QString progressText(const QString &sourceName, qint64 scanned, qint64 knownTotal, qsizetype hitCount)
{
    const QString head = QStringLiteral("Scanning ") + sourceName + QStringLiteral(": ") + formatByteCount(scanned);
    const QString tail = QStringLiteral(" — ") + QString::number(hitCount) + QStringLiteral(" files found");
    if (knownTotal != 0)
        return head + QStringLiteral(" / ") + formatByteCount(knownTotal) + tail;
    return head + QStringLiteral(" scanned") + tail;
}

} // namespace DirectScan

std::uint8_t *mapMirroredFile(int fd, std::size_t size)
{
    void *base = ::mmap(nullptr, 2 * size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return nullptr;
    auto *bytes = static_cast<std::uint8_t *>(base);
    const bool mapped = ::mmap(bytes, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0) != MAP_FAILED
        && ::mmap(bytes + size, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0) != MAP_FAILED;
    if (!mapped) {
        ::munmap(base, 2 * size);
        return nullptr;
    }
    return bytes;
}

namespace {

using namespace DirectScan;

std::atomic<bool> mirroredReadAheadAllowed{true};
constexpr qsizetype maxBatch = 4096;
std::atomic<bool> verifyingHits{true};

// A buffer of `size` bytes mapped twice, back to back, so that a range that
// runs off its end continues at its start: the read-ahead can then move on
// without moving bytes. Null where the system offers no such mapping.
std::uint8_t *mapMirrored(std::size_t size)
{
#ifdef __linux__
    const int fd = ::memfd_create("quorvel-read-ahead", MFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    std::uint8_t *bytes = ::ftruncate(fd, off_t(size)) == 0 ? mapMirroredFile(fd, size) : nullptr;
    ::close(fd);
    return bytes;
#else
    Q_UNUSED(size);
    return nullptr;
#endif
}

// Reads with positioned reads from a descriptor this program opened.
class DescriptorReader final : public SourceReader
{
public:
    DescriptorReader(int fd, bool sizeKnown) : m_fd(fd), m_sizeKnown(sizeKnown) {}

    Result read(qint64 offset, std::uint8_t *into, qint64 length) override
    {
        for (;;) {
            const ssize_t got = ::pread(m_fd, into, std::size_t(length), off_t(offset));
            if (got >= 0)
                return {qint64(got), 0, false};
            if (errno == EINTR)
                continue;
            const int error = errno;
            // What a pulled USB stick or a detached device answers.
            bool lost = error == ENODEV || error == ENXIO || error == EBADF;
#ifdef ENOMEDIUM
            lost = lost || error == ENOMEDIUM;
#endif
            return {0, error, lost};
        }
    }

    std::optional<qint64> currentSize() override
    {
        struct stat status {};
        if (::fstat(m_fd, &status) != 0)
            return std::nullopt;
        if (S_ISREG(status.st_mode))
            return qint64(status.st_size);
        // A removed disk reports a size of 0 from then on; a node that never
        // told its size tells nothing now either.
        if (!m_sizeKnown)
            return std::nullopt;
        return deviceNodeSize(m_fd);
    }

private:
    int m_fd;
    bool m_sizeKnown;
};

// Bytes of the source held in memory: [start, end). Before a step at `offset`
// is carved, the bytes up to offset + `reach` (every window of the step ends
// by then) are made available; bytes before `offset` are no longer needed.
//
// Preferably the bytes live in a mirrored ring a little larger than `reach`,
// small enough to stay in the processor's cache between the read that fills
// it and the carver that looks at it. The free part of the ring is handed to
// the reader ahead of time, so that a reader in another process fills it
// while this one carves. Otherwise a larger plain buffer is used and its tail
// is moved to the front when the scan moves on.
//
// Read errors are handled here for every reader (see directscan.h): the
// bytes that can't be read are zeros in the buffer and counted.
class ReadAhead
{
public:
    ReadAhead(SourceReader &reader, qint64 scanSize, qint64 reach)
        : m_reader(reader)
        , m_scanSize(scanSize)
        , m_reach(reach)
        , m_maxSkip(std::max(maxSkipFloor, scanSize == unknownSize ? 0 : scanSize / 100))
    {
        const qint64 page = ::sysconf(_SC_PAGESIZE) > 0 ? ::sysconf(_SC_PAGESIZE) : 4096;
        const auto pages = [page](qint64 bytes) { return (bytes + page - 1) / page * page; };
        // A reader in another process may fill the ring itself, through
        // memory it shares with this one. It gets a wider margin, so that
        // being scheduled late on a busy machine does not stall the scan;
        // its bytes come from another processor's cache anyway.
        if (mirroredReadAheadAllowed.load()) {
            m_capacity = pages(reach + 32 * chunkStep);
            m_ring = m_reader.sharedRing(std::size_t(m_capacity));
            m_ownsRing = m_ring == nullptr;
            if (!m_ring) {
                m_capacity = pages(reach + 5 * chunkStep);
                m_ring = mapMirrored(std::size_t(m_capacity));
            }
        }
        if (!m_ring) {
            m_capacity = reach + 64 * chunkStep;
            m_linear = std::make_unique_for_overwrite<std::uint8_t[]>(std::size_t(m_capacity));
        }
    }

    ~ReadAhead()
    {
        // The reader may still write into the ring for a range asked ahead.
        if (!m_pending.empty())
            m_reader.cancelReadAhead();
        if (m_ring && m_ownsRing)
            ::munmap(m_ring, std::size_t(2 * m_capacity));
    }

    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;

    // Makes the bytes from `offset` up to offset + reach (or the end of the
    // data) available and returns how many there are from `offset`.
    qint64 ensure(qint64 offset)
    {
        const qint64 wanted = std::min(m_scanSize, offset + m_reach);
        if (m_end < wanted && !m_ended) {
            if (m_ring) {
                m_start = offset;
                fill(wanted);
            } else {
                const qint64 start = std::min(offset, m_end);
                if (m_end > start)
                    std::memmove(m_linear.get(), slot(start), std::size_t(m_end - start));
                m_start = start;
                m_end = std::max(m_end, start);
                fill(std::min(m_scanSize, m_start + m_capacity));
            }
        }
        // The part of the ring freed by this step is asked for at once, so
        // that a reader in another process streams without pause.
        // Asked in pieces of 4 MiB, so that the first of them can be carved
        // before the last has arrived, and a reader pays its cost per request
        // a quarter as often as per step.
        if (m_ring && !m_ended && m_careful == 0 && m_end >= m_badUntil) {
            const qint64 to = std::min(m_scanSize, offset + m_capacity);
            for (qint64 from = std::max(m_end, m_aheadEnd); from < to; from = m_aheadEnd) {
                const qint64 length = std::min(to - from, aheadPiece);
                if (length < aheadPiece && to < m_scanSize)
                    break;
                m_pending.push_back({from, length});
                m_reader.readAhead(from, slot(from), length);
                m_aheadEnd = from + length;
            }
        }
        return std::max<qint64>(0, m_end - offset);
    }

    // Contiguous bytes from `offset` on, as many as ensure() reported.
    const std::uint8_t *at(qint64 offset) const
    {
        return m_ring ? m_ring + (offset % m_capacity) : m_linear.get() + (offset - m_start);
    }

    // Where the data ends, once nothing more will come.
    bool ended() const { return m_ended; }
    qint64 end() const { return m_end; }
    bool wasCancelled() const { return m_cancelled; }
    bool lostSource() const { return m_lost; }
    quint64 unreadableBytes() const { return m_unreadable; }

private:
    // After a failed read, reads are this small until this many in a row
    // have worked; a failed small read skips this much at first.
    static constexpr qint64 smallRead = 4096;
    static constexpr int carefulReads = 64;
    static constexpr qint64 maxSkipFloor = 64 * chunkStep;
    static constexpr qint64 aheadPiece = 4 * chunkStep;
    // Without a size there is no end to skip to: this many failures in a row
    // end the scan.
    static constexpr int unknownSizeFailureLimit = 8;

    struct Pending {
        qint64 offset = 0;
        qint64 length = 0;
    };

    std::uint8_t *slot(qint64 offset) { return const_cast<std::uint8_t *>(at(offset)); }

    void dropReadAhead()
    {
        if (!m_pending.empty())
            m_reader.cancelReadAhead();
        m_pending.clear();
        m_aheadEnd = 0;
    }

    bool sourceGone(const SourceReader::Result &result)
    {
        if (result.lost)
            return true;
        const std::optional<qint64> size = m_reader.currentSize();
        return size && *size <= m_end;
    }

    void fill(qint64 target)
    {
        while (m_end < target && !m_ended) {
            if (m_end < m_badUntil) {
                const qint64 zeros = std::min(m_badUntil, target) - m_end;
                std::memset(slot(m_end), 0, std::size_t(zeros));
                m_unreadable += quint64(zeros);
                m_end += zeros;
                continue;
            }
            qint64 length = target - m_end;
            const bool collecting = !m_pending.empty();
            if (collecting)
                length = m_pending.front().length;
            else if (m_careful > 0)
                length = std::min(length, smallRead);
            const SourceReader::Result result = m_reader.read(m_end, slot(m_end), length);
            if (collecting)
                m_pending.pop_front();
            // What was asked ahead follows on from a whole answer only.
            if (result.bytes != length)
                dropReadAhead();
            if (result.bytes > 0) {
                m_end += result.bytes;
                m_skip = smallRead;
                m_failures = 0;
                if (m_careful > 0)
                    --m_careful;
                continue;
            }
            if (result.error == 0 || result.error == ECANCELED) {
                // The end of the data; before the size the source had, it
                // went away or shrank.
                m_cancelled = result.error == ECANCELED;
                m_lost = !m_cancelled && m_scanSize != unknownSize && m_end < m_scanSize;
                m_ended = true;
                return;
            }
            if (sourceGone(result) || (m_scanSize == unknownSize && ++m_failures > unknownSizeFailureLimit)) {
                m_lost = true;
                m_ended = true;
                return;
            }
            // A large read may fail for one bad sector in it: try the same
            // place again in small pieces before giving any byte up.
            if (m_careful == 0 && length > smallRead) {
                m_careful = carefulReads;
                continue;
            }
            m_careful = carefulReads;
            m_badUntil = std::min(m_scanSize, m_end + m_skip);
            m_skip = std::min(2 * m_skip, m_maxSkip);
        }
    }

    SourceReader &m_reader;
    qint64 m_scanSize;
    qint64 m_reach;
    qint64 m_maxSkip;
    qint64 m_capacity = 0;
    std::uint8_t *m_ring = nullptr;
    bool m_ownsRing = true;
    std::unique_ptr<std::uint8_t[]> m_linear;
    qint64 m_start = 0;
    qint64 m_end = 0;
    // Ranges asked ahead, in order from m_end, up to m_aheadEnd.
    std::deque<Pending> m_pending;
    qint64 m_aheadEnd = 0;
    bool m_ended = false;
    bool m_cancelled = false;
    bool m_lost = false;
    // Read errors: bytes given up, where the stretch being skipped ends, the
    // next skip, small reads still to do, failures in a row.
    quint64 m_unreadable = 0;
    qint64 m_badUntil = 0;
    qint64 m_skip = smallRead;
    int m_careful = 0;
    int m_failures = 0;
};

} // namespace

std::unique_ptr<SourceReader> DirectScan::descriptorReader(int fd, bool sizeKnown)
{
    return std::make_unique<DescriptorReader>(fd, sizeKnown);
}

void DirectScan::setMirroredReadAhead(bool allowed)
{
    mirroredReadAheadAllowed.store(allowed);
}

void DirectScan::setVerifyingHits(bool verifying)
{
    verifyingHits.store(verifying);
}

bool DirectScan::isVerifyingHits()
{
    return verifyingHits.load();
}

void scanSource(SourceReader &reader, const DirectScan::Sizes &sizes, const std::shared_ptr<ByteSource> &hitSource,
                const QList<FileSignature> &signatures, const QString &sourceName, ScanSink &sink,
                const RawScanOptions &options)
{
    const qint64 readSize = chunkStep + overlap(signatures);
    const Carver carver(signatures);
    ReadAhead readAhead(reader, sizes.scanSize, std::max(readSize, chunkStep + windowCap));
    // Windows reach ten steps ahead; without the memo each step would search
    // them for footers again.
    CarveFooterMemo footerMemo;
    qsizetype lastFound = 0;
    // Hits are verified while the read-ahead still holds their first bytes;
    // walks that go further read on through the source.
    std::optional<HitVerifier> verifier;
    if (verifyingHits.load())
        verifier.emplace(signatures);
    const quint64 sourceEnd = sizes.knownTotal > 0 ? quint64(sizes.scanSize) : Verify::HitBytes::unknownEnd;
    const std::shared_ptr<const ByteSource> walkSource = options.walkSource ? options.walkSource : hitSource;
    const qint64 progressStep = std::max<qint64>(chunkStep, options.progressStep);

    for (qint64 offset = 0; offset < sizes.scanSize;) {
        if (sink.shouldCancel())
            break;
        const qint64 available = readAhead.ensure(offset);
        const qint64 n = std::min({sizes.scanSize - offset, readSize, available});
        // A reader that was waiting when Stop came has not read the whole
        // reach: carving now would cut windows short.
        if (n < 1 || readAhead.wasCancelled())
            break;

        const std::uint8_t *bytes = readAhead.at(offset);
        CarveInput input;
        input.buffer = std::span(bytes, std::size_t(n));
        input.scanLength = std::size_t(std::min(n, chunkStep));
        input.area = std::span(bytes, std::size_t(available));
        input.windowEnd = std::size_t(std::min(sizes.scanSize - offset, available));
        input.windowCap = std::size_t(windowCap);
        input.baseOffset = quint64(offset);
        input.footerMemo = &footerMemo;

        QList<CarvedFile> found;
        // Neighbouring steps hold similar content, so the last step's count
        // spares the list its growth steps (random data gives about 48).
        found.reserve(std::min(lastFound, maxBatch));
        qsizetype foundInStep = 0;
        // A step of crafted data can hold a hit every few bytes; they go out
        // in batches of bounded size, each ending between two offsets so that
        // the rows of one offset are verified together.
        const auto send = [&] {
            foundInStep += found.size();
            if (verifier && !found.isEmpty())
                verifier->verify(found, {std::span(bytes, std::size_t(available)), quint64(offset), walkSource, sourceEnd});
            if (!found.isEmpty()) {
                sink.postCarvedFiles(std::exchange(found, {}));
                found.reserve(maxBatch);
            }
        };
        const auto keep = [&](const CarveHit &hit) {
            if (found.size() >= maxBatch && found.constLast().offset != quint64(offset) + hit.position)
                send();
            found.append(makeCarvedFile(hit, carver.signatures().at(hit.signature), quint64(offset), sourceName,
                                        carvedDataOf(hit, quint64(offset), bytes, hitSource)));
        };
        if (!signatures.isEmpty()) // nothing can match; spare the carver its pass
            carver.carve(input, keep);
        send();
        lastFound = foundInStep;

        // Never more than the data holds: the last step is usually short.
        const qint64 scanned = offset + std::min(n, chunkStep);
        offset += chunkStep;
        const bool last = scanned >= sizes.scanSize || (readAhead.ended() && readAhead.end() <= offset);
        if (!last && scanned % progressStep != 0)
            continue;
        const qint64 total = sizes.knownTotal;
        std::optional<double> fraction;
        if (total != 0)
            fraction = std::min(1.0, double(scanned) / double(total));
        sink.postProgress(quint64(scanned), fraction,
                          [sourceName, scanned, total, text = options.progressText](qsizetype hitCount) {
                              return text(sourceName, scanned, total, hitCount);
                          });
    }

    const ReadOutcome outcome{readAhead.unreadableBytes(), readAhead.lostSource()};
    if (outcome.unreadableBytes == 0 && !outcome.sourceLost)
        return;
    QStringList problems;
    if (outcome.sourceLost)
        problems << sourceLostText(sourceName, readAhead.end(), sizes.knownTotal);
    if (outcome.unreadableBytes != 0)
        problems << unreadableText(outcome.unreadableBytes);
    sink.postError(problems.join(QStringLiteral("\n\n")));
    sink.postReadOutcome(outcome);
}

void scanRawFile(const QString &path, const QList<FileSignature> &signatures, const QString &sourceName,
                 ScanSink &sink, const ScanTexts &texts)
{
    // Non-blocking, so that opening a named pipe does not wait for a writer;
    // such a source is refused below.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        sink.postError(openErrorText(path, errno, texts));
        return;
    }
    struct stat status {};
    const Sizes sizes = sizesOf(fd);
    const QString unsupported = ::fstat(fd, &status) == 0
        ? unsupportedSourceText(path, status.st_mode, sizes.knownTotal)
        : QString();
    if (!unsupported.isEmpty()) {
        ::close(fd);
        sink.postError(unsupported);
        return;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    sink.postStatus(QStringLiteral("Scanning ") + sourceName + QStringLiteral("..."));
    DescriptorReader reader(fd, sizes.knownTotal > 0);
    scanSource(reader, sizes, std::make_shared<FileByteSource>(path), signatures, sourceName, sink);
    ::close(fd);
}
