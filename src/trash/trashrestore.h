#pragma once

#include <QString>

#include <functional>

#include "model/records.h"

class Platform;

// Putting Trash items back without ever losing one.
//
// The item goes to the first free name of CollisionFreeNames ("report.pdf",
// "report (1).pdf", ...), taken without replacing anything even when another
// program takes a name meanwhile:
//
// 1. It is moved there (a rename that refuses an existing target).
// 2. On another file system (EXDEV: restoring onto a USB stick) it is copied
//    as the user, the way mv does: contents, modes, times and links kept, the
//    copy checked and flushed to the device, and only then is the Trash item
//    removed. A copy that fails half-way is deleted; the item stays.
// 3. Only when the move or that copy is refused for lack of rights is the
//    item copied through the administrator shell; that copy leaves the item
//    in the Trash.
//
// On Linux the item's .trashinfo (and its line in the Trash's
// directorysizes cache) goes once the item itself is gone from files/, never
// before: other programs list a Trash from info/ and would show a dangling
// entry, or, removed too early, lose the item's original path.

struct RestoreOutcome {
    bool restored = false;
    // Where the item, or its copy, now lies.
    QString restoredPath;
    // Restored by a copy while the Trash still holds the item (or part of it).
    bool leftInTrash = false;
    // Why it was not restored.
    QString error;
};

// Bytes written by a copy so far, for progress; called on the restoring thread.
using CopyProgress = std::function<void(qint64 bytesCopied)>;

// Restores `item` into `folder` under its fileName (or the next free name).
// Blocks for the whole copy and any password dialog: call it on a worker.
RestoreOutcome restoreTrashItem(const TrashItem &item, const QString &folder, Platform &platform,
                                const CopyProgress &progress = {});

// Restores `item` to the folder it was deleted from, under its original
// name, recreating missing folders on the way; the same collision-free names
// when something else lies there now. Fails for an item without an original
// path.
RestoreOutcome restoreTrashItemToOriginalLocation(const TrashItem &item, Platform &platform,
                                                  const CopyProgress &progress = {});

// rename(2) that never replaces `to`: 0, or the error number (EEXIST when
// `to` exists). On file systems without an exclusive rename, the name is first
// taken by an empty placeholder created exclusively, which the rename then
// replaces.
int moveWithoutReplacing(const QString &from, const QString &to, bool isDirectory);
