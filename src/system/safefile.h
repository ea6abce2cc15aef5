#pragma once

#include <QString>
#include <QtGlobal>

#include <sys/stat.h>

// Reading files met on a walk or named by some list, when nothing is known
// about what a name stands for. A tree can hold FIFOs (a blocking open waits
// for a writer that never comes), sockets, device nodes (opening some has
// effects: a tape rewinds, a modem hangs up), links that lead anywhere, and
// files of pseudo file systems that report a size and act when read. So a
// file is opened:
//
// - read-only and close-on-exec;
// - never through a symbolic link in the last component (ELOOP instead);
// - without blocking and without becoming the controlling terminal;
// - and kept only when the opened descriptor is a regular file; anything else
//   is closed again before a byte is read (ENXIO).
//
// Where the system lets us (we own the file, or run as root), the file's
// access time is left alone, so that reading the files of a scanned volume
// writes nothing back to it.
namespace SafeFile {

// Opens `name` relative to the folder descriptor `folderFd` and fills
// `status` from the opened descriptor; -1 with errno set on failure. Meant
// for names a folder listing reported as regular files: only root can make a
// device node, so such a name can't have become one meanwhile. Names from
// anywhere else go through the path form of readHead, which checks first.
// `keepAccessTime` tries the open that leaves the access time first; pass
// false where it is known to be refused (a file of another user).
int openRegular(int folderFd, const char *name, struct stat *status, bool keepAccessTime = true);

// Reads at most `capacity` bytes from the start of the regular file `name`
// with one positioned read, and closes it. Returns the number of bytes read;
// -1 when the file can't be opened as above, is empty, or the read fails.
// `fileSize` receives the size the file system reports.
qsizetype readHead(int folderFd, const char *name, char *buffer, qsizetype capacity, qint64 *fileSize,
                   bool keepAccessTime = true);

// The same for a path from anywhere: the type is checked before the open,
// so a device node is never opened.
qsizetype readHead(const QString &path, char *buffer, qsizetype capacity, qint64 *fileSize);

} // namespace SafeFile
