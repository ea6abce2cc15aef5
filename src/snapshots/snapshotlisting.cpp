#include "snapshotlisting.h"

#include <QUuid>

#include "snapshots/snapshotparsers.h"
#include "system/platform.h"

using namespace Qt::Literals::StringLiterals;

namespace {

SnapshotListing listApfsSnapshots(Platform &platform)
{
    SnapshotListing listing;
    // Standard error goes along on purpose: the parser is handed whatever
    // diskutil printed, and only unreadable output counts as a failure.
    const ToolResult result = platform.runner().run(platform.tools().diskutil, {u"apfs"_s, u"listSnapshots"_s, u"/"_s},
                                                    StreamMode::combined);
    if (!result.output) {
        listing.failed = true;
        return listing;
    }
    const QList<SnapshotInfo> snapshots = parseSnapshotList(*result.output);
    for (const SnapshotInfo &info : snapshots)
        listing.entries.append({info, SnapshotKind::apfs, QString(), QString(), u"diskutil apfs listSnapshots /"_s});
    return listing;
}

} // namespace

SnapshotListing listSnapshots(Platform &platform, const LinuxSnapshotSources &sources)
{
    if (platform.kind() == PlatformKind::macOS)
        return listApfsSnapshots(platform);

    const QList<SnapshotToolRun> runs = linuxSnapshotRuns(sources, platform.tools());
    QList<SnapshotToolOutput> outputs;
    for (const SnapshotToolRun &run : runs) {
        // A warning on standard error must not spoil a JSON document.
        const ToolResult result = platform.runner().run(run.program, run.arguments, StreamMode::outputOnly);
        outputs.append({result.launched && result.output && result.exitStatus == 0, result.output.value_or(QString())});
    }
    return assembleLinuxSnapshots(sources, runs, outputs, QTimeZone::systemTimeZone());
}

std::optional<SnapshotListing> listSnapshotsAsAdministrator(Platform &platform, LinuxSnapshotSources sources)
{
    if (platform.kind() == PlatformKind::macOS)
        return std::nullopt;
    sources.asRoot = true;
    const QList<SnapshotToolRun> runs = linuxSnapshotRuns(sources, platform.tools());
    if (runs.isEmpty())
        return assembleLinuxSnapshots(sources, runs, {}, QTimeZone::utc());

    // A subvolume name is chosen by whoever made it; a marker it can't
    // guess keeps it from ending one tool's section early.
    const QString nonce = QUuid::createUuid().toString(QUuid::Id128);
    const ToolResult result = platform.administrator().runShell(elevatedListingScript(runs, nonce), StreamMode::outputOnly);
    if (!result.output || !result.output->contains(u"@@"_s + nonce))
        return std::nullopt;
    return assembleLinuxSnapshots(sources, runs, splitElevatedListing(*result.output, runs.size(), nonce), QTimeZone::utc());
}
