// Saving onto the device that is being scanned overwrites the free space the
// deleted files are in. These tests check the refusal's test on a sysfs tree
// of a shape loop devices can't give (device-mapper volumes), and on real
// loop devices with partitions, mounts, an image inside an image and btrfs.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/sysmacros.h>

#include "helpers/loopdevices.h"
#include "helpers/testsupport.h"
#include "system/samedevice.h"

using namespace Qt::Literals::StringLiterals;

class TestSameDevice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sysfsTree_data()
    {
        QTest::addColumn<QString>("scanned");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("shares");
        QTest::addRow("same partition") << u"8:1"_s << u"8:1"_s << true;
        QTest::addRow("partition of the scanned disk") << u"8:0"_s << u"8:1"_s << true;
        QTest::addRow("disk holding the scanned partition") << u"8:1"_s << u"8:0"_s << true;
        QTest::addRow("another partition of the same disk") << u"8:1"_s << u"8:2"_s << false;
        QTest::addRow("another disk") << u"8:0"_s << u"8:17"_s << false;
        QTest::addRow("LVM on LUKS on a partition of the scanned disk") << u"8:0"_s << u"254:1"_s << true;
        QTest::addRow("LVM on LUKS next to the scanned partition") << u"8:1"_s << u"254:1"_s << false;
        QTest::addRow("scanned LVM volume, saving beside it") << u"254:1"_s << u"8:1"_s << false;
        QTest::addRow("scanned LVM volume, saving into the LUKS below it") << u"254:1"_s << u"254:0"_s << true;
        QTest::addRow("scanned LUKS volume, saving into its partition") << u"254:0"_s << u"8:2"_s << true;
        QTest::addRow("unknown to sysfs, same number") << u"9:9"_s << u"9:9"_s << true;
        QTest::addRow("unknown to sysfs, other numbers") << u"9:9"_s << u"9:8"_s << false;
    }
    void sysfsTree()
    {
        QFETCH(QString, scanned);
        QFETCH(QString, target);
        QFETCH(bool, shares);
        // The kernel's shape: /sys/dev/block/MAJ:MIN links into devices/,
        // partitions inside their disk's folder, slaves/ linking what a
        // device-mapper volume is made of.
        QTemporaryDir sys;
        const QString sda = u"devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda"_s;
        const QString sdb = u"devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/block/sdb"_s;
        struct Node {
            QString folder;
            QString number;
            bool isPartition;
        };
        const QList<Node> nodes = {
            {sda, u"8:0"_s, false},         {sda + u"/sda1"_s, u"8:1"_s, true},
            {sda + u"/sda2"_s, u"8:2"_s, true}, {sdb, u"8:16"_s, false},
            {sdb + u"/sdb1"_s, u"8:17"_s, true}, {u"devices/virtual/block/dm-0"_s, u"254:0"_s, false},
            {u"devices/virtual/block/dm-1"_s, u"254:1"_s, false},
        };
        QVERIFY(QDir().mkpath(sys.filePath(u"dev/block"_s)));
        for (const Node &node : nodes) {
            QVERIFY(writeFile(sys.filePath(node.folder + u"/dev"_s), node.number.toLatin1() + '\n'));
            QVERIFY(QFile::link(u"../../"_s + node.folder, sys.filePath(u"dev/block/"_s + node.number)));
            if (node.isPartition)
                QVERIFY(writeFile(sys.filePath(node.folder + u"/partition"_s), "1\n"));
        }
        QVERIFY(QDir().mkpath(sys.filePath(u"devices/virtual/block/dm-0/slaves"_s)));
        QVERIFY(QDir().mkpath(sys.filePath(u"devices/virtual/block/dm-1/slaves"_s)));
        QVERIFY(QFile::link(u"../../../../../"_s + sda + u"/sda2"_s, sys.filePath(u"devices/virtual/block/dm-0/slaves/sda2"_s)));
        QVERIFY(QFile::link(u"../../dm-0"_s, sys.filePath(u"devices/virtual/block/dm-1/slaves/dm-0"_s)));

        const auto number = [](const QString &text) {
            return makedev(text.section(u':', 0, 0).toUInt(), text.section(u':', 1, 1).toUInt());
        };
        QCOMPARE(devicesShareStorage(number(scanned), number(target), sys.path()), shares);
    }

    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString image = m_dir.filePath(u"disk.img"_s);
        QString problem;
        if (!makePartitionedImage(image, 96 * 1048576, {u",40M"_s, u","_s}, &problem)) {
            m_problem = problem;
            return;
        }
        m_disk = std::make_unique<LoopImage>(image);
        if (m_disk->device().isEmpty() || !QFileInfo::exists(m_disk->partition(2))) {
            m_problem = m_disk->problem.isEmpty() ? u"no partition nodes"_s : m_disk->problem;
            return;
        }
        m_paths = {{u"disk"_s, m_disk->device()},       {u"p1"_s, m_disk->partition(1)},
                   {u"p2"_s, m_disk->partition(2)},     {u"disk.img"_s, image},
                   {u"m1"_s, m_dir.filePath(u"m1"_s)},  {u"m2"_s, m_dir.filePath(u"m2"_s)},
                   {u"beside the image"_s, m_dir.filePath(u"out"_s)}};
        if (!m_disk->format(m_disk->partition(1), u"ext4"_s, u"ONE"_s) || !m_disk->format(m_disk->partition(2), u"ext4"_s, u"TWO"_s)
            || !m_disk->mount(m_disk->partition(1), m_paths[u"m1"_s]) || !m_disk->mount(m_disk->partition(2), m_paths[u"m2"_s])) {
            m_problem = m_disk->problem;
            return;
        }
        // An image kept on the first partition and mounted: what is saved
        // into it lands in that partition's free space as the image grows.
        const QString inner = m_paths[u"m1"_s] + u"/inner.img"_s;
        QFile innerFile(inner);
        QVERIFY(innerFile.open(QIODevice::WriteOnly) && innerFile.resize(8 * 1048576));
        innerFile.close();
        m_inner = std::make_unique<LoopImage>(inner, false);
        m_paths[u"inner"_s] = m_dir.filePath(u"inner"_s);
        if (m_inner->device().isEmpty() || !m_inner->format(m_inner->device(), u"ext4"_s, u"INNER"_s)
            || !m_inner->mount(m_inner->device(), m_paths[u"inner"_s])) {
            m_problem = m_inner->problem;
            return;
        }
        // btrfs gives each subvolume its own anonymous st_dev.
        const QString btrfsImage = m_dir.filePath(u"btrfs.img"_s);
        QFile btrfsFile(btrfsImage);
        QVERIFY(btrfsFile.open(QIODevice::WriteOnly) && btrfsFile.resize(128 * 1048576));
        btrfsFile.close();
        m_btrfs = std::make_unique<LoopImage>(btrfsImage, false);
        m_paths[u"btrfs"_s] = m_btrfs->device();
        m_paths[u"subvolume"_s] = m_dir.filePath(u"m3/sub/deeper"_s);
        if (m_btrfs->device().isEmpty() || !m_btrfs->format(m_btrfs->device(), u"btrfs"_s, u"SUBS"_s)
            || !m_btrfs->mount(m_btrfs->device(), m_dir.filePath(u"m3"_s))
            || !runTool(u"btrfs"_s, {u"subvolume"_s, u"create"_s, m_dir.filePath(u"m3/sub"_s)}, &problem))
            m_btrfsProblem = m_btrfs->problem.isEmpty() ? problem : m_btrfs->problem;
    }

    void cleanupTestCase()
    {
        m_btrfs.reset();
        m_inner.reset();
        m_disk.reset();
    }

    void realDevices_data()
    {
        QTest::addColumn<QString>("scanned");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("refused");
        QTest::addRow("the scanned disk, folder not made yet") << u"disk"_s << u"m1/out/new"_s << true;
        QTest::addRow("the scanned partition") << u"p1"_s << u"m1"_s << true;
        QTest::addRow("another partition of the scanned disk") << u"p1"_s << u"m2"_s << false;
        QTest::addRow("a mounted volume as the source") << u"m1"_s << u"m1/out"_s << true;
        QTest::addRow("a mounted volume, saving beside it") << u"m1"_s << u"m2"_s << false;
        QTest::addRow("a disk image, saving beside it") << u"disk.img"_s << u"beside the image"_s << false;
        QTest::addRow("a disk image, saving into it through its loop mount") << u"disk.img"_s << u"m1/out"_s << true;
        QTest::addRow("an image file growing on the scanned partition") << u"p1"_s << u"inner"_s << true;
        QTest::addRow("an image file on the other partition") << u"p2"_s << u"inner"_s << false;
        QTest::addRow("btrfs subvolume of the scanned device") << u"btrfs"_s << u"subvolume"_s << true;
        QTest::addRow("btrfs subvolume elsewhere") << u"p1"_s << u"subvolume"_s << false;
    }
    void realDevices()
    {
        QFETCH(QString, scanned);
        QFETCH(QString, folder);
        QFETCH(bool, refused);
        if (!m_problem.isEmpty())
            QSKIP(qPrintable(m_problem));
        if ((scanned == u"btrfs"_s || folder == u"subvolume"_s) && !m_btrfsProblem.isEmpty())
            QSKIP(qPrintable(m_btrfsProblem));
        const auto path = [&](const QString &key) -> QString {
            const QString head = key.section(u'/', 0, 0);
            return m_paths.value(head) + key.mid(head.size());
        };
        if (folder == u"subvolume"_s)
            QVERIFY(QDir().mkpath(path(folder)));
        QCOMPARE(savesOntoScannedDevice(path(folder), path(scanned)), refused);
        QVERIFY2(!QFileInfo::exists(m_paths[u"m1"_s] + u"/out/new"_s), "the check creates nothing");
    }

private:
    QTemporaryDir m_dir;
    QString m_problem;
    QString m_btrfsProblem;
    QHash<QString, QString> m_paths;
    std::unique_ptr<LoopImage> m_disk;
    std::unique_ptr<LoopImage> m_inner;
    std::unique_ptr<LoopImage> m_btrfs;
};

QTEST_GUILESS_MAIN(TestSameDevice)
#include "tst_samedevice.moc"
