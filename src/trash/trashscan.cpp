#include "trashscan.h"

#include <QFileInfo>
#include <QSet>

#include <cerrno>

#include "system/platform.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// Progress goes out for the first item and then every `step`th one.
void reportProgress(const std::function<void(double)> &progress, qsizetype index, qsizetype count, int step)
{
    if (progress && index % step == 0)
        progress(double(index + 1) / double(count));
}

bool cancelled(const std::function<bool()> &isCancelled)
{
    return isCancelled && isCancelled();
}

TrashScanOutcome scanMacTrash(Platform &platform, const std::function<void(double)> &progress,
                              const std::function<bool()> &isCancelled)
{
    TrashScanOutcome outcome;
    const QString trash = platform.homeTrash().root;
    QStringList names = folderEntries(trash).value_or(QStringList());
    names.removeIf([](const QString &name) { return name.startsWith(u'.'); });
    if (!names.isEmpty()) {
        for (qsizetype i = 0; i < names.size() && !cancelled(isCancelled); ++i) {
            outcome.items.append(macTrashItem(trash + u'/' + names[i]));
            reportProgress(progress, i, names.size(), 10);
        }
        sortNewestFirst(outcome.items);
        return outcome;
    }

    // Without Full Disk Access the listing of ~/.Trash fails or comes back
    // empty; root can read it.
    AdministratorLauncher &administrator = platform.administrator();
    const ToolResult listing = administrator.runShell(platform.trashListCommand(trash), StreamMode::outputOnly);
    if (!listing.launched) {
        outcome.errorMessage = platform.texts().trashAccessDenied;
        return outcome;
    }
    const QStringList paths = listedPaths(listing.output);
    for (qsizetype i = 0; i < paths.size() && !cancelled(isCancelled); ++i) {
        const ToolResult stat = administrator.runShell(platform.statCommand(paths[i]), StreamMode::outputOnly);
        const ItemFacts facts = stat.launched ? parseItemFacts(stat.output) : ItemFacts{};
        std::optional<std::optional<QString>> folderSize;
        if (facts.isDirectory) {
            const ToolResult du = administrator.runShell(platform.folderSizeCommand(paths[i]), StreamMode::outputOnly);
            if (du.launched)
                folderSize = du.output;
        }
        outcome.items.append(macListedItem(paths[i], facts, folderSize));
        reportProgress(progress, i, paths.size(), 5);
    }
    sortNewestFirst(outcome.items);
    return outcome;
}

TrashScanOutcome scanFreedesktopTrash(Platform &platform, const std::function<void(double)> &progress,
                                      const std::function<bool()> &isCancelled)
{
    TrashScanOutcome outcome;
    struct Entry {
        qsizetype folder;
        QString name;
    };
    const QList<TrashFolder> folders = userTrashFolders(platform);
    QList<Entry> entries;
    for (qsizetype f = 0; f < folders.size(); ++f) {
        const TrashFolder &folder = folders[f];
        int error = 0;
        if (const std::optional<QStringList> names = folderEntries(folder.location.filesFolder, &error)) {
            for (const QString &name : *names)
                entries.append({f, name});
            continue;
        }
        // A missing Trash is an empty one. A home Trash that can't be read
        // (left owned by root after a desktop program ran under sudo) is the
        // one case for the password dialog.
        if (!folder.isHome || (error != EACCES && error != EPERM))
            continue;
        const ToolResult listing = platform.administrator().runShell(
            freedesktopAdministratorListCommand(folder.location), StreamMode::outputOnly);
        if (!listing.launched)
            outcome.errorMessage = platform.texts().trashAccessDenied;
        else
            outcome.items.append(parseFreedesktopAdministratorList(listing.output, folder));
    }
    for (qsizetype i = 0; i < entries.size() && !cancelled(isCancelled); ++i) {
        outcome.items.append(freedesktopTrashItem(folders[entries[i].folder], entries[i].name));
        reportProgress(progress, i, entries.size(), 10);
    }
    sortNewestFirst(outcome.items);
    return outcome;
}

} // namespace

QList<TrashFolder> userTrashFolders(Platform &platform)
{
    QList<TrashFolder> folders;
    QSet<QString> seen;
    const auto add = [&](const TrashLocation &location, const QString &top, bool isHome) {
        const QString canonical = QFileInfo(location.root).canonicalFilePath();
        const QString key = canonical.isEmpty() ? location.root : canonical;
        if (seen.contains(key))
            return;
        seen.insert(key);
        folders.append({location, top, isHome});
    };
    const TrashLocation home = platform.homeTrash();
    // Relative paths in the home Trash start from the folder it lies in.
    add(home, QFileInfo(home.root).absolutePath(), true);
    const QList<VolumeInfo> volumes = platform.discoverVolumes();
    for (const VolumeInfo &volume : volumes) {
        const QString top = volume.mountPoint.size() > 1 && volume.mountPoint.endsWith(u'/')
            ? volume.mountPoint.chopped(1) : volume.mountPoint;
        const QList<TrashLocation> trashes = platform.volumeTrashes(volume.mountPoint);
        for (const TrashLocation &trash : trashes)
            add(trash, top, false);
    }
    return folders;
}

TrashScanOutcome scanUserTrash(Platform &platform, const std::function<void(double)> &progress,
                               const std::function<bool()> &isCancelled)
{
    if (platform.kind() == PlatformKind::macOS)
        return scanMacTrash(platform, progress, isCancelled);
    return scanFreedesktopTrash(platform, progress, isCancelled);
}
