#include "existingfiles.h"

#include "carving/directoryscan.h"
#include "system/safefile.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace ExistingFiles {

quint64 headerHash(std::span<const std::uint8_t> bytes)
{
    const std::size_t length = std::min<std::size_t>(bytes.size(), headSize);
    quint64 words[headSize / 8] = {};
    std::memcpy(words, bytes.data(), length);
    // Rounds of the xxHash/Murmur kind over four words, then a full
    // avalanche; the length goes in first, so zero padding can't make two
    // different heads equal.
    quint64 hash = 0x9E3779B97F4A7C15ULL ^ (quint64(length) * 0xC2B2AE3D27D4EB4FULL);
    for (const quint64 word : words) {
        hash ^= word * 0x87C37B91114253D5ULL;
        hash = ((hash << 31) | (hash >> 33)) * 0x4CF5AD432745937FULL;
    }
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDULL;
    hash ^= hash >> 33;
    hash *= 0xC4CEB9FE1A85EC53ULL;
    hash ^= hash >> 33;
    return hash;
}

bool isInTrash(const QString &path)
{
    static const QRegularExpression volumeTrash(u"/\\.trash-\\d+/"_s);
    const QString lower = path.toLower();
    return lower.contains(u"/.trash/"_s) || lower.contains(u"/.trashes/"_s)
        || lower.contains(u"/.local/share/trash/"_s) || volumeTrash.match(lower).hasMatch();
}

} // namespace ExistingFiles

PathTable::PathTable(const QString &root)
{
    QString cleaned = root;
    while (cleaned.size() > 1 && cleaned.endsWith(u'/'))
        cleaned.chop(1);
    m_root = cleaned == u"/"_s ? QByteArray() : QFile::encodeName(cleaned);
    m_parents.push_back(rootIndex);
    m_nameEnds.push_back(0);
}

quint32 PathTable::add(quint32 parent, std::string_view name)
{
    m_names.append(name);
    m_parents.push_back(parent);
    m_nameEnds.push_back(quint32(m_names.size()));
    return quint32(m_parents.size() - 1);
}

QString PathTable::path(quint32 index) const
{
    if (index >= m_parents.size())
        return QString();
    if (index == rootIndex)
        return m_root.isEmpty() ? u"/"_s : QFile::decodeName(m_root);
    std::vector<quint32> chain;
    for (quint32 at = index; at != rootIndex; at = m_parents[at])
        chain.push_back(at);
    QByteArray bytes = m_root;
    for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
        bytes.append('/');
        bytes.append(m_names.data() + m_nameEnds[*at - 1], qsizetype(m_nameEnds[*at] - m_nameEnds[*at - 1]));
    }
    return QFile::decodeName(bytes);
}

FingerprintTable::FingerprintTable(const QList<FileSignature> &signatures)
{
    for (qsizetype i = 0; i < signatures.size(); ++i)
        m_types.insert(signatures.at(i).typeName, quint32(i));
}

void FingerprintTable::add(int signature, qint64 size, quint64 hash, quint32 path)
{
    m_entries.push_back(Entry{hash, size, path, quint32(signature)});
}

namespace {
bool keyBefore(quint32 typeA, quint64 hashA, qint64 sizeA, quint32 typeB, quint64 hashB, qint64 sizeB)
{
    if (typeA != typeB)
        return typeA < typeB;
    if (hashA != hashB)
        return hashA < hashB;
    return sizeA < sizeB;
}
} // namespace

void FingerprintTable::seal()
{
    // Stable, so that among equal fingerprints the order of adding remains
    // and the last one added can be kept.
    std::stable_sort(m_entries.begin(), m_entries.end(), [](const Entry &a, const Entry &b) {
        return keyBefore(a.type, a.hash, a.size, b.type, b.hash, b.size);
    });
    auto kept = m_entries.begin();
    for (auto at = m_entries.begin(); at != m_entries.end(); ++at) {
        const auto next = at + 1;
        const bool lastOfItsKind =
            next == m_entries.end() || next->type != at->type || next->hash != at->hash || next->size != at->size;
        if (lastOfItsKind)
            *kept++ = *at;
    }
    m_entries.erase(kept, m_entries.end());
    m_entries.shrink_to_fit();
}

std::optional<quint32> FingerprintTable::match(const QString &signatureType, qint64 size, quint64 hash) const
{
    const auto type = m_types.constFind(signatureType);
    if (type == m_types.cend())
        return std::nullopt;
    const quint32 wanted = *type;
    // The sizes within the tolerance of `size` form one run around it: below
    // it, those down to size - size / 10; above it, those up to the largest
    // e with e - size <= e / 10, which grows with e. So the nearest entry on
    // each side decides.
    const auto first = std::lower_bound(m_entries.begin(), m_entries.end(), size, [&](const Entry &e, qint64 s) {
        return keyBefore(e.type, e.hash, e.size, wanted, hash, s);
    });
    const auto qualifies = [&](const Entry &e) {
        if (e.type != wanted || e.hash != hash)
            return false;
        const qint64 larger = std::max(e.size, size);
        const qint64 difference = e.size > size ? e.size - size : size - e.size;
        return difference <= larger / 10;
    };
    if (first != m_entries.end() && qualifies(*first))
        return first->path; // the exact fingerprint when there is one
    if (first != m_entries.begin() && qualifies(*(first - 1)))
        return (first - 1)->path;
    return std::nullopt;
}

Verdict judgeHit(const HitFacts &hit, const FingerprintTable &table, const PathTable &paths)
{
    Verdict verdict;
    if (!hit.hasData) {
        if (hit.sourcePath.isEmpty())
            return verdict;
        if (ExistingFiles::isInTrash(hit.sourcePath)) {
            verdict.mark = Verdict::Mark::deleted;
            return verdict;
        }
        struct stat status {};
        if (::stat(QFile::encodeName(hit.sourcePath).constData(), &status) == 0) {
            verdict.mark = Verdict::Mark::existing;
            verdict.matchedPath = hit.sourcePath;
        } else {
            verdict.mark = Verdict::Mark::deleted;
        }
        return verdict;
    }
    const auto head = std::span(reinterpret_cast<const std::uint8_t *>(hit.head.constData()),
                                std::size_t(std::min(hit.head.size(), ExistingFiles::headSize)));
    if (const auto path = table.match(hit.signatureType, hit.estimatedSize, ExistingFiles::headerHash(head))) {
        verdict.mark = Verdict::Mark::existing;
        verdict.matchedPath = paths.path(*path);
    } else {
        verdict.mark = Verdict::Mark::deleted;
    }
    return verdict;
}

namespace {

// Fingerprints every visible file the signatures recognise, until the walk
// ends or is stopped.
void fingerprintTree(TreeWalk::Walker &walker, const QList<FileSignature> &signatures, ReviewingSink &sink,
                     FingerprintTable &table, PathTable &paths)
{
    // folders[d] is the folder whose entries are at depth d.
    std::vector<quint32> folders{PathTable::rootIndex};
    qint64 seen = 0;
    walker.run([&](const TreeWalk::Entry &entry) {
        if (sink.shouldCancel())
            return false;
        ++seen;
        const std::string_view name(entry.name, entry.nameLength);
        if (entry.kind == TreeWalk::Kind::folder) {
            folders.resize(std::size_t(entry.depth) + 2);
            folders[std::size_t(entry.depth) + 1] = paths.add(folders[std::size_t(entry.depth)], name);
            return true;
        }
        if (entry.kind != TreeWalk::Kind::file)
            return true;
        char head[ExistingFiles::headSize];
        qint64 size = 0;
        const qsizetype got = SafeFile::readHead(entry.folderFd, entry.name, head, sizeof head, &size,
                                                 entry.keepAccessTime);
        if (got < ExistingFiles::minimumHead)
            return true;
        const auto bytes = std::span(reinterpret_cast<const std::uint8_t *>(head), std::size_t(got));
        const int signature = recogniseFile(bytes, signatures);
        if (signature >= 0)
            table.add(signature, size, ExistingFiles::headerHash(bytes),
                      paths.add(folders[std::size_t(entry.depth)], name));
        if (seen % ExistingFiles::progressInterval == 0)
            sink.postStatus(u"Filtering: checked "_s + QString::number(seen) + u" existing files..."_s);
        return true;
    });
    table.seal();
}

} // namespace

void matchExistingFiles(const QString &root, const QList<FileSignature> &signatures, ReviewingSink &sink,
                        TreeWalk::Scope scope)
{
    sink.postStatus(u"Filtering: comparing with existing files on volume..."_s);
    TreeWalk::Walker walker(root, {scope, true});
    if (!walker.open())
        return;

    QList<HitFacts> facts;
    const bool read = sink.withHits([&facts](HitTable &hits) {
        facts.reserve(hits.hitCount());
        for (qsizetype row = 0; row < hits.hitCount(); ++row) {
            const CarvedFile &hit = hits.hitAt(row);
            facts.append(HitFacts{hit.id, hit.data.has_value(), hit.sourcePath, hit.signatureType, hit.estimatedSize,
                                  hit.data ? hit.data->head : QByteArray()});
        }
    });
    if (!read)
        return;

    // Only hits with bytes are looked up in the table; a hit that stands for
    // a file at a path (every hit of a Directory Scan) is judged by that path.
    // Without hits with bytes the walk would read every file again for
    // nothing, doubling the time of a Directory Scan.
    PathTable paths(root);
    FingerprintTable table(signatures);
    if (std::any_of(facts.cbegin(), facts.cend(), [](const HitFacts &hit) { return hit.hasData; }))
        fingerprintTree(walker, signatures, sink, table, paths);

    std::vector<Verdict> verdicts;
    verdicts.reserve(std::size_t(facts.size()));
    for (const HitFacts &hit : std::as_const(facts))
        verdicts.push_back(judgeHit(hit, table, paths));

    int existing = 0;
    const bool marked = sink.withHits([&](HitTable &hits) {
        const qsizetype rows = std::min(hits.hitCount(), facts.size());
        for (qsizetype row = 0; row < rows; ++row) {
            const CarvedFile &hit = hits.hitAt(row);
            const Verdict &verdict = verdicts[std::size_t(row)];
            if (hit.id != facts.at(row).id || verdict.mark == Verdict::Mark::unchanged)
                continue;
            if (verdict.mark == Verdict::Mark::existing) {
                hits.setRecoveryStatus(row, RecoveryStatus::existing, verdict.matchedPath);
                ++existing;
            } else {
                hits.setRecoveryStatus(row, RecoveryStatus::deleted, hit.matchedExistingPath);
            }
        }
    });
    if (!marked)
        return;
    sink.postExistingFileCount(existing);
    sink.postStatus(u"Filtering complete: "_s + QString::number(existing) + u" existing files identified"_s);
}
