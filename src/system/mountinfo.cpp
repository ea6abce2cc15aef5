#include "mountinfo.h"

#include <QFile>
#include <QSet>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// The kernel writes space, tab, newline and backslash in paths as a backslash
// and three octal digits (fs/proc_namespace.c, mangle()).
QString unescapeField(const QByteArray &field)
{
    QByteArray bytes;
    bytes.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = digits.size() == 3;
            for (char d : digits)
                ok = ok && d >= '0' && d <= '7';
            if (ok) {
                bytes.append(static_cast<char>(digits.toInt(nullptr, 8)));
                i += 3;
                continue;
            }
        }
        bytes.append(c);
    }
    // Paths are bytes; the locale codec maps them the way QFile does.
    return QFile::decodeName(bytes);
}

bool isUnder(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + u'/');
}

QString btrfsSubvolume(const QString &superOptions)
{
    const QStringList options = superOptions.split(u',');
    for (const QString &option : options) {
        if (option.startsWith(u"subvol="_s))
            return option.mid(7);
    }
    return QString();
}

} // namespace

QList<MountInfoEntry> parseMountInfo(const QByteArray &text)
{
    QList<MountInfoEntry> entries;
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        // id parent maj:min root mountpoint options [optional...] - fstype source superoptions
        const qsizetype separator = fields.indexOf("-", 6);
        if (separator < 0 || separator + 2 >= fields.size())
            continue;
        MountInfoEntry entry;
        bool idOk = false;
        bool parentOk = false;
        entry.mountId = fields[0].toInt(&idOk);
        entry.parentId = fields[1].toInt(&parentOk);
        if (!idOk || !parentOk)
            continue;
        entry.majorMinor = QString::fromLatin1(fields[2]);
        entry.root = unescapeField(fields[3]);
        entry.mountPoint = unescapeField(fields[4]);
        entry.options = QString::fromLatin1(fields[5]);
        entry.fileSystem = unescapeField(fields[separator + 1]);
        entry.source = unescapeField(fields[separator + 2]);
        if (separator + 3 < fields.size())
            entry.superOptions = unescapeField(fields[separator + 3]);
        entries.append(entry);
    }
    return entries;
}

bool isUserVolumeMount(const MountInfoEntry &entry)
{
    static const QSet<QString> blockFileSystems = {
        u"ext2"_s, u"ext3"_s, u"ext4"_s, u"btrfs"_s, u"xfs"_s, u"f2fs"_s, u"vfat"_s, u"exfat"_s,
        u"ntfs"_s, u"ntfs3"_s, u"fuseblk"_s, u"hfsplus"_s, u"iso9660"_s, u"udf"_s,
    };
    if (!entry.source.startsWith(u"/dev/"_s) || !blockFileSystems.contains(entry.fileSystem))
        return false;
    // A bind mount shows a sub-folder of a file system that is listed
    // already. A btrfs subvolume also has a root other than "/", but there
    // the root is exactly the subvol= option; a bind mount of a folder on
    // btrfs keeps its subvolume's option and so differs from it.
    if (entry.root != u"/"_s && !(entry.fileSystem == u"btrfs"_s && entry.root == btrfsSubvolume(entry.superOptions)))
        return false;

    const QString &mountPoint = entry.mountPoint;
    // udisks mounts removable media under /run/media/$USER on Fedora and Arch.
    if (isUnder(mountPoint, u"/run/media"_s))
        return true;
    static const QStringList systemTrees = {
        u"/proc"_s, u"/sys"_s, u"/dev"_s, u"/run"_s, u"/boot"_s, u"/snap"_s, u"/var/snap"_s, u"/var/lib/docker"_s,
    };
    for (const QString &tree : systemTrees) {
        if (isUnder(mountPoint, tree))
            return false;
    }
    return true;
}

QList<MountInfoEntry> userVolumeMounts(const QList<MountInfoEntry> &entries)
{
    QList<MountInfoEntry> kept;
    for (const MountInfoEntry &entry : entries) {
        if (!isUserVolumeMount(entry))
            continue;
        auto same = std::find_if(kept.begin(), kept.end(),
                                 [&](const MountInfoEntry &other) { return other.source == entry.source; });
        if (same == kept.end())
            kept.append(entry);
        else if (entry.mountPoint.size() < same->mountPoint.size())
            *same = entry;
    }
    return kept;
}
