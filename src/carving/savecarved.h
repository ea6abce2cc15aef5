#pragma once

#include <QByteArray>
#include <QList>
#include <QProcessEnvironment>
#include <QString>

#include <functional>
#include <optional>

#include <sys/types.h>

#include "model/records.h"

// Saving Deep Scan hits into a folder the user chose.
//
// A hit is saved under the name of its source file when `sourcePath` is an
// absolute path naming an existing item (the name of its originalPath, when
// it has one), else under its suggestedFileName().
// On a collision the next free name "stem (n).ext" (n = 1, 2, ...) is taken;
// nothing in the folder is ever overwritten, even when another process takes
// a name meanwhile. A hit with data writes its bytes (read through
// CarvedData::read); a hit without data copies the file or folder tree at
// `sourcePath` (links stay links; set-user-ID and similar bits are dropped).
//
// Each file is written without a name (or under a hidden temporary name
// where the file system can't do that) and takes its final name only once
// it is complete: an interrupted save never leaves a cut-off file under a
// name that looks recovered. A failed write or copy removes what it created.

// Why one hit could not be saved.
struct SaveError {
    QString domain;      // "FileCarvingService" for nothing-to-save, "POSIX" for system errors
    int code = 0;        // 1 for nothing-to-save, else the error number
    QString description;
    // The cause without paths or offsets, for grouping failures in a summary:
    // "No space left on device", "Permission denied", "Source changed since
    // the scan"...
    QString reason;

    static SaveError nothingToSave();
};

struct SaveResult {
    QString savedPath;               // where the hit went, on success
    std::optional<SaveError> error;  // absent on success
    qint64 bytesWritten = 0;         // the saved file's length; 0 for a folder tree
    QByteArray sha256;               // of the saved file's bytes; empty for a folder tree

    explicit operator bool() const { return !error.has_value(); }
};

struct SaveCounts {
    int saved = 0;
    int failed = 0;  // there was something to save, but it failed
    int noData = 0;  // no bytes and no existing source file

    friend bool operator==(const SaveCounts &, const SaveCounts &) = default;
};

// Who owns what saving creates, and how open it is.
struct SaveAccess {
    // Files 0600 and folders 0700 rather than what the umask allows.
    bool isPrivate = false;
    // The user and group to hand everything to; -1 keeps the process's own.
    uid_t owner = uid_t(-1);
    gid_t group = gid_t(-1);

    mode_t fileMode() const { return isPrivate ? 0600 : 0666; }
    mode_t folderMode() const { return isPrivate ? 0700 : 0777; }

    // A process running as root recovers other people's files: it saves
    // them privately, owned by the user who asked for the run (SUDO_UID and
    // SUDO_GID from sudo, PKEXEC_UID from pkexec), or by root when nobody
    // else did. Anyone else creates files the way their umask says.
    static SaveAccess forProcess(uid_t effectiveUser, const QProcessEnvironment &environment);
    static SaveAccess current();
};

// True when `sourcePath` is an absolute path at which a file or folder exists.
// A relative text (a volume or image name) is a label, not a path.
bool sourceFileExists(const QString &sourcePath);

// The hit carries bytes, or its source file can still be copied.
bool canRecover(const CarvedFile &file);

// Creates `folder` and its missing parents with the folder mode and owner
// of `access`. True when it exists as a folder afterwards.
bool createSaveFolder(const QString &folder, const SaveAccess &access, QString *error);

// Saves one hit; prepares its byte source for that one range first and
// releases it after.
SaveResult saveCarvedFile(const CarvedFile &file, const QString &folder, const SaveAccess &access = SaveAccess::current());

// Follows a batch save from the thread that runs it. `proceed` is asked
// before each hit; once it answers false, that hit and all after it are left
// unsaved and uncounted. `done` hears the outcome of every hit that was tried,
// in order. Files and folders are made with the modes and owner of `access`.
// Bytes of the file being saved written so far.
using FileProgress = std::function<void(qint64 bytes)>;

struct SaveObserver {
    std::function<bool()> proceed;
    std::function<void(const CarvedFile &, const SaveResult &)> done;
    // Heard while one file is written, so that a large one shows progress.
    FileProgress written;
    SaveAccess access = SaveAccess::current();
};

// Saves the hits in order, in batches: before a batch's first write each
// distinct byte source is prepared once with the ranges of the batch's hits,
// and released after its last. A batch ends where a source's batchLimit()
// would be passed (one batch when no source has a limit). Stops early only
// when the observer says so.
SaveCounts saveCarvedFiles(const QList<CarvedFile> &files, const QString &folder, const SaveObserver &observer = {});

// Whether saving may write files without a name where the system offers it
// (the default); tests turn it off to exercise the temporary names that other
// file systems get.
void setUnnamedSaveFiles(bool allowed);

// Removes the file being written right now when it has a temporary name in
// the destination (a file written without a name vanishes by itself). Safe
// to call from a signal handler, for a program that ends on a signal.
void removeUnfinishedSave();
