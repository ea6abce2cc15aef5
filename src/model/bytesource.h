#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>

// Where the bytes of a carved hit live. A scan can produce hundreds of
// thousands of hits, each up to 10 MiB long; a hit therefore refers to its
// bytes (a source plus a range) instead of owning a copy, and they are read
// only when the hit is saved. One source is shared by all hits of one scan.
class ByteSource
{
public:
    struct Range {
        quint64 offset = 0;
        qint64 length = 0;
    };

    virtual ~ByteSource() = default;

    // Makes the given ranges readable before a batch of reads. A source that
    // needs administrator rights to reach its bytes fetches all of them in one
    // privileged run here, so that saving many hits asks for a password once
    // per batch. The default has nothing to prepare.
    virtual bool prepare(const QList<Range> &ranges, QString *error);
    // Lets go of what prepare() made ready, once the batch is done with it.
    virtual void release() {}

    // Most bytes one prepare() may make ready (in copies on disk, say); a
    // caller with more ranges splits them into batches. 0: no limit.
    virtual qint64 batchLimit() const { return 0; }
    // What `range` adds to a batch whose last range so far is `previous`
    // (null for the first): never less than prepare() would make ready for
    // it, so batches cut by it stay within the limit.
    virtual qint64 batchCost(const Range &range, const Range *previous) const;

    // Reads exactly `length` bytes at `offset` into `out`. Returns false with a
    // readable reason when the bytes can't be had in full.
    virtual bool read(quint64 offset, qint64 length, QByteArray *out, QString *error) const = 0;
};

// A source whose bytes are all in memory (a buffer handed over by the caller).
class MemoryByteSource final : public ByteSource
{
public:
    explicit MemoryByteSource(QByteArray bytes);
    bool read(quint64 offset, qint64 length, QByteArray *out, QString *error) const override;

private:
    QByteArray m_bytes;
};

// A regular file or a device node read with positioned reads; opened per read
// so that a hit keeps no descriptor open.
class FileByteSource final : public ByteSource
{
public:
    explicit FileByteSource(QString path);
    bool read(quint64 offset, qint64 length, QByteArray *out, QString *error) const override;
    QString path() const { return m_path; }

private:
    QString m_path;
};

// The bytes of one hit: `length` bytes at `offset` of `source`, plus the first
// (at most 32) of them kept in memory for fingerprinting without a read.
struct CarvedData {
    static constexpr int headSize = 32;

    std::shared_ptr<ByteSource> source;
    quint64 offset = 0;
    qint64 length = 0;
    QByteArray head;

    // All `length` bytes, read from the source.
    bool read(QByteArray *out, QString *error) const;

    // Bytes that live in memory already (convenience for tests and small hits).
    static CarvedData fromBytes(const QByteArray &bytes);
};
