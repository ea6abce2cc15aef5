#include "directscan.h"

#include "system/platform.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

Sizes sizesOf(int fd)
{
    Sizes sizes;
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return sizes;
    if (S_ISBLK(status.st_mode) || S_ISCHR(status.st_mode)) {
        const off_t end = ::lseek(fd, 0, SEEK_END);
        if (end >= 1) {
            ::lseek(fd, 0, SEEK_SET);
            sizes.scanSize = end;
            sizes.knownTotal = end;
        }
        return sizes;
    }
    sizes.knownTotal = status.st_size;
    if (status.st_size > 0)
        sizes.scanSize = status.st_size;
    return sizes;
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
    void *base = MAP_FAILED;
    if (::ftruncate(fd, off_t(size)) == 0)
        base = ::mmap(nullptr, 2 * size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        ::close(fd);
        return nullptr;
    }
    auto *bytes = static_cast<std::uint8_t *>(base);
    const bool mapped =
        ::mmap(bytes, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0) != MAP_FAILED
        && ::mmap(bytes + size, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0) != MAP_FAILED;
    ::close(fd);
    if (!mapped) {
        ::munmap(base, 2 * size);
        return nullptr;
    }
    return bytes;
#else
    Q_UNUSED(size);
    return nullptr;
#endif
}

// Bytes of the source held in memory: [start, end). Before a step at `offset`
// is carved, the bytes up to offset + `reach` (every window of the step ends
// by then) are made available; bytes before `offset` are no longer needed.
//
// Preferably the bytes live in a mirrored ring a little larger than `reach`,
// small enough to stay in the processor's cache between the read that fills
// it and the carver that looks at it. Otherwise a larger plain buffer is used
// and its tail is moved to the front when the scan moves on.
class ReadAhead
{
public:
    ReadAhead(int fd, qint64 scanSize, qint64 reach)
        : m_fd(fd)
        , m_scanSize(scanSize)
        , m_reach(reach)
    {
        const qint64 page = ::sysconf(_SC_PAGESIZE) > 0 ? ::sysconf(_SC_PAGESIZE) : 4096;
        const qint64 ringSize = (reach + 5 * chunkStep + page - 1) / page * page;
        if (mirroredReadAheadAllowed.load())
            m_ring = mapMirrored(std::size_t(ringSize));
        if (m_ring) {
            m_capacity = ringSize;
        } else {
            m_capacity = reach + 64 * chunkStep;
            m_linear = std::make_unique_for_overwrite<std::uint8_t[]>(std::size_t(m_capacity));
        }
    }

    ~ReadAhead()
    {
        if (m_ring)
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
            const qint64 start = std::min(offset, m_end);
            if (!m_ring && m_end > start)
                std::memmove(m_linear.get(), slot(start), std::size_t(m_end - start));
            m_start = start;
            m_end = std::max(m_end, start);
            const qint64 fillEnd = std::min(m_scanSize, m_start + m_capacity);
            while (m_end < fillEnd) {
                const ssize_t got = ::pread(m_fd, slot(m_end), std::size_t(fillEnd - m_end), off_t(m_end));
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0) {
                    // End of data or a read error: nothing past this point is
                    // read again, so the scan ends where the data ends.
                    m_ended = true;
                    break;
                }
                m_end += got;
            }
        }
        return std::max<qint64>(0, m_end - offset);
    }

    // Contiguous bytes from `offset` on, as many as ensure() reported.
    const std::uint8_t *at(qint64 offset) const
    {
        return m_ring ? m_ring + (offset % m_capacity) : m_linear.get() + (offset - m_start);
    }

private:
    std::uint8_t *slot(qint64 offset) { return const_cast<std::uint8_t *>(at(offset)); }

    int m_fd;
    qint64 m_scanSize;
    qint64 m_reach;
    qint64 m_capacity = 0;
    std::uint8_t *m_ring = nullptr;
    std::unique_ptr<std::uint8_t[]> m_linear;
    qint64 m_start = 0;
    qint64 m_end = 0;
    bool m_ended = false;
};

} // namespace

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

void scanRawFile(const QString &path, const QList<FileSignature> &signatures, const QString &sourceName,
                 ScanSink &sink, const ScanTexts &texts)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        sink.postError(openErrorText(path, errno, texts));
        return;
    }
    const Sizes sizes = sizesOf(fd);
    const qint64 readSize = chunkStep + overlap(signatures);
    const auto source = std::make_shared<FileByteSource>(path);
    const Carver carver(signatures);
    ReadAhead readAhead(fd, sizes.scanSize, std::max(readSize, chunkStep + windowCap));
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

    sink.postStatus(QStringLiteral("Scanning ") + sourceName + QStringLiteral("..."));

    for (qint64 offset = 0; offset < sizes.scanSize;) {
        if (sink.shouldCancel())
            break;
        const qint64 available = readAhead.ensure(offset);
        const qint64 n = std::min({sizes.scanSize - offset, readSize, available});
        if (n < 1)
            break;

        const std::uint8_t *bytes = readAhead.at(offset);
        CarveInput input;
        input.buffer = std::span(bytes, std::size_t(n));
        input.scanLength = std::size_t(std::min(n, chunkStep));
        input.area = std::span(bytes, std::size_t(available));
        input.windowEnd = std::size_t(sizes.scanSize - offset);
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
                verifier->verify(found, {std::span(bytes, std::size_t(available)), quint64(offset), source, sourceEnd});
            if (!found.isEmpty()) {
                sink.postCarvedFiles(std::exchange(found, {}));
                found.reserve(maxBatch);
            }
        };
        const auto keep = [&](const CarveHit &hit) {
            if (found.size() >= maxBatch && found.constLast().offset != quint64(offset) + hit.position)
                send();
            found.append(makeCarvedFile(hit, carver.signatures().at(hit.signature), quint64(offset), sourceName,
                                        carvedDataOf(hit, quint64(offset), bytes, source)));
        };
        if (!signatures.isEmpty()) // nothing can match; spare the carver its pass
            carver.carve(input, keep);
        send();
        lastFound = foundInStep;

        offset += chunkStep;
        const qint64 scanned = offset;
        const qint64 total = sizes.knownTotal;
        std::optional<double> fraction;
        if (total != 0)
            fraction = std::min(1.0, double(scanned) / double(total));
        sink.postProgress(quint64(scanned), fraction, [sourceName, scanned, total](qsizetype hitCount) {
            return progressText(sourceName, scanned, total, hitCount);
        });
    }
    ::close(fd);
}
