#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

#include "model/records.h"
#include "trash/trashlisting.h"

class Platform;

// Listing the user's Trash, the way the platform keeps it.
//
// macOS: ~/.Trash is listed directly, hidden entries left out; when that
// fails or finds nothing, it is listed again through the administrator shell
// (find, then stat and, for folders, du per item), hidden entries included.
//
// Linux: the home Trash and the user's Trash folders on the other mounted
// volumes are read directly. An empty or missing Trash is simply empty; only
// a home Trash that exists and can't be read is listed through the
// administrator, in one run.

struct TrashScanOutcome {
    // Newest first (see sortNewestFirst).
    QList<TrashItem> items;
    // Set when the administrator listing could not be started.
    std::optional<QString> errorMessage;
};

// The freedesktop.org Trash folders of this user: the home Trash, then those
// of the mounted volumes, each once.
QList<TrashFolder> userTrashFolders(Platform &platform);

// Runs the whole listing on the calling thread (child processes included).
// `progress` receives the fraction of items examined, not for every item;
// `isCancelled` is asked between items, and a cancelled scan returns what it
// has.
TrashScanOutcome scanUserTrash(Platform &platform, const std::function<void(double)> &progress,
                               const std::function<bool()> &isCancelled = {});
