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
    QHash<QString, int> families;
    for (int i = 0; i < m_list.size(); ++i) {
        const QString &name = m_list[i].typeName;
        TypeInfo info;
        info.signature = &m_list[i];
        info.walker = walkerFor(name);
        const QString family = familyOf(name);
        auto known = families.constFind(family);
        if (known == families.cend())
            known = families.insert(family, int(families.size()));
        info.family = *known;
        info.walksFrames = walksFrames(name);
        info.order = i;
        info.usesPdfMemo = name == QLatin1String("PDF");
        m_types.insert(name, info);
    }
    m_lastWalk.resize(std::size_t(families.size()));
}

HitVerifier::~HitVerifier() = default;

Verification HitVerifier::walkOnce(const FileSignature &signature, HitBytes &bytes)
{
    const Walker walker = walkerFor(signature.typeName);
    if (!walker)
        return {};
    bytes.setTypeLimit(quint64(std::max<qint64>(0, signature.maxFileSize)));
    return fromOutcome(walker(bytes, nullptr));
}

const QString &HitVerifier::Walked::partOfReason()
{
    if (partOf.isNull())
        partOf = QStringLiteral("part of the ") + typeName + QStringLiteral(" file at ") + hexOffset(start);
    return partOf;
}

void HitVerifier::verify(QList<CarvedFile> &hits, const Bytes &bytes)
{
    for (std::optional<Walked> &walked : m_lastWalk) {
        if (walked)
            walked->batchIndex = -1;
    }
    // Crafted data can hold a candidate every few bytes; the lookups below
    // run once per type name in a row of equal ones.
    const QString *lastType = nullptr;
    const TypeInfo *info = nullptr;
    for (qsizetype i = 0; i < hits.size(); ++i) {
        CarvedFile &hit = hits[i];
        if (!lastType || *lastType != hit.signatureType) {
            const auto found = m_types.constFind(hit.signatureType);
            info = found == m_types.cend() ? nullptr : &*found;
            lastType = &hit.signatureType;
        }
        if (!info || !info->walker)
            continue;
        std::optional<Walked> &last = m_lastWalk[std::size_t(info->family)];
        if (last) {
            Walked &earlier = *last;
            if (earlier.verified && hit.offset > earlier.start && hit.offset < earlier.end) {
                hit.verification = unverified(earlier.partOfReason());
                continue;
            }
            if (info->walksFrames && hit.offset > earlier.start && hit.offset < earlier.end
                && std::binary_search(earlier.frames.begin(), earlier.frames.end(), hit.offset)) {
                hit.verification = unverified(earlier.verified ? earlier.partOfReason() : earlier.reason);
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
        hitBytes.setTypeLimit(quint64(std::max<qint64>(0, info->signature->maxFileSize)));
        if (info->usesPdfMemo)
            hitBytes.setSearchMemo(m_pdfEnds.get());
        const quint64 allowed = m_budget.base
            + (m_budget.scannedPerByte != 0 ? hit.offset / m_budget.scannedPerByte : 0);
        quint64 budget = allowed > m_searchSpent ? allowed - m_searchSpent : 0;
        const quint64 budgetBefore = budget;
        hitBytes.setSearchBudget(&budget);
        WalkLog log;
        const Outcome outcome = info->walker(hitBytes, info->walksFrames ? &log : nullptr);
        m_fetched += hitBytes.bytesFetched();
        m_searchSpent += budgetBefore - budget;
        hit.verification = fromOutcome(outcome);

        // Two rows of one family verifying the same bytes: the later row is
        // the more specific type (MOV and M4A after MP4).
        if (outcome.verified && last && last->verified && last->start == hit.offset && last->batchIndex >= 0) {
            CarvedFile &other = hits[last->batchIndex];
            const bool laterRow = info->order > m_types.value(other.signatureType).order;
            CarvedFile &loser = laterRow ? other : hit;
            const CarvedFile &winner = laterRow ? hit : other;
            loser.verification = unverified(QStringLiteral("same file as the ") + winner.signatureType
                                            + QStringLiteral(" hit"));
            if (!laterRow)
                continue;
        }

        // A failed walk inside an earlier one's stretch (a stray sync word in
        // frame data, a broken candidate inside a whole file) keeps that
        // walk for the candidates after it.
        if (last && !outcome.verified && hit.offset < last->end)
            continue;
        Walked &walked = last.emplace();
        walked.start = hit.offset;
        walked.verified = outcome.verified;
        walked.end = hit.offset + (outcome.verified ? outcome.length : std::max<quint64>(outcome.reached, 1));
        walked.typeName = hit.signatureType;
        walked.reason = outcome.reason;
        walked.batchIndex = i;
        walked.frames.reserve(log.frames.size());
        for (const quint64 frame : log.frames)
            walked.frames.push_back(hit.offset + frame);
    }
}
