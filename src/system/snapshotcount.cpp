#include "snapshotcount.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::Literals::StringLiterals;

namespace SnapshotCount {

int fromTmutil(const QString &output)
{
    int count = 0;
    const QStringList lines = output.split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (!line.startsWith(u"Snapshots for"_s) && line.contains(u'.'))
            ++count;
    }
    return count;
}

int fromBtrfsList(const QString &output)
{
    int count = 0;
    const QStringList lines = output.split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (line.startsWith(u"ID "_s))
            ++count;
    }
    return count;
}

namespace {

QString cleanFolder(const QString &path)
{
    return QDir::cleanPath(path);
}

std::optional<QJsonObject> objectOf(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

} // namespace

std::optional<QString> snapperConfigFor(const QByteArray &json, const QString &mountPoint)
{
    const std::optional<QJsonObject> root = objectOf(json);
    if (!root)
        return std::nullopt;
    const QJsonArray configs = root->value(u"configs"_s).toArray();
    for (const QJsonValue &config : configs) {
        const QString subvolume = config[u"subvolume"_s].toString();
        if (!subvolume.isEmpty() && cleanFolder(subvolume) == cleanFolder(mountPoint))
            return config[u"config"_s].toString();
    }
    return std::nullopt;
}

std::optional<int> fromSnapperList(const QByteArray &json)
{
    const std::optional<QJsonObject> root = objectOf(json);
    // One key, the config's name, holding the list.
    if (!root || root->size() != 1 || !root->begin()->isArray())
        return std::nullopt;
    int count = 0;
    const QJsonArray snapshots = root->begin()->toArray();
    for (const QJsonValue &snapshot : snapshots) {
        if (snapshot[u"number"_s].toInt(-1) > 0)
            ++count;
    }
    return count;
}

std::optional<int> fromLvsReport(const QByteArray &json, const QStringList &deviceNames)
{
    const std::optional<QJsonObject> root = objectOf(json);
    if (!root)
        return std::nullopt;
    QJsonArray volumes;
    for (const QJsonValue &report : root->value(u"report"_s).toArray()) {
        for (const QJsonValue &volume : report[u"lv"_s].toArray())
            volumes.append(volume);
    }
    // Every value of an lvs report is a string.
    QString group;
    QString name;
    for (const QJsonValue &volume : std::as_const(volumes)) {
        if (deviceNames.contains(volume[u"lv_path"_s].toString())
            || deviceNames.contains(volume[u"lv_dm_path"_s].toString())) {
            group = volume[u"vg_name"_s].toString();
            name = volume[u"lv_name"_s].toString();
            break;
        }
    }
    if (name.isEmpty())
        return std::nullopt;
    int count = 0;
    for (const QJsonValue &volume : std::as_const(volumes)) {
        if (volume[u"vg_name"_s].toString() == group && volume[u"origin"_s].toString() == name)
            ++count;
    }
    return count;
}

QStringList btrfsArguments(const QString &mountPoint)
{
    return {u"subvolume"_s, u"list"_s, u"-s"_s, mountPoint};
}

// As root, snapper reads its configs itself; a user asks snapperd over the
// system bus, which admits the users its configs allow.
QStringList snapperConfigArguments(bool asRoot)
{
    QStringList arguments = {u"--jsonout"_s, u"list-configs"_s};
    if (asRoot)
        arguments.prepend(u"--no-dbus"_s);
    return arguments;
}

QStringList snapperListArguments(const QString &config, bool asRoot)
{
    QStringList arguments = {u"--jsonout"_s, u"-c"_s, config, u"list"_s};
    if (asRoot)
        arguments.prepend(u"--no-dbus"_s);
    return arguments;
}

QStringList lvsArguments()
{
    return {u"--reportformat"_s, u"json"_s, u"-o"_s, u"lv_name,vg_name,origin,lv_path,lv_dm_path"_s};
}

} // namespace SnapshotCount
