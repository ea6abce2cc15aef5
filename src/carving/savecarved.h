#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

#include "model/records.h"

// Saving Deep Scan hits into a folder the user chose.
//
// A hit is saved under the name of its source file when `sourcePath` is an
// absolute path naming an existing item, else under its suggestedFileName().
// On a collision the next free name "stem (n).ext" (n = 1, 2, ...) is taken;
// every destination is created exclusively, so nothing in the folder is ever
// overwritten, even when another process takes a name meanwhile. A hit with
// data writes its bytes (read through CarvedData::read); a hit without data
// copies the file or folder tree at `sourcePath`. A failed write or copy
// removes what it created.

// Why one hit could not be saved.
struct SaveError {
    QString domain;      // "FileCarvingService" for nothing-to-save, "POSIX" for system errors
    int code = 0;        // 1 for nothing-to-save, else the error number
    QString description;

    static SaveError nothingToSave();
};

struct SaveResult {
    QString savedPath;               // where the hit went, on success
    std::optional<SaveError> error;  // absent on success

    explicit operator bool() const { return !error.has_value(); }
};

struct SaveCounts {
    int saved = 0;
    int failed = 0;  // there was something to save, but it failed
    int noData = 0;  // no bytes and no existing source file

    friend bool operator==(const SaveCounts &, const SaveCounts &) = default;
};

// True when `sourcePath` is an absolute path at which a file or folder exists.
// A relative text (a volume or image name) is a label, not a path.
bool sourceFileExists(const QString &sourcePath);

// The hit carries bytes, or its source file can still be copied.
bool canRecover(const CarvedFile &file);

// Saves one hit; prepares its byte source for that one range first and
// releases it after.
SaveResult saveCarvedFile(const CarvedFile &file, const QString &folder);

// Follows a batch save from the thread that runs it. `proceed` is asked
// before each hit; once it answers false, that hit and all after it are left
// unsaved and uncounted. `done` hears the outcome of every hit that was tried.
struct SaveObserver {
    std::function<bool()> proceed;
    std::function<void(const CarvedFile &, const SaveResult &)> done;
};

// Saves the hits in order, in batches: before a batch's first write each
// distinct byte source is prepared once with the ranges of the batch's hits,
// and released after its last. A batch ends where a source's batchLimit()
// would be passed (one batch when no source has a limit). Stops early only
// when the observer says so.
SaveCounts saveCarvedFiles(const QList<CarvedFile> &files, const QString &folder, const SaveObserver &observer = {});
