#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// The info files of a freedesktop.org Trash (version 1.0): every item
// `files/NAME` has `info/NAME.trashinfo`, a desktop-entry style text:
//
//     [Trash Info]
//     Path=/home/ann/docs/report%2050%25.txt
//     DeletionDate=2026-12-06T14:24:17
//
// Path holds the bytes of the original path, percent-encoded as in URLs
// ('/' kept). It is absolute, or relative to the folder the Trash folder
// resides in (the volume's top for `$top/.Trash-$uid`, $XDG_DATA_HOME for the
// home Trash); GLib and KDE write relative paths in volume Trash folders,
// Qt absolute ones. DeletionDate is local time without a zone.

struct TrashInfo {
    // Absolute and cleaned; absent when the file has none or it can't be a
    // path (empty, a NUL byte, ".." in a relative path).
    std::optional<QString> originalPath;
    std::optional<QDateTime> deletionDate;
};

// Reads the text of an info file. Only the first Path and DeletionDate keys of
// the [Trash Info] group count; other groups, comments and unknown keys are
// ignored, and spaces around '=' do not matter. Relative paths are resolved
// against `top`.
TrashInfo parseTrashInfo(const QByteArray &text, const QString &top);

// "2026-12-06T14:24:17" (any ISO 8601 form Qt reads; without a zone it is
// local time) or the compact "20040831T22:32:08" of the standard's own example.
std::optional<QDateTime> parseDeletionDate(const QString &value);

// The name an info file has for the trashed item named `fileName` in files/.
QString trashInfoFileName(const QString &fileName);

// The `directorysizes` cache of a Trash folder without the line of the
// trashed folder `fileName` (names there are percent-encoded). Returns the
// text unchanged when no line names it.
QByteArray withoutDirectorySize(const QByteArray &cache, const QString &fileName);
