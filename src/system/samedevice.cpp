#include "samedevice.h"

#include <QFile>

#include <sys/stat.h>

bool savesOntoScannedDevice(const QString &folder, const QString &scannedSource)
{
    struct stat target {};
    struct stat source {};
    if (::stat(QFile::encodeName(folder).constData(), &target) != 0
        || ::stat(QFile::encodeName(scannedSource).constData(), &source) != 0)
        return false;
    // Only the plain case so far: the folder's file system lives on the very
    // node that is scanned.
    return S_ISBLK(source.st_mode) && target.st_dev == source.st_rdev;
}
