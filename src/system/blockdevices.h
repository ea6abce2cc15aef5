#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

#include "model/records.h"

// The block devices of a Linux system as lsblk reports them: whole disks,
// their partitions, loop devices, device-mapper and RAID volumes. Recovery
// starts by unmounting the damaged file system, so the device list can't stop
// at the mounted ones.

struct BlockDevice {
    QString name;        // the kernel's name: sda1, nvme0n1p2, loop0, dm-0
    QString path;        // the node to read: /dev/sda1, /dev/mapper/NAME
    QString type;        // lsblk's TYPE: disk, part, loop, crypt, lvm, raid1, rom...
    QString majorMinor;  // "8:1"
    QString parentName;  // the device this one sits on (a partition's disk), empty for a top one
    qint64 size = 0;     // bytes
    QString fileSystem;  // empty when unknown (lsblk knows it only from udev)
    QString label;
    QString model;       // a partition takes its disk's
    QString transport;   // usb, sata, nvme...; a partition takes its disk's
    QStringList mountPoints;  // where it is mounted; "[SWAP]" and the like are not mount points
    bool isRemovable = false;
    bool isHotplug = false;
};

// The arguments that make lsblk print what parseLsblkJson() reads. Older
// util-linux (before 2.37) knows only the single MOUNTPOINT column; the
// parser reads either.
QStringList lsblkArguments(bool singleMountPoint = false);

// `lsblk --json --bytes` output flattened: every device once, in the order
// listed, each after the device it sits on. A device under two parents (a
// RAID volume over two partitions) is listed under the first. Malformed
// output gives an empty list.
QList<BlockDevice> parseLsblkJson(const QByteArray &json);

// `blkid -p -o export DEVICE...` output: for each DEVNAME its KEY=value pairs,
// with the shell escapes of the values undone ("Old\ Data").
QHash<QString, QHash<QString, QString>> parseBlkidExport(const QString &text);

// Whether a user could want to scan the device: it holds bytes, and it is
// not memory (zram, ram disks) nor a read-only system image on a loop device
// (snaps).
bool isScannableBlockDevice(const BlockDevice &device);

// The kind of a device for people: "disk", "partition", "loop", "crypt",
// "lvm", "raid", "rom"; another lsblk type as it is.
QString deviceKindOf(const QString &lsblkType);

// Records for the scannable devices that `isListed` does not claim already
// (the mounted volumes), in lsblk's order. A device is named by its label
// when lsblk knows one, else by its kernel name; its mount point is its first
// one, or empty when it is not mounted. Its whole size is `totalSize` and
// `deviceSize`; external means hot-pluggable or on USB / FireWire.
QList<VolumeInfo> blockDeviceVolumes(const QList<BlockDevice> &devices,
                                     const std::function<bool(const BlockDevice &)> &isListed);

// Fills what a mounted volume record lacks (label, model, kind, device size)
// from the lsblk entry of its device.
void addDeviceDetails(VolumeInfo &volume, const BlockDevice &device);
