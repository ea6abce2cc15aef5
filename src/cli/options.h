#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#include "model/filesignature.h"

// What the command line asked for.

enum class CarveAction { scan, help, version, listTypes, listVolumes };

// Where the hits come from: a device node or disk image read raw, the files
// of a folder, a mounted volume's device with the existing-file matching, or
// the whole files still in a mounted volume's Trash folders.
enum class ScanMode { raw, directory, volume, deleted };

struct CarveOptions {
    CarveAction action = CarveAction::scan;
    ScanMode mode = ScanMode::raw;
    QString source;              // device, image, folder or mount point, as given
    QString outputFolder;        // empty: don't save
    QList<FileSignature> signatures = defaultSignatures();
    bool listHits = false;
    bool allowSameDevice = false;
    // Unverified hits are matches a structure walk refused, junk far more
    // often than files: saved only when asked for (--all).
    bool saveUnverified = false;
    std::optional<qint64> maxBytes;
    QString helpText;

    bool isSaving() const { return !outputFolder.isEmpty(); }
};

// Reads the arguments (the program name first). False with a message for
// the user when they don't make sense; the caller exits with status 2.
bool parseCarveOptions(const QStringList &arguments, CarveOptions *options, QString *problem);

// The catalogue entries named in a comma-separated list, in catalogue order.
// A word names a type by its name ("JPEG", "MP3 (ID3)"), by a part of a
// combined name ("docx" of "ZIP/DOCX") or by its extension ("jpg", "mp3":
// every type saved with it), in any case.
std::optional<QList<FileSignature>> signaturesForTypes(const QString &list, QString *problem);

// "500M", "2G", "1.5GB", "4096": a byte count. K, M, G, T count in 1024s,
// KB, MB, GB, TB in 1000s, as GNU tools do.
std::optional<qint64> parseByteCount(const QString &text);
