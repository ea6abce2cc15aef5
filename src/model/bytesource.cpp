#include "bytesource.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

bool ByteSource::prepare(const QList<Range> &, QString *)
{
    return true;
}

qint64 ByteSource::batchCost(const Range &range, const Range *) const
{
    return range.length;
}

MemoryByteSource::MemoryByteSource(QByteArray bytes)
    : m_bytes(std::move(bytes))
{
}

bool MemoryByteSource::read(quint64 offset, qint64 length, QByteArray *out, QString *error) const
{
    if (length < 0 || offset > quint64(m_bytes.size()) || quint64(length) > quint64(m_bytes.size()) - offset) {
        if (error)
            *error = QStringLiteral("The range lies outside the buffer.");
        return false;
    }
    *out = m_bytes.mid(qsizetype(offset), qsizetype(length));
    return true;
}

FileByteSource::FileByteSource(QString path)
    : m_path(std::move(path))
{
}

bool FileByteSource::read(quint64 offset, qint64 length, QByteArray *out, QString *error) const
{
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("Cannot open %1: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    out->resize(qsizetype(length));
    qint64 done = 0;
    while (done < length) {
        const ssize_t got = ::pread(fd, out->data() + done, size_t(length - done), off_t(offset + quint64(done)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            const int saved = errno;
            ::close(fd);
            if (error) {
                *error = got == 0 ? QStringLiteral("%1 ended before the carved range.").arg(m_path)
                                  : QStringLiteral("Cannot read %1: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(saved)));
            }
            out->clear();
            return false;
        }
        done += got;
    }
    ::close(fd);
    return true;
}

bool CarvedData::read(QByteArray *out, QString *error) const
{
    if (!source) {
        if (error)
            *error = QStringLiteral("The hit has no byte source.");
        return false;
    }
    return source->read(offset, length, out, error);
}

CarvedData CarvedData::fromBytes(const QByteArray &bytes)
{
    CarvedData data;
    data.source = std::make_shared<MemoryByteSource>(bytes);
    data.offset = 0;
    data.length = bytes.size();
    data.head = bytes.left(headSize);
    return data;
}
