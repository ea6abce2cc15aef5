#pragma once

#include <QString>

#include <sys/types.h>

// Whether saving into `folder` would write onto the storage a scan read
// `scannedSource` from: the same block device, a partition of the scanned
// disk, or the disk that holds the scanned partition. Saved files would then
// take the very free space the deleted files lie in.
//
// `scannedSource` is a device node, a disk-image file or a folder (a mounted
// volume, whose device counts). `folder` need not exist yet: its nearest
// existing parent decides. Each side is followed down to the disks it rests
// on: a device-mapper or RAID volume through the devices it is made of, and,
// on the saving side, a loop device through its image file (a sparse image
// grows into its host's free space). Partitions of one disk don't touch each
// other. A disk-image file is not a device: saving into the file system that
// holds it is fine, unless the folder lies inside that very image (mounted
// through a loop device). The file system of a folder is found through the
// mount table, so btrfs subvolumes, whose st_dev is an anonymous number,
// resolve to their real device. False when either side can't be resolved.
bool savesOntoScannedDevice(const QString &folder, const QString &scannedSource);

// The canonical path of `path`, or of its nearest existing parent when it
// doesn't exist yet (a save folder made only when saving begins); empty when
// nothing on the way exists.
QString nearestExistingPath(const QString &path);

// The device node of the file system that holds `path` (or its nearest
// existing parent), as the mount table names it; empty when unknown.
QString storageDeviceOf(const QString &path);

// The test between two block devices, with the kernel's sysfs tree under
// `sysRoot`: whether writing to `target` can reach the blocks of `scanned`.
bool devicesShareStorage(dev_t scanned, dev_t target, const QString &sysRoot = QStringLiteral("/sys"));
