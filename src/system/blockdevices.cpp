#include "blockdevices.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

using namespace Qt::Literals::StringLiterals;

QStringList lsblkArguments(bool singleMountPoint)
{
    const QString mounts = singleMountPoint ? u"MOUNTPOINT"_s : u"MOUNTPOINTS"_s;
    return {u"--json"_s, u"--bytes"_s, u"--output"_s,
            u"NAME,PATH,TYPE,SIZE,FSTYPE,LABEL,MODEL,"_s + mounts + u",PKNAME,RM,HOTPLUG,TRAN,MAJ:MIN"_s};
}

namespace {

QString text(const QJsonValue &value)
{
    return value.isString() ? value.toString().trimmed() : QString();
}

// lsblk before 2.33 wrote numbers and flags as strings ("1", "0").
bool flag(const QJsonValue &value)
{
    if (value.isBool())
        return value.toBool();
    return value.toString() == u"1"_s || value.toString() == u"true"_s;
}

qint64 number(const QJsonValue &value)
{
    if (value.isDouble())
        return qint64(value.toDouble());
    return value.toString().toLongLong();
}

void flatten(const QJsonArray &entries, const BlockDevice *parent, QList<BlockDevice> &out, QSet<QString> &seen)
{
    for (const QJsonValue &entryValue : entries) {
        const QJsonObject entry = entryValue.toObject();
        BlockDevice device;
        device.name = text(entry.value(u"name"_s));
        device.path = text(entry.value(u"path"_s));
        if (device.path.isEmpty() && !device.name.isEmpty())
            device.path = u"/dev/"_s + device.name;
        device.type = text(entry.value(u"type"_s));
        device.majorMinor = text(entry.value(u"maj:min"_s));
        device.parentName = text(entry.value(u"pkname"_s));
        if (device.parentName.isEmpty() && parent)
            device.parentName = parent->name;
        device.size = number(entry.value(u"size"_s));
        device.fileSystem = text(entry.value(u"fstype"_s));
        device.label = text(entry.value(u"label"_s));
        device.model = text(entry.value(u"model"_s));
        device.transport = text(entry.value(u"tran"_s));
        device.isRemovable = flag(entry.value(u"rm"_s));
        device.isHotplug = flag(entry.value(u"hotplug"_s));
        if (parent) {
            if (device.model.isEmpty())
                device.model = parent->model;
            if (device.transport.isEmpty())
                device.transport = parent->transport;
            device.isRemovable = device.isRemovable || parent->isRemovable;
            device.isHotplug = device.isHotplug || parent->isHotplug;
        }
        QJsonArray mounts = entry.value(u"mountpoints"_s).toArray();
        if (entry.contains(u"mountpoint"_s))
            mounts.append(entry.value(u"mountpoint"_s));
        for (const QJsonValue &mount : std::as_const(mounts)) {
            // Swap in use shows as "[SWAP]"; only a path is a mount point.
            const QString point = text(mount);
            if (point.startsWith(u'/') && !device.mountPoints.contains(point))
                device.mountPoints.append(point);
        }
        if (device.path.isEmpty() || seen.contains(device.path))
            continue;
        seen.insert(device.path);
        out.append(device);
        // `device`, not out.last(): the list grows while the children are added.
        flatten(entry.value(u"children"_s).toArray(), &device, out, seen);
    }
}

} // namespace

QList<BlockDevice> parseLsblkJson(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};
    QList<BlockDevice> devices;
    QSet<QString> seen;
    flatten(document.object().value(u"blockdevices"_s).toArray(), nullptr, devices, seen);
    return devices;
}

QHash<QString, QHash<QString, QString>> parseBlkidExport(const QString &text)
{
    QHash<QString, QHash<QString, QString>> devices;
    QHash<QString, QString> current;
    const auto finish = [&] {
        const QString name = current.value(u"DEVNAME"_s);
        if (!name.isEmpty())
            devices.insert(name, current);
        current.clear();
    };
    const QStringList lines = text.split(u'\n');
    for (const QString &line : lines) {
        const qsizetype equals = line.indexOf(u'=');
        if (line.trimmed().isEmpty() || equals <= 0) {
            finish();
            continue;
        }
        const QString key = line.left(equals);
        if (key == u"DEVNAME"_s)
            finish();
        // Export mode writes values for a shell: every special character
        // behind a backslash.
        QString value;
        const QString raw = line.mid(equals + 1);
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (raw[i] == u'\\' && i + 1 < raw.size())
                ++i;
            value += raw[i];
        }
        current.insert(key, value);
    }
    finish();
    return devices;
}

bool isScannableBlockDevice(const BlockDevice &device)
{
    if (device.size <= 0)
        return false;
    static const QRegularExpression memory(u"^(zram|ram)\\d+$"_s);
    if (memory.match(device.name).hasMatch())
        return false;
    if (device.type == u"loop"_s) {
        if (device.fileSystem == u"squashfs"_s)
            return false;
        for (const QString &mount : device.mountPoints) {
            if (mount.startsWith(u"/snap/"_s) || mount.startsWith(u"/var/lib/snapd/"_s))
                return false;
        }
    }
    return true;
}

QString deviceKindOf(const QString &lsblkType)
{
    if (lsblkType == u"part"_s)
        return u"partition"_s;
    if (lsblkType.startsWith(u"raid"_s) || lsblkType == u"md"_s)
        return u"raid"_s;
    if (lsblkType == u"mpath"_s)
        return u"disk"_s;
    return lsblkType;
}

void addDeviceDetails(VolumeInfo &volume, const BlockDevice &device)
{
    if (volume.label.isEmpty())
        volume.label = device.label;
    if (volume.model.isEmpty())
        volume.model = device.model;
    if (volume.deviceKind.isEmpty())
        volume.deviceKind = deviceKindOf(device.type);
    if (volume.deviceSize == 0)
        volume.deviceSize = device.size;
}

QList<VolumeInfo> blockDeviceVolumes(const QList<BlockDevice> &devices,
                                     const std::function<bool(const BlockDevice &)> &isListed)
{
    QList<VolumeInfo> volumes;
    for (const BlockDevice &device : devices) {
        if (!isScannableBlockDevice(device) || isListed(device))
            continue;
        VolumeInfo volume;
        volume.name = device.label.isEmpty() ? device.name : device.label;
        volume.mountPoint = device.mountPoints.value(0);
        volume.device = device.path;
        volume.rawDevice = device.path;
        volume.fileSystem = device.fileSystem;
        volume.totalSize = device.size;
        volume.isRemovable = device.isRemovable;
        volume.isExternal = device.isHotplug || device.transport == u"usb"_s || device.transport == u"ieee1394"_s;
        addDeviceDetails(volume, device);
        volumes.append(volume);
    }
    return volumes;
}
