#include "directoryscan.h"

#include "system/safefile.h"

#include <QFile>

#include <chrono>
#include <utility>

using namespace Qt::Literals::StringLiterals;

int recogniseFile(std::span<const std::uint8_t> head, const QList<FileSignature> &signatures)
{
    for (qsizetype i = 0; i < signatures.size(); ++i) {
        const FileSignature &signature = signatures.at(i);
        if (signature.headerMatches(head, 0) && (!signature.validator || signature.validator(head)))
            return int(i);
    }
    return -1;
}

namespace {

// A folder of photos yields hits by the thousand each second; one posted
// change per hit, each with its own text, would keep the window's thread busy
// redrawing texts nobody can read. Hits are therefore sent in small groups,
// the first at once, and every group carries the text of its last hit.
class FoundHits
{
public:
    explicit FoundHits(ScanSink &sink) : m_sink(sink) {}
    ~FoundHits() { flush(); }

    void add(CarvedFile hit, const char *name, std::size_t nameLength)
    {
        m_pending.append(std::move(hit));
        ++m_found;
        m_lastName = QByteArray(name, qsizetype(nameLength));
        flushIfDue();
    }

    void flushIfDue()
    {
        if (!m_pending.isEmpty() && std::chrono::steady_clock::now() - m_lastFlush >= interval)
            flush();
    }

    void flush()
    {
        if (m_pending.isEmpty())
            return;
        m_sink.postCarvedFiles(std::exchange(m_pending, {}));
        m_sink.postStatus(u"Found "_s + QString::number(m_found) + u" files... "_s + QFile::decodeName(m_lastName));
        m_lastFlush = std::chrono::steady_clock::now();
    }

private:
    static constexpr std::chrono::milliseconds interval{50};

    ScanSink &m_sink;
    QList<CarvedFile> m_pending;
    qsizetype m_found = 0;
    QByteArray m_lastName;
    std::chrono::steady_clock::time_point m_lastFlush{};
};

} // namespace

void scanDirectoryTree(const QString &root, const QList<FileSignature> &signatures, ScanSink &sink,
                       TreeWalk::Scope scope)
{
    TreeWalk::Walker walker(root, {scope, false});
    if (!walker.open()) {
        sink.postError(u"Cannot access directory: "_s + root);
        return;
    }
    FoundHits hits(sink);
    qint64 seen = 0;
    walker.run([&](const TreeWalk::Entry &entry) {
        if (sink.shouldCancel())
            return false;
        ++seen;
        if (entry.kind != TreeWalk::Kind::file) {
            hits.flushIfDue();
            return true;
        }
        char head[DirectoryScan::headSize];
        qint64 size = 0;
        const qsizetype got = SafeFile::readHead(entry.folderFd, entry.name, head, sizeof head, &size,
                                                 entry.keepAccessTime);
        if (got < 0) {
            hits.flushIfDue();
            return true;
        }
        const auto bytes = std::span(reinterpret_cast<const std::uint8_t *>(head), std::size_t(got));
        const int match = recogniseFile(bytes, signatures);
        if (match >= 0) {
            const FileSignature &signature = signatures.at(match);
            CarvedFile hit;
            hit.signatureType = signature.typeName;
            hit.fileExtension = signature.fileExtension;
            hit.offset = 0;
            hit.estimatedSize = size;
            hit.health = CarvedFileHealth::good;
            hit.sourcePath = walker.pathOf(entry);
            hits.add(std::move(hit), entry.name, entry.nameLength);
        } else {
            hits.flushIfDue();
        }
        if (seen % DirectoryScan::progressInterval == 0) {
            hits.flush();
            sink.postStatus(u"Scanned "_s + QString::number(seen) + u" files..."_s);
        }
        return true;
    });
}
