#pragma once

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <optional>

// Where a raw scan's bytes come from: a descriptor the program opened itself,
// a reader process running as root, or the chunk files of the helper
// protocol. The scan reads it sequentially in large blocks (directscan.h);
// everything about carving is the same whichever reader it is.
class SourceReader
{
public:
    struct Result {
        qint64 bytes = 0;   // > 0: that many bytes were read
        int error = 0;      // with bytes 0: the error number of a failed read; 0 is the end of the data
        bool lost = false;  // the source is gone (removed, its reader ended): nothing more will come
    };

    virtual ~SourceReader() = default;

    // Reads up to `length` bytes at `offset` into `into`. Fewer come back only
    // at the end of the data or just before an unreadable spot. An error
    // number of ECANCELED ends the reading with nothing to report: the scan
    // was asked to stop while waiting, or the bytes never began to come (the
    // password was not given).
    virtual Result read(qint64 offset, std::uint8_t *into, qint64 length) = 0;

    // Starts fetching a range without waiting for it; the next read() of the
    // same offset, buffer and length collects it. `into` must stay valid
    // until then or until cancelReadAhead(). A reader that can't fetch in the
    // background ignores this and reads when asked.
    virtual void readAhead(qint64 offset, std::uint8_t *into, qint64 length)
    {
        Q_UNUSED(offset);
        Q_UNUSED(into);
        Q_UNUSED(length);
    }
    // Forgets a range asked for with readAhead() whose buffer goes away.
    virtual void cancelReadAhead() {}

    // Memory for the read-ahead ring that the reader's source writes into
    // directly: `size` bytes mapped twice, back to back, valid for as long
    // as the reader lives. Null (the default) when it has none; ranges asked
    // into it then cost the reader no copy of its own.
    virtual std::uint8_t *sharedRing(std::size_t size)
    {
        Q_UNUSED(size);
        return nullptr;
    }

    // The source's size as it is now; nullopt when the reader can't tell.
    // Asked after a failed read, to tell a device that was pulled out or
    // shrank from one with bad sectors.
    virtual std::optional<qint64> currentSize() { return std::nullopt; }
};

// Maps `size` bytes of the file `fd` twice, back to back, so that a range
// that runs off the end continues at the start; null when that fails.
// munmap(result, 2 * size) releases it.
std::uint8_t *mapMirroredFile(int fd, std::size_t size);
