#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// /proc/self/mountinfo, one entry per line (proc(5)): the fields that volume
// discovery needs, with the kernel's octal escapes (\040 for a space, \011,
// \012, \134) undone.
struct MountInfoEntry {
    int mountId = 0;
    int parentId = 0;
    QString majorMinor;
    QString root;        // the folder of the file system that is mounted ("/" unless a bind or subvolume)
    QString mountPoint;
    QString options;
    QString fileSystem;
    QString source;      // the device node for block file systems
    QString superOptions;
};

// Lines that don't have the documented shape are skipped.
QList<MountInfoEntry> parseMountInfo(const QByteArray &text);

// The mounts a user would recognise as a volume: a real block-device file
// system at a mount point outside the system's own trees. Duplicates of one
// device (bind mounts, the same disk mounted twice) are left out, keeping the
// shortest mount point at the place of the device's first mount.
bool isUserVolumeMount(const MountInfoEntry &entry);
QList<MountInfoEntry> userVolumeMounts(const QList<MountInfoEntry> &entries);
