#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "model/records.h"
#include "system/platform.h"

// Reading Trash folders into TrashItem records: the user's own Trash on
// macOS (~/.Trash, items one level deep), the freedesktop.org Trash folders
// on Linux (files/ with info/), and the parse rules of the administrator
// listing used when a Trash folder can't be read directly.

// A Trash folder and the folder that relative paths in its info files start
// from (the volume's top, or the home Trash's parent folder).
struct TrashFolder {
    TrashLocation location;
    QString top;
    // The user's home Trash: the one that falls back on the administrator
    // listing when it can't be read.
    bool isHome = false;
};

// The names in a folder, "." and ".." left out; absent when it can't be
// opened, with the error number in `error`.
std::optional<QStringList> folderEntries(const QString &path, int *error = nullptr);

// The size of a folder: the file size of every non-folder below it, walked
// without following links; an element that can't be read adds 0. With
// `skipHidden`, names starting with a dot are left out (files) or not entered
// (folders).
qint64 measureFolder(const QString &path, bool skipHidden);

// A record for an item listed directly from ~/.Trash: size (a folder
// measured without hidden elements), `deletedDate` from the item's
// modification time and `modifiedDate` from its birth time.
TrashItem macTrashItem(const QString &path);

// A record for the item `name` of a freedesktop.org Trash: name, original
// path and deletion date from its info file, modification date and size
// (folders measured in full) from the item itself. Without a usable info
// file the item is still listed under its name in files/, with no original
// path and no deletion date.
TrashItem freedesktopTrashItem(const TrashFolder &folder, const QString &name);

// Administrator listing, shared shape: one path per line, trimmed, empty
// lines dropped; absent output counts as empty.
QStringList listedPaths(const std::optional<QString> &output);

// "SIZE MTIME BIRTH TYPE..." from the item-facts command. Fewer than four
// fields (split at every single space) give size 0, no dates, not a folder.
// SIZE must be a signed decimal integer (else 0), the times decimal numbers of
// seconds since 1970 (else absent); TYPE containing "Directory" is a folder.
struct ItemFacts {
    qint64 size = 0;
    std::optional<QDateTime> modified;
    std::optional<QDateTime> birth;
    bool isDirectory = false;
};
ItemFacts parseItemFacts(const std::optional<QString> &output);

// The folder-size command's output in bytes: its KiB figure times 1024; 0 for
// empty output, text that is not an integer, or a product out of range.
qint64 parseFolderSize(const std::optional<QString> &output);

// A record for a path of the macOS administrator listing, from its facts
// and, for a folder, the folder-size output (absent when that run could not
// be started: the size from the facts stays).
TrashItem macListedItem(const QString &path, const ItemFacts &facts,
                        const std::optional<std::optional<QString>> &folderSizeOutput);

// One administrator run that lists a freedesktop.org Trash folder that can't
// be read, with each item's facts and info file: NUL-separated fields, six
// per item (name, type letter, size, modification time, folder KiB, info
// text). One run, so that the password is asked for once, not per item.
QString freedesktopAdministratorListCommand(const TrashLocation &location);
QList<TrashItem> parseFreedesktopAdministratorList(const std::optional<QString> &output, const TrashFolder &folder);

// Newest `deletedDate` first, an absent date counting as the earliest
// possible; items with equal dates keep their order.
void sortNewestFirst(QList<TrashItem> &items);

// "~/.local/share/Trash" for a folder below the home folder, else the path.
QString displayedFolder(const QString &path, const QString &home);
