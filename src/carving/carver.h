#pragma once

#include <QList>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <span>

#include "model/filesignature.h"
#include "model/records.h"

class CarveEngine;
class CarveFooterMemo;

// Signature carving of a block of bytes that stands at a known offset of a
// device, image or chunk file.
//
// Every position below `scanLength` is a start position. At each, the
// signatures are tried in list order; a header must fit inside `buffer`, a
// validator sees at most 16 bytes (fewer at the end of `buffer`). A confirmed
// header gets a window of k bytes:
//     k = min(signature.maxFileSize, windowCap, windowEnd - position)
// The footer, when the signature has one, is searched backwards in the window
// down to the end of the header; the last occurrence wins (`good`), otherwise
// the whole window is taken (`partial`). Hits with end <= header length + 10
// are dropped, and so is every hit of a signature whose maxFileSize is zero or
// less (its window is empty). Hits are delivered in position order, then
// signature order. Validators must depend on their bytes alone: they run on
// the carving thread and are skipped where a signature's promised bytes
// (`requiredBytes`) are missing. The result is exactly that of trying every
// position against every signature, however it is computed (carveengine.h).
struct CarveInput {
    // Bytes for header and validator tests; windows may reach past it into
    // `area` (bytes read ahead from the same source, starting at buffer[0]).
    std::span<const std::uint8_t> buffer;
    std::size_t scanLength = 0;
    std::span<const std::uint8_t> area;   // empty: same as `buffer`
    std::size_t windowEnd = std::numeric_limits<std::size_t>::max(); // clamped to the area's size
    std::size_t windowCap = std::numeric_limits<std::size_t>::max();
    quint64 baseOffset = 0;
    // Footer positions remembered from earlier calls over the same source;
    // null: the call searches on its own. Only the time taken depends on it
    // (CarveFooterMemo in carveengine.h says when one may be shared).
    CarveFooterMemo *footerMemo = nullptr;

    // The in-buffer window: a carve never reaches past the end of `bytes`.
    static CarveInput inBuffer(std::span<const std::uint8_t> bytes, std::size_t scanLength, quint64 baseOffset);
};

struct CarveHit {
    std::size_t position = 0;   // start position within the buffer
    int signature = 0;          // index into the signature list
    qint64 end = 0;             // number of bytes taken from the window
    CarvedFileHealth health = CarvedFileHealth::partial;
};

// Carves with one list of signatures; construct once per scan and reuse for
// every buffer of it.
class Carver
{
public:
    explicit Carver(QList<FileSignature> signatures);
    ~Carver();
    Carver(const Carver &) = delete;
    Carver &operator=(const Carver &) = delete;

    const QList<FileSignature> &signatures() const { return m_signatures; }

    void carve(const CarveInput &input, const std::function<void(const CarveHit &)> &deliver) const;

private:
    QList<FileSignature> m_signatures;
    std::unique_ptr<const CarveEngine> m_engine;   // tables built once from m_signatures
};

// The CarvedFile record of a hit; `data` refers to the hit's bytes.
// The bytes of a hit left where they are: `end` bytes at the hit's absolute
// offset in `source`, with the head copied from the buffer it was found in.
CarvedData carvedDataOf(const CarveHit &hit, quint64 baseOffset, const std::uint8_t *buffer,
                        std::shared_ptr<ByteSource> source);

CarvedFile makeCarvedFile(const CarveHit &hit, const FileSignature &signature, quint64 baseOffset,
                          const QString &sourcePath, std::optional<CarvedData> data);
