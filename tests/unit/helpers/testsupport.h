#pragma once

// Small pieces that many tests need: files, planted file bytes, catalogue
// rows, the environment, a shell, and a sink that records what a scan posts.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <span>

#include "carving/scansink.h"
#include "model/filesignature.h"

constexpr qint64 MiB = 1024 * 1024;

// Writes `bytes` to `path`, creating the folders on the way.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline std::span<const std::uint8_t> bytesOf(const QByteArray &bytes, qsizetype length = -1)
{
    return {reinterpret_cast<const std::uint8_t *>(bytes.constData()), std::size_t(length < 0 ? bytes.size() : length)};
}

// `size` pseudo-random bytes, the same for the same seed on every run.
inline QByteArray randomBytes(qsizetype size, unsigned seed)
{
    std::mt19937 generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(generator());
    return bytes;
}

// A JPEG and a PNG as the carver sees them: header, body, footer.
inline QByteArray jpegBytes(int bodySize, char fill = 'j')
{
    return QByteArray::fromHex("FFD8FFE0") + QByteArray(bodySize, fill) + QByteArray::fromHex("FFD9");
}

// A JPEG whose structure is whole (tables, frame, scan, end), so that the
// walk verifies it, with `scanBytes` bytes of picture data.
inline QByteArray wholeJpegBytes(int scanBytes, char fill = 0x55)
{
    QByteArray quantisation = QByteArray::fromHex("FFDB004300");
    for (int i = 1; i <= 64; ++i)
        quantisation.append(char(i));
    QByteArray huffman = QByteArray::fromHex("FFC4001F00") + QByteArray::fromHex("00010501010101010000000000000000");
    for (int i = 0; i < 12; ++i)
        huffman.append(char(i));
    return QByteArray::fromHex("FFD8") + quantisation + QByteArray::fromHex("FFC0000B080010001001011100") + huffman
        + QByteArray::fromHex("FFDA000801010000003F00") + QByteArray(scanBytes, fill) + QByteArray::fromHex("FFD9");
}

inline QByteArray pngBytes(int bodySize)
{
    return QByteArray::fromHex("89504E470D0A1A0A") + QByteArray(bodySize, 'p') + QByteArray::fromHex("49454E44AE426082");
}

// The catalogue rows of these type names, in catalogue order.
inline QList<FileSignature> catalogueRows(const QStringList &typeNames)
{
    QList<FileSignature> rows;
    for (const FileSignature &s : defaultSignatures()) {
        if (typeNames.contains(s.typeName))
            rows << s;
    }
    return rows;
}

inline FileSignature catalogueRow(const QString &typeName)
{
    return catalogueRows({typeName}).value(0);
}

// A hit as one comparable line: offset, type, size and health.
inline QString describeHit(quint64 offset, const QString &type, qint64 size, CarvedFileHealth health)
{
    return QStringLiteral("%1 %2 %3 %4").arg(offset).arg(type).arg(size).arg(rawValue(health));
}

inline QStringList describeHits(const QList<CarvedFile> &hits)
{
    QStringList lines;
    for (const CarvedFile &hit : hits)
        lines << describeHit(hit.offset, hit.signatureType, hit.estimatedSize, hit.health);
    return lines;
}

// What `command` prints on standard output through /bin/sh, trimmed.
inline QString shellOutput(const QString &command, int *exitCode = nullptr)
{
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    shell.closeWriteChannel();
    shell.waitForFinished(-1);
    if (exitCode)
        *exitCode = shell.exitStatus() == QProcess::NormalExit ? shell.exitCode() : -1;
    return QString::fromUtf8(shell.readAllStandardOutput()).trimmed();
}

// Sets (or with no value, unsets) an environment variable for one scope.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const std::optional<QByteArray> &value)
        : m_name(name), m_old(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt)
    {
        value ? qputenv(name, *value) : qunsetenv(name);
    }
    ~ScopedEnv() { m_old ? qputenv(m_name, *m_old) : qunsetenv(m_name); }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *m_name;
    std::optional<QByteArray> m_old;
};

// Records every call of a scan; `cancelWhen` and `onProgress` let a test
// step in at the moments a scan looks out.
class RecordingSink final : public ScanSink
{
public:
    struct Progress {
        quint64 bytes = 0;
        std::optional<double> fraction;
        QString text;
    };

    std::function<bool()> cancelWhen;
    std::function<void()> onProgress;
    std::function<void(const QList<CarvedFile> &)> onHits;
    QStringList statuses;
    QStringList errors;
    QList<CarvedFile> hits;
    QList<Progress> progress;
    std::optional<ReadOutcome> outcome;
    int batches = 0;

    bool shouldCancel() const override { return cancelWhen && cancelWhen(); }
    void postStatus(const QString &text) override { statuses << text; }
    void postError(const QString &text) override { errors << text; }
    void postCarvedFiles(QList<CarvedFile> files) override
    {
        ++batches;
        if (onHits)
            onHits(files);
        hits << files;
    }
    void postProgress(quint64 bytes, std::optional<double> fraction, std::function<QString(qsizetype)> text) override
    {
        progress << Progress{bytes, fraction, text(hits.size())};
        if (onProgress)
            onProgress();
    }
    void postReadOutcome(const ReadOutcome &read) override { outcome = read; }

    quint64 lastScanned() const { return progress.isEmpty() ? 0 : progress.last().bytes; }
};
