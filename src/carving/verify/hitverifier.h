#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "carving/verify/hitbytes.h"
#include "carving/verify/walkers.h"
#include "model/filesignature.h"
#include "model/records.h"

class ByteSource;

// Verifies the hits of one scan as it finds them, in offset order, while
// their bytes are at hand.
//
// Each hit is walked by its type's walker (walkers.h) and gets a
// Verification beside its carve fields, which stay as they are. Hits inside
// a file verified before them, of the same family (an MP3 frame inside an
// MP3, a thumbnail inside its JPEG, the MP4 row of a file the MOV row
// verified), are parts of it and are not walked; a candidate on a frame of a
// walked frame run shares that walk's outcome. So a file is walked once
// however many candidates it holds, and no file is saved twice.
//
// At one offset two rows of a family may both verify (an M4A file is also an
// MP4): the later row in the signature list, the more specific one, keeps
// the file. Rows at one offset arrive in one batch.
class HitVerifier
{
public:
    explicit HitVerifier(const QList<FileSignature> &signatures);
    ~HitVerifier();
    HitVerifier(const HitVerifier &) = delete;
    HitVerifier &operator=(const HitVerifier &) = delete;

    // Where the hits' bytes are: `inMemory` holds the source from
    // `memoryOffset` on; the rest is read through `source` (may be null),
    // which ends at `sourceSize` (HitBytes::unknownEnd when not known).
    struct Bytes {
        std::span<const std::uint8_t> inMemory;
        quint64 memoryOffset = 0;
        std::shared_ptr<const ByteSource> source;
        quint64 sourceSize = Verify::HitBytes::unknownEnd;
    };

    // Verifies a batch of hits in the order found; offsets never go back
    // between calls.
    void verify(QList<CarvedFile> &hits, const Bytes &bytes);

    // Walks one hit alone, as saving does with the bytes read at save time;
    // no memory of other hits is used or kept.
    static Verification walkOnce(const FileSignature &signature, Verify::HitBytes &bytes);

    // Bytes the walks read beyond what was in memory.
    quint64 bytesFetched() const { return m_fetched; }

    // What searches for an end marker (a PDF's "%%EOF", a ZIP entry's data
    // descriptor) may read past the read-ahead in one scan: `base` bytes,
    // and one byte for every `scannedPerByte` bytes the scan has passed (0:
    // none), so that a long scan still finds large files late on while
    // junk headers cost at most a share of the scan's own reads.
    struct SearchBudget {
        quint64 base = 512ULL << 20;
        quint64 scannedPerByte = 8;
    };
    void setSearchBudget(SearchBudget budget) { m_budget = budget; }

private:
    struct Walked {
        quint64 start = 0;
        quint64 end = 0;           // verified: start + length
        bool verified = false;
        QString typeName;
        QString reason;
        QString partOf;            // "part of the ... file at ...", made once
        std::vector<quint64> frames;   // absolute frame starts, ascending
        qsizetype batchIndex = -1;     // the hit in the current batch, if it is there

        const QString &partOfReason();
    };
    struct TypeInfo {
        const FileSignature *signature = nullptr;
        Verify::Walker walker = nullptr;
        int family = 0;            // index into m_lastWalk
        bool walksFrames = false;
        bool usesPdfMemo = false;
        int order = 0;             // row in the signature list
    };

    QList<FileSignature> m_list;
    QHash<QString, TypeInfo> m_types;
    std::vector<std::optional<Walked>> m_lastWalk;   // by family
    std::unique_ptr<Verify::SearchMemo> m_pdfEnds;
    quint64 m_fetched = 0;
    SearchBudget m_budget;
    quint64 m_searchSpent = 0;
};
