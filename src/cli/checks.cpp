#include "checks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "carving/directscan.h"
#include "system/mountinfo.h"
#include "system/samedevice.h"

using namespace Qt::Literals::StringLiterals;

namespace {

QString reasonFor(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

QString kindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return u"a named pipe"_s;
    if (S_ISSOCK(mode))
        return u"a socket"_s;
    if (S_ISCHR(mode))
        return u"a character device"_s;
    return u"not a regular file"_s;
}

bool isScannableNode(mode_t mode)
{
#ifdef Q_OS_MACOS
    // macOS reads disks through their raw character nodes (/dev/rdiskN).
    if (S_ISCHR(mode))
        return true;
#endif
    return S_ISREG(mode) || S_ISBLK(mode);
}

QString accessAdvice(const QString &path)
{
    return u"cannot open "_s + path + u": Permission denied\n"
        "Reading a disk needs administrator rights. Run the same command as root:\n"
        "  sudo quorvel-carve ...\n"
        "or through the password prompt the window program uses (pkexec starts in root's home folder, so give "
        "absolute paths):\n"
        "  pkexec quorvel-carve ..."_s;
}

} // namespace

std::optional<QString> checkRawSource(const QString &path, qint64 *size)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat status {};
    if (::stat(encoded.constData(), &status) != 0)
        return u"cannot open "_s + path + u": "_s + reasonFor(errno);
    if (S_ISDIR(status.st_mode))
        return path + u" is a folder; give a device or disk-image file, or scan the files in it with --directory"_s;
    if (!isScannableNode(status.st_mode))
        return path + u" is "_s + kindOf(status.st_mode)
            + u"; quorvel-carve reads disk-image files and block devices only"_s;
    // O_NONBLOCK: a node swapped for a FIFO after the check still can't hang us.
    const int fd = ::open(encoded.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM)
            return accessAdvice(path);
        return u"cannot open "_s + path + u": "_s + reasonFor(errno);
    }
    struct stat opened {};
    const bool sameKind = ::fstat(fd, &opened) == 0 && isScannableNode(opened.st_mode);
    const DirectScan::Sizes sizes = DirectScan::sizesOf(fd);
    ::close(fd);
    if (!sameKind)
        return path + u" changed while it was checked"_s;
    *size = sizes.knownTotal;
    if (sizes.knownTotal == 0 && S_ISREG(opened.st_mode))
        return path + u" is empty (0 bytes): there is nothing to scan"_s;
    if (sizes.knownTotal == 0)
        return path + u" holds no data (0 bytes): a loop device with no image attached, or a drive without a medium"_s;
    return std::nullopt;
}

std::optional<QString> checkFolderSource(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return u"cannot open "_s + path + u": "_s + reasonFor(ENOENT);
    if (!info.isDir())
        return path + u" is not a folder"_s;
    if (::access(QFile::encodeName(path).constData(), R_OK | X_OK) != 0)
        return u"cannot read "_s + path + u": "_s + reasonFor(errno);
    return std::nullopt;
}

std::optional<QString> checkDestination(const QString &folder)
{
    const QString existing = nearestExistingPath(folder);
    const bool isTheFolder = QFileInfo::exists(folder);
    if (!QFileInfo(existing).isDir())
        return (isTheFolder ? folder : existing) + u" is not a folder"_s;
    if (::access(QFile::encodeName(existing).constData(), W_OK | X_OK) != 0) {
        const QString reason = reasonFor(errno);
        if (isTheFolder)
            return u"cannot write to "_s + folder + u": "_s + reason;
        return u"cannot create "_s + folder + u" in "_s + existing + u": "_s + reason;
    }
    return std::nullopt;
}

std::optional<QString> sameDeviceRefusal(const QString &folder, const QString &scannedSource)
{
    if (!savesOntoScannedDevice(folder, scannedSource))
        return std::nullopt;
    const QString holder = storageDeviceOf(folder);
    return folder + u" lies on "_s + (holder.isEmpty() ? u"the storage"_s : holder) + u", the same disk as "_s
        + scannedSource + u".\nSaving there would overwrite the free space the deleted files are in. Save onto "
                          "another disk (a USB drive, a network share), or add --allow-same-device if you accept "
                          "that risk."_s;
}

QStringList mountPointsOf(const QString &device)
{
    QFile table(u"/proc/self/mountinfo"_s);
    if (!table.open(QIODevice::ReadOnly))
        return {};
    const QString node = QFileInfo(device).canonicalFilePath();
    if (node.isEmpty())
        return {};
    // A whole disk is in use as much as any of its partitions is.
    QStringList partitions;
    const QString name = QFileInfo(node).fileName();
    const QDir sysfs(u"/sys/class/block/"_s + name);
    for (const QString &entry : sysfs.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (entry.startsWith(name) && QFileInfo::exists(sysfs.filePath(entry + u"/partition"_s)))
            partitions.append(u"/dev/"_s + entry);
    }
    QStringList points;
    for (const MountInfoEntry &mount : parseMountInfo(table.readAll())) {
        const QString source = QFileInfo(mount.source).canonicalFilePath();
        if (source.isEmpty())
            continue;
        QString point;
        if (source == node)
            point = mount.mountPoint;
        else if (partitions.contains(source))
            point = mount.mountPoint + u" ("_s + source + u')';
        if (!point.isEmpty() && !points.contains(point))
            points.append(point);
    }
    return points;
}
