#include "carver.h"

#include <algorithm>
#include <cstring>

#include "carveengine.h"

CarveInput CarveInput::inBuffer(std::span<const std::uint8_t> bytes, std::size_t scanLength, quint64 baseOffset)
{
    CarveInput input;
    input.buffer = bytes;
    input.scanLength = std::min(scanLength, bytes.size());
    input.area = bytes;
    input.windowEnd = bytes.size();
    input.baseOffset = baseOffset;
    return input;
}

Carver::Carver(QList<FileSignature> signatures)
    : m_signatures(std::move(signatures)), m_engine(std::make_unique<const CarveEngine>(m_signatures))
{
}

Carver::~Carver() = default;

void Carver::carve(const CarveInput &input, const std::function<void(const CarveHit &)> &deliver) const
{
    m_engine->carve(m_signatures, input, deliver);
}

CarvedData carvedDataOf(const CarveHit &hit, quint64 baseOffset, const std::uint8_t *buffer,
                        std::shared_ptr<ByteSource> source)
{
    CarvedData data;
    data.source = std::move(source);
    data.offset = baseOffset + hit.position;
    data.length = hit.end;
    data.head = QByteArray(reinterpret_cast<const char *>(buffer + hit.position),
                           qsizetype(std::min<qint64>(CarvedData::headSize, hit.end)));
    return data;
}

CarvedFile makeCarvedFile(const CarveHit &hit, const FileSignature &signature, quint64 baseOffset,
                          const QString &sourcePath, std::optional<CarvedData> data)
{
    CarvedFile file;
    file.signatureType = signature.typeName;
    file.fileExtension = signature.fileExtension;
    file.offset = baseOffset + hit.position;
    file.estimatedSize = hit.end;
    file.data = std::move(data);
    file.health = hit.health;
    file.sourcePath = sourcePath;
    file.recoveryStatus = RecoveryStatus::unknown;
    return file;
}
