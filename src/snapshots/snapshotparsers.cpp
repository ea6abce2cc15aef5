#include "snapshotparsers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// Only spaces and tabs: a carriage return stays part of the text, so a
// "Created:" value ending in one no longer fits the date pattern.
QString trimmedBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
        ++begin;
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.mid(begin, end - begin);
}

// "yyyy-MM-dd HH:mm:ss" as a wall-clock time of `zone`, in local time.
std::optional<QDateTime> wallClock(const QString &text, const QTimeZone &zone)
{
    static const QRegularExpression shape(u"^(\\d{4}-\\d{2}-\\d{2}) (\\d{2}:\\d{2}:\\d{2})$"_s);
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date = QDate::fromString(match.captured(1), u"yyyy-MM-dd"_s);
    const QTime time = QTime::fromString(match.captured(2), u"HH:mm:ss"_s);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    const QDateTime moment(date, time, zone);
    if (!moment.isValid())
        return std::nullopt;
    return moment.toLocalTime();
}

std::optional<QDateTime> epochSeconds(const QString &text)
{
    bool ok = false;
    const qint64 seconds = text.trimmed().toLongLong(&ok);
    if (!ok || seconds <= 0)
        return std::nullopt;
    return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc()).toLocalTime();
}

// The JSON document a tool printed, after whatever warning came first.
QJsonDocument jsonAfterNoise(const QString &output)
{
    const qsizetype start = output.indexOf(u'{');
    if (start < 0)
        return {};
    return QJsonDocument::fromJson(output.mid(start).toUtf8());
}

} // namespace

void sortNewestFirst(QList<SnapshotInfo> &snapshots)
{
    std::stable_sort(snapshots.begin(), snapshots.end(), [](const SnapshotInfo &a, const SnapshotInfo &b) {
        if (!b.date)
            return a.date.has_value();
        return a.date && *a.date > *b.date;
    });
}

QList<SnapshotInfo> parseSnapshotList(const QString &output)
{
    static const QRegularExpression devicePattern(u"disk\\d+s\\d+"_s);
    static const QRegularExpression namePattern(u"\"([^\"]+)\""_s);

    QList<SnapshotInfo> snapshots;
    QString currentVolumeName;
    QString currentDevice;
    const QStringList lines = output.split(u'\n');
    for (const QString &line : lines) {
        const QString t = trimmedBlanks(line);
        if (t.contains(u"APFS Volume"_s) || t.contains(u"Volume disk"_s)) {
            const QRegularExpressionMatch device = devicePattern.match(t);
            if (device.hasMatch())
                currentDevice = u"/dev/"_s + device.captured(0);
            const QRegularExpressionMatch name = namePattern.match(t);
            if (name.hasMatch())
                currentVolumeName = name.captured(0).remove(u'"');
        }
        if (!t.startsWith(u"Name:"_s) && !t.contains(u"com.apple"_s))
            continue;

        QString name;
        QString uuid;
        std::optional<QDateTime> date;
        const QStringList parts = t.split(u',');
        for (const QString &rawPart : parts) {
            const QString part = trimmedBlanks(rawPart);
            if (part.startsWith(u"Name:"_s)) {
                name = trimmedBlanks(QString(part).remove(u"Name: "_s));
            } else if (part.startsWith(u"UUID:"_s)) {
                uuid = trimmedBlanks(QString(part).remove(u"UUID: "_s));
            } else if (part.startsWith(u"Created:"_s)) {
                date = wallClock(trimmedBlanks(QString(part).remove(u"Created: "_s)), QTimeZone::systemTimeZone());
            }
        }
        if (name.isEmpty())
            continue;
        SnapshotInfo info;
        info.name = name;
        info.snapshotUUID = uuid;
        info.date = date;
        info.volumeName = currentVolumeName.isEmpty() ? u"System"_s : currentVolumeName;
        info.volumeDevice = currentDevice.isEmpty() ? u"/dev/disk1s1"_s : currentDevice;
        snapshots.append(info);
    }
    sortNewestFirst(snapshots);
    return snapshots;
}

int countTmutilSnapshots(const QString &output)
{
    int count = 0;
    const QStringList lines = output.split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (!line.startsWith(u"Snapshots for"_s) && line.contains(u'.'))
            ++count;
    }
    return count;
}

QList<BtrfsSubvolume> parseBtrfsSubvolumeList(const QString &output, const QTimeZone &zone)
{
    // "parent_uuid -" is padded with spaces to the width of a UUID; a
    // subvolume made by an old kernel has "otime -".
    static const QRegularExpression pattern(
        u"^ID (\\d+) gen \\d+(?: cgen \\d+)? top level (\\d+)(?: otime (-|\\S+ \\S+))?\\s+parent_uuid\\s+(\\S+)\\s+"
        "uuid\\s+(\\S+)\\s+path (.+)$"_s);
    static const QString fsTree = u"<FS_TREE>/"_s;

    QList<BtrfsSubvolume> subvolumes;
    const QStringList lines = output.split(u'\n');
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = pattern.match(line);
        if (!match.hasMatch())
            continue;
        BtrfsSubvolume subvolume;
        subvolume.id = match.captured(1).toLongLong();
        subvolume.topLevel = match.captured(2).toLongLong();
        if (match.hasCaptured(3) && match.captured(3) != u"-"_s)
            subvolume.created = wallClock(match.captured(3), zone);
        subvolume.parentUuid = match.captured(4) == u"-"_s ? QString() : match.captured(4);
        subvolume.uuid = match.captured(5);
        subvolume.path = match.captured(6);
        if (subvolume.path.startsWith(fsTree))
            subvolume.path.remove(0, fsTree.size());
        subvolumes.append(subvolume);
    }
    return subvolumes;
}

QList<SnapperSnapshot> parseSnapperList(const QString &output, const QTimeZone &zone)
{
    QList<SnapperSnapshot> snapshots;
    const QJsonDocument document = jsonAfterNoise(output);
    if (!document.isObject())
        return snapshots;
    const QJsonObject configs = document.object();
    for (auto config = configs.begin(); config != configs.end(); ++config) {
        const QJsonArray entries = config.value().toArray();
        for (const QJsonValue &value : entries) {
            const QJsonObject entry = value.toObject();
            const int number = entry.value(u"number"_s).toInt(-1);
            if (number <= 0)
                continue;
            SnapperSnapshot snapshot;
            snapshot.config = config.key();
            snapshot.subvolume = entry.value(u"subvolume"_s).toString();
            snapshot.number = number;
            snapshot.type = entry.value(u"type"_s).toString();
            snapshot.date = wallClock(entry.value(u"date"_s).toString(), zone);
            snapshot.description = entry.value(u"description"_s).toString();
            if (!snapshot.subvolume.isEmpty())
                snapshots.append(snapshot);
        }
    }
    return snapshots;
}

QList<LvmSnapshot> parseLvsSnapshots(const QString &output)
{
    static const QRegularExpression zoned(u"^(\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}) ([+-])(\\d{2})(\\d{2})$"_s);

    QList<LvmSnapshot> snapshots;
    const QJsonArray reports = jsonAfterNoise(output).object().value(u"report"_s).toArray();
    for (const QJsonValue &report : reports) {
        const QJsonArray rows = report.toObject().value(u"lv"_s).toArray();
        for (const QJsonValue &value : rows) {
            const QJsonObject row = value.toObject();
            const QString origin = row.value(u"origin"_s).toString();
            const QString attributes = row.value(u"lv_attr"_s).toString();
            if (origin.isEmpty())
                continue;
            LvmSnapshot snapshot;
            snapshot.name = row.value(u"lv_name"_s).toString();
            snapshot.uuid = row.value(u"lv_uuid"_s).toString();
            snapshot.origin = origin;
            snapshot.volumeGroup = row.value(u"vg_name"_s).toString();
            snapshot.path = row.value(u"lv_path"_s).toString();
            snapshot.isValid = !attributes.startsWith(u'S');
            const QString time = row.value(u"lv_time"_s).toString().trimmed();
            const QRegularExpressionMatch match = zoned.match(time);
            if (match.hasMatch()) {
                const int offset = (match.captured(3).toInt() * 3600 + match.captured(4).toInt() * 60)
                    * (match.captured(2) == u"-"_s ? -1 : 1);
                snapshot.created = wallClock(match.captured(1), QTimeZone(offset));
            } else {
                snapshot.created = epochSeconds(time);
            }
            if (!snapshot.name.isEmpty())
                snapshots.append(snapshot);
        }
    }
    return snapshots;
}

QList<ZfsSnapshot> parseZfsSnapshots(const QString &output)
{
    QList<ZfsSnapshot> snapshots;
    const QStringList lines = output.split(u'\n');
    for (const QString &line : lines) {
        const QStringList fields = line.split(u'\t');
        if (fields.size() != 3)
            continue;
        const qsizetype at = fields[0].indexOf(u'@');
        if (at <= 0 || at == fields[0].size() - 1)
            continue;
        ZfsSnapshot snapshot;
        snapshot.dataset = fields[0].left(at);
        snapshot.name = fields[0].mid(at + 1);
        snapshot.guid = fields[1];
        snapshot.created = epochSeconds(fields[2]);
        snapshots.append(snapshot);
    }
    return snapshots;
}
