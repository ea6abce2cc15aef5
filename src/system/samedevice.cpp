#include "samedevice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <optional>

#include <sys/stat.h>
#if __has_include(<sys/sysmacros.h>)
#include <sys/sysmacros.h>
#endif

#include "system/mountinfo.h"

using namespace Qt::Literals::StringLiterals;

namespace {

struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const FileId &, const FileId &) = default;
};
size_t qHash(const FileId &id, size_t seed = 0)
{
    return qHashMulti(seed, quint64(id.device), quint64(id.inode));
}

std::optional<dev_t> parseDeviceNumber(const QString &text)
{
    const QStringList parts = text.trimmed().split(u':');
    bool majorOk = false;
    bool minorOk = false;
    if (parts.size() != 2)
        return std::nullopt;
    const unsigned int majorNumber = parts[0].toUInt(&majorOk);
    const unsigned int minorNumber = parts[1].toUInt(&minorOk);
    if (!majorOk || !minorOk)
        return std::nullopt;
    return makedev(majorNumber, minorNumber);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<MountInfoEntry> currentMounts()
{
    return parseMountInfo(readAll(u"/proc/self/mountinfo"_s));
}

bool isUnder(const QString &path, const QString &folder)
{
    return folder == u"/"_s || path == folder || path.startsWith(folder + u'/');
}


// The mount whose tree holds `canonicalPath`; the last of equal mount points
// is the one on top.
std::optional<MountInfoEntry> mountHolding(const QString &canonicalPath, const QList<MountInfoEntry> &mounts)
{
    std::optional<MountInfoEntry> best;
    for (const MountInfoEntry &mount : mounts) {
        if (isUnder(canonicalPath, mount.mountPoint) && (!best || mount.mountPoint.size() >= best->mountPoint.size()))
            best = mount;
    }
    return best;
}

// The block device that holds the file system `path` is on. The mount
// source comes first: st_dev is an anonymous number on btrfs (each
// subvolume has its own) and tells nothing about the disk.
std::optional<dev_t> deviceOfPath(const QString &path, const QList<MountInfoEntry> &mounts)
{
    const QString existing = nearestExistingPath(path);
    if (existing.isEmpty())
        return std::nullopt;
    if (const std::optional<MountInfoEntry> mount = mountHolding(existing, mounts)) {
        struct stat source {};
        if (::stat(QFile::encodeName(mount->source).constData(), &source) == 0 && S_ISBLK(source.st_mode))
            return source.st_rdev;
        if (const std::optional<dev_t> number = parseDeviceNumber(mount->majorMinor); number && major(*number) != 0)
            return number;
    }
    struct stat status {};
    if (::stat(QFile::encodeName(existing).constData(), &status) == 0 && major(status.st_dev) != 0)
        return status.st_dev;
    return std::nullopt;
}

class StorageGraph
{
public:
    StorageGraph(QString sysRoot, QList<MountInfoEntry> mounts)
        : m_sysRoot(std::move(sysRoot))
        , m_mounts(std::move(mounts))
    {
    }

    // `device` and everything it is made of. With `followImages`, a loop
    // device also brings in the device its image file lies on, and the
    // image file itself is noted.
    void collect(dev_t device, bool followImages, QSet<dev_t> &devices, QSet<FileId> &images, int depth = 0) const
    {
        if (depth > 32 || devices.contains(device))
            return;
        devices.insert(device);
        const QString folder = folderOf(device);
        if (folder.isEmpty())
            return;
        const QStringList slaves = QDir(folder + u"/slaves"_s).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &slave : slaves) {
            if (const std::optional<dev_t> below = numberIn(folder + u"/slaves/"_s + slave))
                collect(*below, followImages, devices, images, depth + 1);
        }
        if (!followImages)
            return;
        // A partition of a loop device: the image belongs to its disk.
        const QString loopFolder = isPartition(folder) ? QFileInfo(folder).path() : folder;
        QByteArray image = readAll(loopFolder + u"/loop/backing_file"_s);
        if (image.endsWith('\n'))
            image.chop(1);
        if (image.isEmpty())
            return;
        struct stat status {};
        if (::stat(image.constData(), &status) != 0)
            return;
        images.insert(FileId{status.st_dev, status.st_ino});
        if (const std::optional<dev_t> host = deviceOfPath(QFile::decodeName(image), m_mounts))
            collect(*host, followImages, devices, images, depth + 1);
    }

    // The whole disk of a partition; any other device is its own.
    dev_t wholeDisk(dev_t device) const
    {
        const QString folder = folderOf(device);
        if (folder.isEmpty() || !isPartition(folder))
            return device;
        return numberIn(QFileInfo(folder).path()).value_or(device);
    }

private:
    QString folderOf(dev_t device) const
    {
        return QFileInfo(m_sysRoot + u"/dev/block/"_s + QString::number(major(device)) + u':'
                         + QString::number(minor(device)))
            .canonicalFilePath();
    }

    static bool isPartition(const QString &folder) { return QFileInfo::exists(folder + u"/partition"_s); }

    static std::optional<dev_t> numberIn(const QString &folder)
    {
        return parseDeviceNumber(QString::fromLatin1(readAll(folder + u"/dev"_s)));
    }

    QString m_sysRoot;
    QList<MountInfoEntry> m_mounts;
};

bool overlaps(const StorageGraph &graph, const QSet<dev_t> &scanned, const QSet<dev_t> &target)
{
    for (const dev_t s : scanned) {
        for (const dev_t t : target) {
            if (s == t || graph.wholeDisk(s) == t || graph.wholeDisk(t) == s)
                return true;
        }
    }
    return false;
}

} // namespace

bool devicesShareStorage(dev_t scanned, dev_t target, const QString &sysRoot)
{
    const StorageGraph graph(sysRoot, currentMounts());
    QSet<dev_t> scannedDevices;
    QSet<dev_t> targetDevices;
    QSet<FileId> images;
    graph.collect(scanned, false, scannedDevices, images);
    graph.collect(target, true, targetDevices, images);
    return overlaps(graph, scannedDevices, targetDevices);
}

QString nearestExistingPath(const QString &path)
{
    QString candidate = QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
    for (;;) {
        const QString canonical = QFileInfo(candidate).canonicalFilePath();
        if (!canonical.isEmpty())
            return canonical;
        const QString parent = QFileInfo(candidate).path();
        if (parent == candidate)
            return QString();
        candidate = parent;
    }
}

bool savesOntoScannedDevice(const QString &folder, const QString &scannedSource)
{
    const QList<MountInfoEntry> mounts = currentMounts();
    const std::optional<dev_t> target = deviceOfPath(folder, mounts);
    struct stat source {};
    if (!target || ::stat(QFile::encodeName(scannedSource).constData(), &source) != 0)
        return false;

    const StorageGraph graph(u"/sys"_s, mounts);
    QSet<dev_t> targetDevices;
    QSet<FileId> images;
    graph.collect(*target, true, targetDevices, images);

    if (S_ISREG(source.st_mode))
        return images.contains(FileId{source.st_dev, source.st_ino});
    std::optional<dev_t> scanned;
    struct stat block {};
    if (S_ISBLK(source.st_mode))
        scanned = source.st_rdev;
    else if (S_ISCHR(source.st_mode) && scannedSource.contains(u"/dev/rdisk"_s)
             && ::stat(QFile::encodeName(QString(scannedSource).replace(u"/dev/rdisk"_s, u"/dev/disk"_s)).constData(), &block) == 0)
        scanned = block.st_rdev; // macOS: the raw node reads the same disk as its block twin
    else if (S_ISDIR(source.st_mode))
        scanned = deviceOfPath(scannedSource, mounts);
    if (!scanned)
        return false;
    QSet<dev_t> scannedDevices;
    QSet<FileId> scannedImages;
    graph.collect(*scanned, false, scannedDevices, scannedImages);
    return overlaps(graph, scannedDevices, targetDevices);
}

QString storageDeviceOf(const QString &path)
{
    const QString existing = nearestExistingPath(path);
    if (existing.isEmpty())
        return QString();
    const std::optional<MountInfoEntry> mount = mountHolding(existing, currentMounts());
    return mount && mount->source.startsWith(u"/dev/"_s) ? mount->source : QString();
}
