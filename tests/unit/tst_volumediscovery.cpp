#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include "helpers/testsupport.h"
#include "system/linuxplatform.h"
#include "system/macplatform.h"
#include "system/mountinfo.h"
#include "system/platform.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QString dataFolder = QStringLiteral(QUORVEL_TEST_DATA);

QByteArray readFixture(const QString &name)
{
    return readFile(dataFolder + u"/captured/"_s + name);
}

VolumeInfo volume(const QString &name, bool external)
{
    VolumeInfo v;
    v.name = name;
    v.isExternal = external;
    return v;
}

QStringList names(const QList<VolumeInfo> &volumes)
{
    QStringList list;
    for (const VolumeInfo &v : volumes)
        list.append(v.name);
    return list;
}

} // namespace

class TestVolumeDiscovery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void parseDiskutilInfo_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("fileSystem");
        QTest::addRow("captured listing, personality wins")
            << QString::fromUtf8(readFixture(u"diskutil-info-data.txt"_s)) << u"/dev/disk3s1"_s << u"APFS"_s;
        QTest::addRow("later line wins whatever its kind")
            << u"File System Personality:  HFS+\nType (Bundle):  hfs\n"_s << u"unknown"_s << u"hfs"_s;
        QTest::addRow("tabs and padding") << u"\t Device Node:\t/dev/disk9 \t\n\tFile System Personality: \tExFAT\t"_s
                                          << u"/dev/disk9"_s << u"ExFAT"_s;
        QTest::addRow("key must start the line") << u"   Volume Device Node: /dev/disk1\n"_s << u"unknown"_s
                                                 << u"unknown"_s;
        QTest::addRow("nothing") << QString() << u"unknown"_s << u"unknown"_s;
    }
    void parseDiskutilInfo()
    {
        QFETCH(QString, output);
        QFETCH(QString, device);
        QFETCH(QString, fileSystem);
        const DiskInfo info = ::parseDiskutilInfo(output);
        QCOMPARE(info.device, device);
        QCOMPARE(info.fileSystem, fileSystem);
    }

    void rawDevice_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("raw");
        QTest::addRow("partition") << u"/dev/disk3s1"_s << u"/dev/rdisk3s1"_s;
        QTest::addRow("already raw") << u"/dev/rdisk2"_s << u"/dev/rdisk2"_s;
        QTest::addRow("unknown") << u"unknown"_s << u"unknown"_s;
    }
    void rawDevice()
    {
        QFETCH(QString, device);
        QFETCH(QString, raw);
        QCOMPARE(macRawDevicePath(device), raw);
        QCOMPARE(makePlatform(PlatformKind::gnuLinux)->rawDevicePath(device), device);
    }

    void externalFirstKeepsOrderWithinGroups()
    {
        QList<VolumeInfo> list = {volume(u"A"_s, false), volume(u"B"_s, true), volume(u"C"_s, false),
                                  volume(u"D"_s, true)};
        sortExternalFirst(list);
        QCOMPARE(names(list), (QStringList{u"B"_s, u"D"_s, u"A"_s, u"C"_s}));
    }

    void macVolumesFromAttributes()
    {
        MountedVolumeAttributes internal{u"/"_s, u"Macintosh HD"_s, 1000, 400, false, true};
        MountedVolumeAttributes bare{u"/Volumes/Data"_s, {}, {}, {}, {}, {}};
        MountedVolumeAttributes stick{u"/Volumes/STICK"_s, u"STICK"_s, 64, 32, true, false};
        QStringList asked;
        const QList<VolumeInfo> volumes = assembleMacVolumes({internal, bare, stick}, [&](const QString &mountPoint) {
            asked.append(mountPoint);
            return mountPoint == u"/"_s ? DiskInfo{u"/dev/disk3s1"_s, u"APFS"_s} : DiskInfo{u"unknown"_s, u"unknown"_s};
        });
        QCOMPARE(asked, (QStringList{u"/"_s, u"/Volumes/Data"_s, u"/Volumes/STICK"_s}));
        QCOMPARE(names(volumes), (QStringList{u"STICK"_s, u"Macintosh HD"_s, u"Data"_s}));
        QVERIFY(volumes[0].isExternal && volumes[0].isRemovable);
        QCOMPARE(volumes[1].rawDevice, u"/dev/rdisk3s1"_s);
        QCOMPARE(volumes[1].freeSize, 400);
        // Attributes the system left out count as absent, not as garbage.
        const VolumeInfo &data = volumes[2];
        QVERIFY(!data.isExternal && !data.isRemovable);
        QCOMPARE(data.totalSize, 0);
        QCOMPARE(data.rawDevice, u"unknown"_s);
    }

    void macBackendRunsDiskutilPerVolume_data()
    {
        QTest::addColumn<QString>("diskutil");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("fileSystem");
        QTest::addRow("captured output") << dataFolder + u"/tools/diskutil"_s << u"/dev/disk3s1"_s << u"APFS"_s;
        QTest::addRow("prints nothing") << dataFolder + u"/tools/silent"_s << u"unknown"_s << u"unknown"_s;
        QTest::addRow("missing") << u"/nonexistent/diskutil"_s << u"unknown"_s << u"unknown"_s;
    }
    void macBackendRunsDiskutilPerVolume()
    {
        QFETCH(QString, diskutil);
        QFETCH(QString, device);
        QFETCH(QString, fileSystem);
        ToolPaths tools = ToolPaths::defaultsFor(PlatformKind::macOS);
        tools.diskutil = diskutil;
        const QList<VolumeInfo> volumes = makePlatform(PlatformKind::macOS, tools)->discoverVolumes();
        auto root = std::find_if(volumes.begin(), volumes.end(), [](const VolumeInfo &v) { return v.mountPoint == u"/"_s; });
        QVERIFY(root != volumes.end());
        QCOMPARE(root->device, device);
        QCOMPARE(root->rawDevice, macRawDevicePath(device));
        QCOMPARE(root->fileSystem, fileSystem);
        QVERIFY(root->totalSize > 0);
    }

    void parseMountInfoUnescapesPaths()
    {
        const QList<MountInfoEntry> entries = parseMountInfo(readFixture(u"mountinfo-desktop.txt"_s));
        QCOMPARE(entries.size(), 31);
        const MountInfoEntry &loop = entries[8];
        QCOMPARE(loop.majorMinor, u"7:0"_s);
        QCOMPARE(loop.fileSystem, u"ext4"_s);
        QCOMPARE(loop.source, u"/dev/loop0"_s);
        // Optional fields ("shared:6 master:1") sit before the separator.
        QCOMPARE(entries[15].mountPoint, u"/media/anna/USB STICK"_s);
        QCOMPARE(entries[15].superOptions, u"rw,uid=1000"_s);
        QCOMPARE(entries[16].mountPoint, u"/run/media/anna/Backup\\Disk"_s);
        QCOMPARE(entries[22].mountPoint, u"/mnt/tab\tname"_s);
        QCOMPARE(entries[11].root, u"/@data"_s);
        QCOMPARE(entries[11].superOptions, u"rw,space_cache=v2,subvolid=256,subvol=/@data"_s);
    }

    void userVolumesFromTheMountTable()
    {
        const QList<MountInfoEntry> kept = userVolumeMounts(parseMountInfo(readFixture(u"mountinfo-desktop.txt"_s)));
        QStringList mountPoints;
        for (const MountInfoEntry &entry : kept)
            mountPoints.append(entry.mountPoint + u" "_s + entry.source);
        QCOMPARE(mountPoints, (QStringList{
                                  u"/ /dev/vda"_s,
                                  u"/tmp/lp/vol /dev/loop0"_s,            // its bind mount /tmp/lp/bnd is left out
                                  u"/tmp/lp/bt /dev/loop2"_s,             // not its folder bind-mounted at /b
                                  u"/tmp/lp/data /dev/loop3"_s,           // a btrfs subvolume is a volume; /a is a bind
                                  u"/media/anna/USB STICK /dev/sdb1"_s,
                                  u"/run/media/anna/Backup\\Disk /dev/sdc1"_s,
                                  u"/home /dev/sda3"_s,                   // mounted twice, listed once
                                  u"/mnt/tab\tname /dev/sdd1"_s,
                                  u"/mnt/windows /dev/nvme0n1p3"_s,
                                  u"/mnt/s /dev/sda4"_s,                  // shortest mount point, first place
                              }));
    }

    void mountFilterBoundaries_data()
    {
        QTest::addColumn<QString>("mountPoint");
        QTest::addColumn<QString>("fileSystem");
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("kept");
        QTest::addRow("/bootstrap is not /boot") << u"/bootstrap"_s << u"ext4"_s << u"/dev/sda5"_s << true;
        QTest::addRow("/boot itself") << u"/boot"_s << u"ext4"_s << u"/dev/sda5"_s << false;
        QTest::addRow("/run/mediax is not /run/media") << u"/run/mediax/u/x"_s << u"ext4"_s << u"/dev/sda5"_s << false;
        QTest::addRow("/snapshots is not /snap") << u"/snapshots"_s << u"btrfs"_s << u"/dev/sda5"_s << true;
        QTest::addRow("squashfs") << u"/mnt/img"_s << u"squashfs"_s << u"/dev/loop4"_s << false;
        QTest::addRow("tmpfs with a /dev-looking source") << u"/mnt/t"_s << u"tmpfs"_s << u"/dev/shm"_s << false;
        QTest::addRow("ext4 over a non-device source") << u"/mnt/x"_s << u"ext4"_s << u"none"_s << false;
        QTest::addRow("iso image") << u"/media/u/CDROM"_s << u"iso9660"_s << u"/dev/sr0"_s << true;
    }
    void mountFilterBoundaries()
    {
        QFETCH(QString, mountPoint);
        QFETCH(QString, fileSystem);
        QFETCH(QString, source);
        QFETCH(bool, kept);
        MountInfoEntry entry;
        entry.root = u"/"_s;
        entry.mountPoint = mountPoint;
        entry.fileSystem = fileSystem;
        entry.source = source;
        QCOMPARE(isUserVolumeMount(entry), kept);
    }

    void blockDeviceFlags_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("removable");
        QTest::addColumn<bool>("external");
        QTest::addRow("USB stick partition takes its disk's flags") << u"/dev/sdb1"_s << true << true;
        QTest::addRow("USB stick whole disk") << u"/dev/sdb"_s << true << true;
        QTest::addRow("USB disk, fixed media") << u"/dev/sde1"_s << false << true;
        QTest::addRow("internal NVMe partition") << u"/dev/nvme0n1p2"_s << false << false;
        QTest::addRow("hot-pluggable port") << u"/dev/sdc"_s << false << true;
        QTest::addRow("loop device") << u"/dev/loop7"_s << false << false;
        QTest::addRow("encrypted volume on the USB stick") << u"/dev/dm-3"_s << true << true;
        QTest::addRow("unknown to sysfs") << u"/dev/mapper/nothing"_s << false << false;
    }
    void blockDeviceFlags()
    {
        QFETCH(QString, device);
        QFETCH(bool, removable);
        QFETCH(bool, external);
        // A sysfs tree in the shape the kernel gives it: class/block links
        // into devices/, partitions inside their disk's folder.
        QTemporaryDir sys;
        const QString usbPort = u"devices/pci0000:00/0000:00:14.0/usb1/1-1"_s;
        const QString usbDisk = usbPort + u"/1-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb"_s;
        const QString usbFixed = u"devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host7/block/sde"_s;
        const QString nvme = u"devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1"_s;
        const QString hotplug = u"devices/pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0/block/sdc"_s;
        const QString loop = u"devices/virtual/block/loop7"_s;
        const QString mapper = u"devices/virtual/block/dm-3"_s;
        const QList<std::pair<QString, QByteArray>> attributes = {
            {usbPort + u"/removable"_s, "removable\n"}, {usbDisk + u"/removable"_s, "1\n"},
            {usbDisk + u"/sdb1/partition"_s, "1\n"}, {usbFixed + u"/removable"_s, "0\n"},
            {usbFixed + u"/sde1/partition"_s, "1\n"}, {nvme + u"/removable"_s, "0\n"},
            {nvme + u"/nvme0n1p2/partition"_s, "2\n"}, {u"devices/pci0000:00/0000:00:1f.2/removable"_s, "removable\n"},
            {hotplug + u"/removable"_s, "0\n"}, {loop + u"/removable"_s, "0\n"}, {mapper + u"/removable"_s, "0\n"},
        };
        for (const auto &[path, value] : attributes)
            QVERIFY(writeFile(sys.filePath(path), value));
        QDir().mkpath(sys.filePath(mapper + u"/slaves"_s));
        QVERIFY(QFile::link(u"../../../../"_s + usbDisk + u"/sdb1"_s, sys.filePath(mapper + u"/slaves/sdb1"_s)));
        QDir().mkpath(sys.filePath(u"class/block"_s));
        const QList<std::pair<QString, QString>> links = {
            {u"sdb"_s, usbDisk}, {u"sdb1"_s, usbDisk + u"/sdb1"_s}, {u"sde1"_s, usbFixed + u"/sde1"_s},
            {u"nvme0n1p2"_s, nvme + u"/nvme0n1p2"_s}, {u"sdc"_s, hotplug}, {u"loop7"_s, loop}, {u"dm-3"_s, mapper},
        };
        for (const auto &[name, target] : links)
            QVERIFY(QFile::link(u"../../"_s + target, sys.filePath(u"class/block/"_s + name)));

        const BlockDeviceFlags flags = ::blockDeviceFlags(device, sys.path());
        QCOMPARE(flags.isRemovable, removable);
        QCOMPARE(flags.isExternal, external);
    }

    void formatVolumeList()
    {
        VolumeInfo stick = volume(u"USB STICK"_s, true);
        stick.isRemovable = true;
        stick.mountPoint = u"/media/anna/USB STICK"_s;
        stick.device = u"/dev/sdb1"_s;
        stick.fileSystem = u"vfat"_s;
        stick.totalSize = 57381888;
        stick.freeSize = 52662272;
        VolumeInfo root = volume(u"Root"_s, false);
        root.mountPoint = u"/"_s;
        root.device = u"/dev/vda"_s;
        root.fileSystem = u"ext4"_s;
        QCOMPARE(::formatVolumeList({stick, root}),
                 u"USB STICK\t/media/anna/USB STICK\t/dev/sdb1\tvfat\t52.7 MB free / 57.4 MB\texternal, removable\n"
                 "Root\t/\t/dev/vda\text4\tZero KB free / Zero KB\n"_s);
        VolumeInfo odd = volume(u"two\nlines"_s, false);
        odd.mountPoint = u"/mnt/tab\tname\\x"_s;
        QVERIFY(::formatVolumeList({odd}).startsWith(u"two\\nlines\t/mnt/tab\\tname\\\\x\t"_s));
        QCOMPARE(::formatVolumeList({odd}).count(u'\n'), 1);
    }

    void loopMountedImageIsDiscovered_data()
    {
        QTest::addColumn<QString>("fileSystem");
        QTest::addColumn<qint64>("imageSize");
        QTest::addRow("ext4") << u"ext4"_s << qint64(32 * 1048576);
        // btrfs reports an anonymous st_dev (0:NN): the device must come from the mount table.
        QTest::addRow("btrfs") << u"btrfs"_s << qint64(128 * 1048576);
    }
    void loopMountedImageIsDiscovered()
    {
        QFETCH(QString, fileSystem);
        QFETCH(qint64, imageSize);
        if (::geteuid() != 0)
            QSKIP("loop mounts need root");
        const QString mkfs = QStandardPaths::findExecutable(u"mkfs."_s + fileSystem, {u"/sbin"_s, u"/usr/sbin"_s});
        if (mkfs.isEmpty())
            QSKIP(qPrintable(u"mkfs."_s + fileSystem + u" is not installed"_s));
        QTemporaryDir dir;
        const QString image = dir.filePath(u"volume.img"_s);
        // A space in both label and mount point: mountinfo escapes it as \040.
        const QString mountPoint = dir.filePath(u"mount point"_s);
        const QString bindPoint = dir.filePath(u"bind"_s);
        QVERIFY(QDir().mkpath(mountPoint));
        QVERIFY(QDir().mkpath(bindPoint));
        QVERIFY(writeFile(image, QByteArray()));
        QVERIFY(QFile::resize(image, imageSize));
        if (QProcess::execute(mkfs, {u"-q"_s, u"-L"_s, u"Quorvel Test"_s, image}) != 0)
            QSKIP(qPrintable(mkfs + u" failed"_s));
        if (QProcess::execute(u"/bin/mount"_s, {u"-o"_s, u"loop"_s, image, mountPoint}) != 0)
            QSKIP("mount refused to mount the image");
        QStringList mounted{mountPoint};
        const auto unmount = qScopeGuard([&] {
            for (const QString &point : std::as_const(mounted))
                QProcess::execute(u"/bin/umount"_s, {point});
        });
        // A bind mount of a folder inside the volume is the same volume again.
        QVERIFY(QDir().mkpath(mountPoint + u"/data"_s));
        if (QProcess::execute(u"/bin/mount"_s, {u"--bind"_s, mountPoint + u"/data"_s, bindPoint}) == 0)
            mounted.prepend(bindPoint);

        const QList<VolumeInfo> volumes = makePlatform(PlatformKind::gnuLinux)->discoverVolumes();
        QList<VolumeInfo> ours;
        for (const VolumeInfo &v : volumes) {
            QVERIFY2(v.device.startsWith(u"/dev/"_s), qPrintable(v.mountPoint));
            if (v.mountPoint.startsWith(dir.path()))
                ours.append(v);
        }
        QCOMPARE(ours.size(), 1);
        const VolumeInfo &found = ours.first();
        const QString quoted = u"'"_s + shellQuoted(mountPoint) + u"'"_s;
        QCOMPARE(found.mountPoint, mountPoint);
        QCOMPARE(found.device, shellOutput(u"findmnt -no SOURCE --mountpoint "_s + quoted));
        QVERIFY(found.device.startsWith(u"/dev/loop"_s));
        QCOMPARE(found.rawDevice, found.device);
        QCOMPARE(found.fileSystem, fileSystem);
        QCOMPARE(found.name, u"Quorvel Test"_s);
        QVERIFY(!found.isExternal);
        QVERIFY(!found.isRemovable);
        const QStringList blocks = shellOutput(u"stat -f -c '%b %a %S' "_s + quoted).split(u' ');
        QCOMPARE(blocks.size(), 3);
        QCOMPARE(found.totalSize, blocks[0].toLongLong() * blocks[2].toLongLong());
        QCOMPARE(found.freeSize, blocks[1].toLongLong() * blocks[2].toLongLong());
        QVERIFY(found.totalSize > imageSize / 2 && found.totalSize <= imageSize);
        QVERIFY(::formatVolumeList(ours).startsWith(u"Quorvel Test\t"_s + mountPoint + u"\t/dev/loop"_s));
        // A raw scan must reach the end of the device, not only the file
        // system's capacity, which ext4 reports smaller.
        QCOMPARE(makePlatform(PlatformKind::gnuLinux)->deviceSize(found.device), imageSize);
    }
};

QTEST_GUILESS_MAIN(TestVolumeDiscovery)
#include "tst_volumediscovery.moc"
