#include "hitverifier.h"

#include <algorithm>

#include "carving/verify/walkers.h"
#include "model/bytesource.h"

using namespace Verify;

namespace {

QString hexOffset(quint64 offset)
{
    return QStringLiteral("0x") + QString::number(offset, 16).toUpper();
}

Verification fromOutcome(const Outcome &outcome)
{
    Verification verification;
    verification.state = outcome.verified ? Verification::State::verified : Verification::State::unverified;
    verification.length = outcome.verified ? qint64(outcome.length) : 0;
    verification.reason = outcome.reason;
    return verification;
}

Verification unverified(QString reason)
{
    Verification verification;
    verification.state = Verification::State::unverified;
    verification.reason = std::move(reason);
    return verification;
}

} // namespace

HitVerifier::HitVerifier(const QList<FileSignature> &signatures)
    : m_list(signatures)
    , m_pdfEnds(std::make_unique<SearchMemo>(QByteArray("%%EOF")))
{
    for (int i = 0; i < m_list.size(); ++i) {
        m_signatures.insert(m_list[i].typeName, &m_list[i]);
        m_order.insert(m_list[i].typeName, i);
    }
}

HitVerifier::~HitVerifier() = default;

const FileSignature *HitVerifier::signatureNamed(const QString &typeName) const
{
    return m_signatures.value(typeName, nullptr);
}

Verification HitVerifier::walkOnce(const FileSignature &signature, HitBytes &bytes)
{
    const Walker walker = walkerFor(signature.typeName);
    if (!walker)
        return {};
    bytes.setTypeLimit(quint64(std::max<qint64>(0, signature.maxFileSize)));
    return fromOutcome(walker(bytes, nullptr));
}

void HitVerifier::verify(QList<CarvedFile> &hits, const Bytes &bytes)
{
    for (Walked &walked : m_lastWalk)
        walked.batchIndex = -1;
    for (qsizetype i = 0; i < hits.size(); ++i) {
        CarvedFile &hit = hits[i];
        const FileSignature *signature = signatureNamed(hit.signatureType);
        const Walker walker = signature ? walkerFor(hit.signatureType) : nullptr;
        if (!walker)
            continue;
        const QString family = familyOf(hit.signatureType);
        auto last = m_lastWalk.find(family);
        if (last != m_lastWalk.end()) {
            Walked &earlier = *last;
            if (earlier.verified && hit.offset > earlier.start && hit.offset < earlier.end) {
                hit.verification = unverified(QStringLiteral("part of the ") + earlier.typeName
                                              + QStringLiteral(" file at ") + hexOffset(earlier.start));
                continue;
            }
            if (walksFrames(hit.signatureType) && hit.offset > earlier.start && hit.offset < earlier.end
                && std::binary_search(earlier.frames.begin(), earlier.frames.end(), hit.offset)) {
                hit.verification = earlier.verified
                    ? unverified(QStringLiteral("part of the ") + earlier.typeName + QStringLiteral(" file at ")
                                 + hexOffset(earlier.start))
                    : unverified(earlier.reason);
                continue;
            }
        }

        const std::span<const std::uint8_t> inMemory =
            hit.offset >= bytes.memoryOffset && hit.offset - bytes.memoryOffset < bytes.inMemory.size()
            ? bytes.inMemory.subspan(std::size_t(hit.offset - bytes.memoryOffset))
            : std::span<const std::uint8_t>();
        const quint64 remaining = bytes.sourceSize == HitBytes::unknownEnd ? HitBytes::unknownEnd
            : bytes.sourceSize > hit.offset                               ? bytes.sourceSize - hit.offset
                                                                          : 0;
        HitBytes hitBytes(inMemory, bytes.source, hit.offset, remaining);
        hitBytes.setTypeLimit(quint64(std::max<qint64>(0, signature->maxFileSize)));
        if (hit.signatureType == QLatin1String("PDF"))
            hitBytes.setSearchMemo(m_pdfEnds.get());
        WalkLog log;
        const Outcome outcome = walker(hitBytes, walksFrames(hit.signatureType) ? &log : nullptr);
        m_fetched += hitBytes.bytesFetched();
        hit.verification = fromOutcome(outcome);

        // Two rows of one family verifying the same bytes: the later row is
        // the more specific type (MOV and M4A after MP4).
        if (outcome.verified && last != m_lastWalk.end() && last->verified && last->start == hit.offset
            && last->batchIndex >= 0) {
            CarvedFile &other = hits[last->batchIndex];
            const bool laterRow = m_order.value(hit.signatureType) > m_order.value(other.signatureType);
            CarvedFile &loser = laterRow ? other : hit;
            const CarvedFile &winner = laterRow ? hit : other;
            loser.verification = unverified(QStringLiteral("same file as the ") + winner.signatureType
                                            + QStringLiteral(" hit"));
            if (!laterRow)
                continue;
        }

        Walked walked;
        walked.start = hit.offset;
        walked.verified = outcome.verified;
        walked.end = hit.offset + (outcome.verified ? outcome.length : std::max<quint64>(outcome.reached, 1));
        walked.typeName = hit.signatureType;
        walked.reason = outcome.reason;
        walked.batchIndex = i;
        walked.frames.reserve(log.frames.size());
        for (const quint64 frame : log.frames)
            walked.frames.push_back(hit.offset + frame);
        // A failed walk inside an earlier one's stretch (a stray sync word in
        // frame data, a broken candidate inside a whole file) keeps that
        // walk for the candidates after it.
        if (last != m_lastWalk.end() && !walked.verified && walked.start < last->end)
            continue;
        m_lastWalk.insert(family, std::move(walked));
    }
}
