#include "treewalk.h"

#include "system/mountinfo.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#else
#include <sys/mount.h>
#include <sys/param.h>
#endif

#ifndef AT_NO_AUTOMOUNT
#define AT_NO_AUTOMOUNT 0
#endif

using namespace Qt::Literals::StringLiterals;

namespace TreeWalk {

bool isPseudoFileSystem(const QString &type)
{
    static const QSet<QString> pseudo = {
        u"proc"_s,      u"sysfs"_s,      u"devtmpfs"_s,   u"devpts"_s,     u"cgroup"_s,     u"cgroup2"_s,
        u"debugfs"_s,   u"tracefs"_s,    u"securityfs"_s, u"pstore"_s,     u"bpf"_s,        u"configfs"_s,
        u"fusectl"_s,   u"mqueue"_s,     u"hugetlbfs"_s,  u"autofs"_s,     u"binfmt_misc"_s, u"efivarfs"_s,
        u"rpc_pipefs"_s, u"nsfs"_s,      u"selinuxfs"_s,  u"smackfs"_s,    u"nfsd"_s,       u"devfs"_s,
    };
    return pseudo.contains(type);
}

namespace {

// Folders this deep and shallower keep their descriptor while the walk is
// below them; deeper ones are closed on the way down and opened again on the
// way back, so that no tree, however deep, runs the process out of
// descriptors.
constexpr std::size_t heldDepth = 64;

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

enum class Pseudo { no, yes, unknown };

struct Identity {
    mode_t mode = 0;
    dev_t dev = 0;
    ino_t ino = 0;
    uid_t owner = 0;
    // The kernel's id of the mount the inode was reached through; 0 where
    // the system doesn't tell, and the device number stands in for it.
    quint64 mountId = 0;
};

bool sameMount(const Identity &a, const Identity &b)
{
    if (a.mountId != 0 && b.mountId != 0)
        return a.mountId == b.mountId;
    return a.dev == b.dev;
}

struct Item {
    quint32 nameOffset;
    quint32 nameLength;
    quint8 type; // DT_*
};

struct Frame {
    int fd = -1;
    Identity identity;
    std::size_t pathLength = 0; // of State::path while this folder is listed
    std::string names;          // NUL-terminated names, one after the other
    std::vector<Item> items;
    std::size_t next = 0;
};

int openFolderAt(int parentFd, const char *name, bool keepAccessTime, int extraFlags)
{
#ifdef O_NOATIME
    if (keepAccessTime) {
        int fd;
        do
            fd = ::openat(parentFd, name, folderFlags | extraFlags | O_NOATIME);
        while (fd < 0 && errno == EINTR);
        if (fd >= 0 || errno != EPERM)
            return fd;
    }
#else
    Q_UNUSED(keepAccessTime);
#endif
    int fd;
    do
        fd = ::openat(parentFd, name, folderFlags | extraFlags);
    while (fd < 0 && errno == EINTR);
    return fd;
}

Kind kindOfMode(mode_t mode)
{
    if (S_ISREG(mode))
        return Kind::file;
    if (S_ISDIR(mode))
        return Kind::folder;
    if (S_ISLNK(mode))
        return Kind::link;
    return Kind::other;
}

// What the file system type of an open folder says, for where the mount
// table can't tell.
Pseudo pseudoByFileSystem(int fd)
{
#ifdef __linux__
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0)
        return Pseudo::unknown;
    switch (static_cast<unsigned long>(info.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case PSTOREFS_MAGIC:
    case BPF_FS_MAGIC:
    case 0x62656570: // configfs
    case 0x65735543: // fusectl
    case 0x19800202: // mqueue
    case HUGETLBFS_MAGIC:
    case AUTOFS_SUPER_MAGIC:
    case BINFMTFS_MAGIC:
    case EFIVARFS_MAGIC:
    case NSFS_MAGIC:
    case SELINUX_MAGIC:
        return Pseudo::yes;
    default:
        // devtmpfs reports the tmpfs number: only the mount table tells them
        // apart. Its nodes are never opened anyway (they are not regular).
        return Pseudo::no;
    }
#else
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0)
        return Pseudo::unknown;
    return isPseudoFileSystem(QString::fromLatin1(info.f_fstypename)) ? Pseudo::yes : Pseudo::no;
#endif
}

} // namespace

struct Walker::State {
    QString root;
    QByteArray prefix; // the root as paths start, "" for "/"
    Options options;
    std::string path;  // of the folder whose entries are being visited
    std::vector<Frame> stack;
    uid_t euid = ::geteuid();
#ifdef __linux__
    bool useStatx = true;
    std::vector<char> listing = std::vector<char>(64 * 1024);
#endif
    // What the mount table says of a mount: its file system type and what is
    // mounted (the device node for a disk).
    struct Mount {
        QString type;
        QString source;
    };
    bool mountTableLoaded = false;
    QHash<quint64, Mount> byMountId;
    QHash<QString, Mount> byDevice; // "major:minor"
    std::optional<Mount> rootMount;

    bool identify(int fd, const char *name, int flags, Identity *out);
    std::optional<Mount> mountOf(const Identity &identity);
    Pseudo pseudoByMountTable(const Identity &identity);
    bool onRootFileSystem(const Identity &identity);
    void loadMountTable();
    bool list(Frame &frame);
    bool enter(std::size_t parentIndex, const char *name, std::size_t nameLength);
    bool reopen(std::size_t index);
    void pop();
    void closeAll();
};

bool Walker::State::identify(int fd, const char *name, int flags, Identity *out)
{
#ifdef __linux__
    if (useStatx) {
        struct statx extended {};
        if (::statx(fd, name, flags | AT_STATX_SYNC_AS_STAT,
                    STATX_TYPE | STATX_INO | STATX_UID | STATX_MNT_ID, &extended) == 0) {
            out->mode = extended.stx_mode;
            out->dev = makedev(extended.stx_dev_major, extended.stx_dev_minor);
            out->ino = extended.stx_ino;
            out->owner = extended.stx_uid;
            out->mountId = (extended.stx_mask & STATX_MNT_ID) ? extended.stx_mnt_id : 0;
            return true;
        }
        // Kernels before 4.11, and sandboxes that filter the call.
        if (errno != ENOSYS && errno != EPERM)
            return false;
        useStatx = false;
    }
#endif
    struct stat status {};
    if (::fstatat(fd, name, &status, flags) != 0)
        return false;
    out->mode = status.st_mode;
    out->dev = status.st_dev;
    out->ino = status.st_ino;
    out->owner = status.st_uid;
    out->mountId = 0;
    return true;
}

void Walker::State::loadMountTable()
{
    mountTableLoaded = true;
    byMountId.clear();
    byDevice.clear();
    QFile table(u"/proc/self/mountinfo"_s);
    if (!table.open(QIODevice::ReadOnly))
        return;
    for (const MountInfoEntry &entry : parseMountInfo(table.readAll())) {
        byMountId.insert(quint64(entry.mountId), Mount{entry.fileSystem, entry.source});
        byDevice.insert(entry.majorMinor, Mount{entry.fileSystem, entry.source});
    }
}

std::optional<Walker::State::Mount> Walker::State::mountOf(const Identity &identity)
{
#ifdef __linux__
    const QString device = QString::number(major(identity.dev)) + u':' + QString::number(minor(identity.dev));
    // A mount made since the table was read is looked up once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!mountTableLoaded || attempt == 1)
            loadMountTable();
        if (identity.mountId != 0) {
            const auto found = byMountId.constFind(identity.mountId);
            if (found != byMountId.cend())
                return *found;
        } else {
            const auto found = byDevice.constFind(device);
            if (found != byDevice.cend())
                return *found;
        }
    }
#else
    Q_UNUSED(identity);
#endif
    return std::nullopt;
}

Pseudo Walker::State::pseudoByMountTable(const Identity &identity)
{
    const std::optional<Mount> mount = mountOf(identity);
    if (!mount)
        return Pseudo::unknown;
    return isPseudoFileSystem(mount->type) ? Pseudo::yes : Pseudo::no;
}

// Another mount of the disk the root is on: a btrfs subvolume mounted on its
// own (Fedora's /home on the disk of "/") holds files of the same volume.
bool Walker::State::onRootFileSystem(const Identity &identity)
{
    if (!rootMount || !rootMount->source.startsWith(u"/dev/"_s))
        return false;
    const std::optional<Mount> mount = mountOf(identity);
    return mount && mount->source == rootMount->source && mount->type == rootMount->type;
}

bool Walker::State::list(Frame &frame)
{
    auto add = [&frame, this](const char *name, std::size_t length, quint8 type) {
        if (name[0] == '.' && (length == 1 || (length == 2 && name[1] == '.')))
            return;
        if (options.skipHidden && name[0] == '.')
            return;
        frame.items.push_back(Item{quint32(frame.names.size()), quint32(length), type});
        frame.names.append(name, length);
        frame.names.push_back('\0');
    };
#ifdef __linux__
    for (;;) {
        const ssize_t got = ::getdents64(frame.fd, listing.data(), listing.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto *entry = reinterpret_cast<const struct dirent64 *>(listing.data() + at);
            add(entry->d_name, std::strlen(entry->d_name), entry->d_type);
            at += entry->d_reclen;
        }
    }
#else
    const int copy = ::dup(frame.fd);
    DIR *folder = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!folder) {
        if (copy >= 0)
            ::close(copy);
        return false;
    }
    while (const struct dirent *entry = ::readdir(folder))
        add(entry->d_name, std::strlen(entry->d_name), entry->d_type);
    ::closedir(folder);
#endif
    const char *names = frame.names.data();
    std::sort(frame.items.begin(), frame.items.end(), [names](const Item &a, const Item &b) {
        return std::strcmp(names + a.nameOffset, names + b.nameOffset) < 0;
    });
    return true;
}

bool Walker::State::enter(std::size_t parentIndex, const char *name, std::size_t nameLength)
{
    Identity identity;
    {
        const Frame &parent = stack[parentIndex];
        // Looked at without triggering an automount: an autofs point that is
        // not mounted yet is a pseudo file system and stays untouched.
        if (!identify(parent.fd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, &identity) || !S_ISDIR(identity.mode))
            return false;
    }
    Pseudo pseudo = Pseudo::no;
    const bool crossing = !sameMount(identity, stack[parentIndex].identity);
    if (crossing) {
        if (options.scope == Scope::rootMount) {
            if (!onRootFileSystem(identity))
                return false;
        } else {
            pseudo = pseudoByMountTable(identity);
            if (pseudo == Pseudo::yes)
                return false;
        }
    }
    for (const Frame &ancestor : stack) {
        if (ancestor.identity.dev == identity.dev && ancestor.identity.ino == identity.ino)
            return false;
    }

    const bool keepAccessTime = euid == 0 || identity.owner == euid;
    const int fd = openFolderAt(stack[parentIndex].fd, name, keepAccessTime, O_NOFOLLOW);
    if (fd < 0)
        return false;
    // What was opened must be what was looked at: a folder swapped for
    // another, or mounted over, in between is left alone.
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || opened.st_dev != identity.dev || opened.st_ino != identity.ino
        || (crossing && pseudo == Pseudo::unknown && pseudoByFileSystem(fd) != Pseudo::no)) {
        ::close(fd);
        return false;
    }

    Frame child;
    child.fd = fd;
    child.identity = identity;
    if (!list(child)) {
        ::close(fd);
        return false;
    }
    path.push_back('/');
    path.append(name, nameLength);
    child.pathLength = path.size();
    if (stack.size() >= heldDepth) {
        ::close(stack[parentIndex].fd);
        stack[parentIndex].fd = -1;
    }
    stack.push_back(std::move(child));
    return true;
}

bool Walker::State::reopen(std::size_t index)
{
    std::size_t holder = index;
    while (holder > 0 && stack[holder - 1].fd < 0)
        --holder;
    if (holder == 0)
        return false;
    const Frame &ancestor = stack[holder - 1];
    Frame &frame = stack[index];
    const std::string relative = path.substr(ancestor.pathLength + 1, frame.pathLength - ancestor.pathLength - 1);
    const int fd = openFolderAt(ancestor.fd, relative.c_str(), euid == 0 || frame.identity.owner == euid, O_NOFOLLOW);
    if (fd < 0)
        return false;
    // The names on the way are followed as they now are; only the folder
    // listed before is taken.
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_dev != frame.identity.dev || status.st_ino != frame.identity.ino) {
        ::close(fd);
        return false;
    }
    frame.fd = fd;
    return true;
}

void Walker::State::pop()
{
    if (stack.back().fd >= 0)
        ::close(stack.back().fd);
    stack.pop_back();
    path.resize(stack.empty() ? std::size_t(prefix.size()) : stack.back().pathLength);
}

void Walker::State::closeAll()
{
    while (!stack.empty())
        pop();
}

Walker::Walker(const QString &root, Options options)
    : d(std::make_unique<State>())
{
    d->root = root;
    while (d->root.size() > 1 && d->root.endsWith(u'/'))
        d->root.chop(1);
    d->prefix = d->root == u"/"_s ? QByteArray() : QFile::encodeName(d->root);
    d->options = options;
}

Walker::~Walker()
{
    d->closeAll();
}

bool Walker::open()
{
    d->closeAll();
    if (d->root.isEmpty())
        return false;
    // The root is the caller's choice and may be a link to a folder.
    const int fd = openFolderAt(AT_FDCWD, QFile::encodeName(d->root).constData(), true, 0);
    if (fd < 0)
        return false;
    Frame frame;
    frame.fd = fd;
#ifdef AT_EMPTY_PATH
    const bool identified = d->identify(fd, "", AT_EMPTY_PATH, &frame.identity);
#else
    const bool identified = d->identify(fd, ".", 0, &frame.identity);
#endif
    if (!identified || !S_ISDIR(frame.identity.mode)) {
        ::close(fd);
        return false;
    }
    d->rootMount = d->mountOf(frame.identity);
    Pseudo pseudo = d->rootMount ? (isPseudoFileSystem(d->rootMount->type) ? Pseudo::yes : Pseudo::no)
                                 : pseudoByFileSystem(fd);
    if (pseudo != Pseudo::no || !d->list(frame)) {
        ::close(fd);
        return false;
    }
    d->path.assign(d->prefix.constData(), std::size_t(d->prefix.size()));
    frame.pathLength = d->path.size();
    d->stack.push_back(std::move(frame));
    return true;
}

void Walker::run(const std::function<bool(const Entry &)> &visit)
{
    State &s = *d;
    while (!s.stack.empty()) {
        const std::size_t index = s.stack.size() - 1;
        Frame &frame = s.stack[index];
        if (frame.next == frame.items.size()) {
            s.pop();
            continue;
        }
        if (frame.fd < 0 && !s.reopen(index)) {
            s.pop();
            continue;
        }
        const Item item = frame.items[frame.next++];
        const char *name = frame.names.data() + item.nameOffset;
        Kind kind;
        switch (item.type) {
        case DT_REG:
            kind = Kind::file;
            break;
        case DT_DIR:
            kind = Kind::folder;
            break;
        case DT_LNK:
            kind = Kind::link;
            break;
        case DT_UNKNOWN: {
            // Some file systems don't report types in the listing.
            struct stat status {};
            if (::fstatat(frame.fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            kind = kindOfMode(status.st_mode);
            break;
        }
        default:
            kind = Kind::other;
            break;
        }
        Entry entry;
        entry.folderFd = frame.fd;
        entry.name = name;
        entry.nameLength = item.nameLength;
        entry.kind = kind;
        entry.depth = int(index);
        entry.keepAccessTime = s.euid == 0 || frame.identity.owner == s.euid;
        if (!visit(entry)) {
            s.closeAll();
            return;
        }
        if (kind == Kind::folder)
            s.enter(index, name, item.nameLength);
    }
}

QByteArray Walker::encodedPathOf(const Entry &entry) const
{
    QByteArray path;
    path.reserve(qsizetype(d->path.size() + entry.nameLength + 1));
    path.append(d->path.data(), qsizetype(d->path.size()));
    path.append('/');
    path.append(entry.name, qsizetype(entry.nameLength));
    return path;
}

QString Walker::pathOf(const Entry &entry) const
{
    return QFile::decodeName(encodedPathOf(entry));
}

QString Walker::root() const
{
    return d->root;
}

} // namespace TreeWalk
