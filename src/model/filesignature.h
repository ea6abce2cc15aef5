#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "recoveryenums.h"

// One recognisable file type: the magic bytes it starts with, optionally the
// bytes it ends with, the most bytes a carve of it may take, and an optional
// validator that confirms a header match.
struct FileSignature {
    using Validator = std::function<bool(std::span<const std::uint8_t>)>;

    QString typeName;
    QString fileExtension;
    QByteArray header;               // never empty
    std::optional<QByteArray> footer;
    qint64 maxFileSize = 0;
    FileCategory category = FileCategory::other;
    Validator validator;             // empty: the header alone decides

    // A promise about the validator that lets the carver find candidates
    // without trying every position: the validator rejects any bytes that do
    // not hold `requiredBytes` at `requiredOffset` (counted from the header's
    // first byte). Empty when the validator promises nothing.
    QByteArray requiredBytes;
    int requiredOffset = 0;

    // True when `header` matches at `position` and fits in `bytes`.
    bool headerMatches(std::span<const std::uint8_t> bytes, std::size_t position) const;
};

// The built-in catalogue of twenty signatures, in the order scans try them.
// Built once, thread-safely, on first use; never changed.
const QList<FileSignature> &defaultSignatures();
// The catalogue's row for a type name, or null for a name it doesn't have.
const FileSignature *signatureNamed(const QString &typeName);

// The validator rules by name, for tests and custom lists: each returns false
// when handed fewer bytes than it needs and never reads past the end.
namespace SignatureRules {
bool webp(std::span<const std::uint8_t> bytes);
bool heic(std::span<const std::uint8_t> bytes);
bool mp4(std::span<const std::uint8_t> bytes);
bool mov(std::span<const std::uint8_t> bytes);
bool avi(std::span<const std::uint8_t> bytes);
bool wav(std::span<const std::uint8_t> bytes);
bool m4a(std::span<const std::uint8_t> bytes);
} // namespace SignatureRules
