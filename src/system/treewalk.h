#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <functional>
#include <memory>

// A depth-first walk of a folder tree that can't be led astray: it never
// follows a symbolic link (to a folder or to a file), never enters a folder
// it is already inside (a bind mount of an ancestor), never enters a pseudo
// file system (proc, sysfs, devtmpfs, cgroup, debugfs, autofs...; an
// automount point is not triggered), and, when asked, stays on the mount it
// started on. It opens folders relative to their parent's descriptor and lists
// each with one pass of the system's directory read, so it runs at the pace of
// `find`.
//
// Order: pre-order; the entries of one folder in byte order of their names,
// each folder's own entries right after it. The root itself is not an entry.
//
// The root may be a link to a folder (the caller chose it); nothing below it
// is followed. A root on a pseudo file system can't be walked.
namespace TreeWalk {

// Which mounts below the root the walk enters.
enum class Scope {
    // Only the root's own file system: its mount, and other mounts of the
    // same disk below it (a btrfs subvolume mounted on its own); for a
    // volume's mount point, whose walk must not lead into /proc, /run or
    // another volume mounted below it.
    rootMount,
    // Any mount below the root that holds real files: for a folder the user
    // picked, which may well have a disk mounted inside it.
    realFileSystems,
};

enum class Kind : quint8 { file, folder, link, other };

struct Entry {
    // The folder holding the entry, open for the duration of the visit; open
    // files relative to it (SafeFile::readHead).
    int folderFd = -1;
    const char *name = nullptr; // NUL-terminated bytes, as the file system has them
    std::size_t nameLength = 0;
    // As the folder listing reports it (checked with a stat where the file
    // system doesn't say); the name may change meanwhile, so open it safely.
    Kind kind = Kind::other;
    int depth = 0; // 0 for the root's own entries
    // Whether an open that leaves the access time is likely allowed (we run
    // as root, or own the folder).
    bool keepAccessTime = false;
};

struct Options {
    Scope scope = Scope::realFileSystems;
    // Leave out names starting with ".": such files are not visited, such
    // folders neither visited nor entered.
    bool skipHidden = false;
};

// Whether a file system of this type (as /proc/self/mountinfo or mount(8)
// names it) holds no files of the user's: proc, sysfs, devtmpfs...
bool isPseudoFileSystem(const QString &type);

class Walker
{
public:
    Walker(const QString &root, Options options);
    ~Walker();
    Walker(const Walker &) = delete;
    Walker &operator=(const Walker &) = delete;

    // Opens the root folder. False when it can't be listed: missing, not a
    // folder, unreadable, or on a pseudo file system.
    bool open();

    // Visits every entry in the order above; `visit` returns false to end the
    // walk there. Folders are entered after their visit returned true.
    // Entries that vanish or can't be opened on the way are passed over.
    void run(const std::function<bool(const Entry &)> &visit);

    // The full path of an entry during its visit: the root as given (without
    // a trailing "/") followed by the names down to the entry.
    QString pathOf(const Entry &entry) const;
    QByteArray encodedPathOf(const Entry &entry) const;
    // The root as paths are built from it.
    QString root() const;

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace TreeWalk
