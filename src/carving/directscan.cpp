#include "directscan.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "carving/carver.h"
#include "model/bytecount.h"

ScanTexts::ScanTexts()
    : rawAccessPrivileges(QStringLiteral(
          "\n\n⚠️ Raw device access requires elevated privileges:\n\n"
          "1️⃣ Full Disk Access\n"
          "   System Settings → Privacy & Security → Full Disk Access\n"
          "   → Add this app\n\n"
          "2️⃣ Root Privileges Required\n"
          "   Raw disk nodes (/dev/rdisk*) require administrator (root) access.\n"
          "   This is a macOS security restriction that apps cannot bypass.\n\n"
          "3️⃣ Internal Drive + SIP\n"
          "   Internal APFS drives are additionally protected by System Integrity Protection.\n\n"
          "💡 Recommendation:\n"
          "• Use \"Directory Scan\" mode for internal drives (no special permissions needed)\n"
          "• External USB/SD drives may work with Full Disk Access alone\n"
          "• For deep raw recovery, use \"diskutil\" or professional recovery tools run as root"))
    , deviceBusyTemplate(QStringLiteral(
          "Cannot open %1: Device busy\n\nThe volume may need to be unmounted first.\n"
          "Try: diskutil unmount %1 in Terminal.\n\n"
          "💡 Tip: Using \"Directory Scan\" mode does not require unmounting."))
    , otherAdvice(QStringLiteral(
          "\n\n💡 Try using \"Directory Scan\" mode instead, which does not require raw device access."))
{
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

// Bytes of the source held in memory: [start, start + filled). Every window of
// the step at `offset` ends by offset + chunkStep + windowCap, so the area is
// topped up to that point before the step is carved; refills read well beyond
// it so that most steps need no read at all.
class ReadAhead
{
public:
    ReadAhead(int fd, qint64 scanSize)
        : m_fd(fd)
        , m_scanSize(scanSize)
        , m_bytes(std::make_unique_for_overwrite<std::uint8_t[]>(std::size_t(capacity)))
    {
    }

    // Makes the bytes from `offset` up to offset + `reach` (or the end of the
    // data) available and returns how many there are.
    qint64 ensure(qint64 offset, qint64 reach)
    {
        const qint64 wanted = std::min(m_scanSize, offset + reach);
        if (m_start + m_filled < wanted && !m_ended) {
            const qint64 keep = std::max<qint64>(0, m_start + m_filled - offset);
            if (keep > 0)
                std::memmove(m_bytes.get(), m_bytes.get() + (offset - m_start), std::size_t(keep));
            m_start = offset;
            m_filled = keep;
            const qint64 fillEnd = std::min(m_scanSize, m_start + capacity);
            while (m_start + m_filled < fillEnd) {
                const ssize_t got = ::pread(m_fd, m_bytes.get() + m_filled, std::size_t(fillEnd - m_start - m_filled),
                                            off_t(m_start + m_filled));
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0) {
                    // End of data or a read error: nothing past this point is
                    // read again, so the scan ends where the data ends.
                    m_ended = true;
                    break;
                }
                m_filled += got;
            }
        }
        return std::max<qint64>(0, m_start + m_filled - offset);
    }

    const std::uint8_t *at(qint64 offset) const { return m_bytes.get() + (offset - m_start); }

private:
    static constexpr qint64 capacity = chunkStep + windowCap + 64 * chunkStep;

    int m_fd;
    qint64 m_scanSize;
    std::unique_ptr<std::uint8_t[]> m_bytes;
    qint64 m_start = 0;
    qint64 m_filled = 0;
    bool m_ended = false;
};

} // namespace

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
    ReadAhead readAhead(fd, sizes.scanSize);

    sink.postStatus(QStringLiteral("Scanning ") + sourceName + QStringLiteral("..."));

    for (qint64 offset = 0; offset < sizes.scanSize;) {
        if (sink.shouldCancel())
            break;
        const qint64 available = readAhead.ensure(offset, std::max(readSize, chunkStep + windowCap));
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

        QList<CarvedFile> found;
        const auto keep = [&](const CarveHit &hit) {
            CarvedData data;
            data.source = source;
            data.offset = quint64(offset) + hit.position;
            data.length = hit.end;
            data.head = QByteArray(reinterpret_cast<const char *>(bytes + hit.position),
                                   qsizetype(std::min<qint64>(CarvedData::headSize, hit.end)));
            found.append(makeCarvedFile(hit, carver.signatures().at(hit.signature), quint64(offset), sourceName,
                                        std::move(data)));
        };
        if (!signatures.isEmpty()) // nothing can match; spare the carver its pass
            carver.carve(input, keep);
        if (!found.isEmpty())
            sink.postCarvedFiles(std::move(found));

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
