#include "deletedfilesscan.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <span>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "snapshots/linuxsnapshots.h"
#include "snapshots/snapshotparsers.h"
#include "system/platform.h"
#include "system/safefile.h"

using namespace Qt::Literals::StringLiterals;

namespace DeletedFiles {

namespace {

// What is read of a Trash file, the fewest bytes that may come back, and the
// size a Trash file must exceed; find is asked for the same with -size +100c.
constexpr qsizetype headBytes = 32;
constexpr qsizetype fewestHeadBytes = 3;
constexpr qint64 smallestTrashFile = 100;

// A Trash folder as phase 1 walks it.
struct TrashFolder {
    QString files;
    // The folder of the .trashinfo files; empty where the system keeps none.
    QString info;
    // Where a relative Path= of an info file starts.
    QString top;
};

QList<TrashFolder> trashFoldersOf(const Platform &platform, const QString &mountPoint)
{
    const TrashLocation home = platform.homeTrash();
    // The home trash's relative paths start in the folder that holds it
    // ($XDG_DATA_HOME); a volume trash's at the volume's top.
    QList<TrashFolder> folders = {{home.filesFolder, home.infoFolder, QFileInfo(home.root).path()}};
    for (const TrashLocation &trash : platform.volumeTrashes(mountPoint))
        folders.append({trash.filesFolder, trash.infoFolder, mountPoint});
    return folders;
}

QString findFilesCommand(const QList<TrashFolder> &folders, const QString &tail)
{
    QString command = u"find"_s;
    for (const TrashFolder &folder : folders)
        command += u" '"_s + shellQuoted(folder.files) + u"'"_s;
    return command + u" -type f -size +100c"_s + tail + u" 2>/dev/null || true"_s;
}

bool cannotBeRead(const QString &folder)
{
    DIR *opened = ::opendir(QFile::encodeName(folder).constData());
    if (opened) {
        ::closedir(opened);
        return false;
    }
    return errno == EACCES || errno == EPERM;
}

// The paths the administrator listing adds. On macOS it lists both folders
// on every scan, a line a path; on Linux only the user's own Trash folders
// that exist and that the user can't read, NUL-separated: there the user
// reads their own Trash directly, and a password dialog for it would be a
// fault.
QStringList administratorListing(Platform &platform, const QList<TrashFolder> &folders)
{
    if (platform.kind() == PlatformKind::macOS) {
        const ToolResult run = platform.administrator().runShell(findFilesCommand(folders, QString()), StreamMode::outputOnly);
        QStringList roots;
        for (const TrashFolder &folder : folders)
            roots.append(folder.files);
        return pathsFromLineListing(run.output.value_or(QString()), roots);
    }
    if (::geteuid() == 0)
        return {};
    QList<TrashFolder> unreadable;
    for (const TrashFolder &folder : folders) {
        if (cannotBeRead(folder.files))
            unreadable.append(folder);
    }
    if (unreadable.isEmpty())
        return {};
    const ToolResult run =
        platform.administrator().runShell(findFilesCommand(unreadable, u" -print0"_s), StreamMode::outputOnly);
    return run.output.value_or(QString()).split(QChar(0), Qt::SkipEmptyParts);
}

// A path names one item however its slashes were written ("//.Trashes" is
// what macOS gets for the startup volume).
QString pathKey(const QString &path)
{
    return QDir::cleanPath(path);
}

// The info file of the item `path` lies in (the item itself or a folder of
// the Trash that holds it), and where it came from.
std::optional<QString> originalPathOf(const QString &path, const QList<TrashFolder> &folders)
{
    for (const TrashFolder &folder : folders) {
        if (folder.info.isEmpty())
            continue;
        const QString prefix = pathKey(folder.files) + u'/';
        const QString cleaned = pathKey(path);
        if (!cleaned.startsWith(prefix))
            continue;
        const QString inside = cleaned.mid(prefix.size());
        const qsizetype slash = inside.indexOf(u'/');
        const QString item = slash < 0 ? inside : inside.left(slash);
        char buffer[64 * 1024];
        const qsizetype got =
            SafeFile::readHead(folder.info + u'/' + item + u".trashinfo"_s, buffer, qsizetype(sizeof buffer), nullptr);
        if (got <= 0)
            return std::nullopt;
        const std::optional<QString> itemOrigin = trashInfoOriginalPath(QByteArray(buffer, got), folder.top);
        if (!itemOrigin)
            return std::nullopt;
        return slash < 0 ? *itemOrigin : *itemOrigin + inside.mid(slash);
    }
    return std::nullopt;
}

std::optional<CarvedFile> trashHit(const QString &path, const QList<FileSignature> &signatures)
{
    // Looked at without following a link; a size check first spares the
    // open of every small file.
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode)
        || status.st_size <= smallestTrashFile)
        return std::nullopt;
    char head[headBytes];
    qint64 size = 0;
    // Opened without following a link and without blocking, and read only
    // when it is still a regular file: the name may have been swapped for a
    // FIFO or a link since the look above.
    const qsizetype got = SafeFile::readHead(path, head, headBytes, &size);
    if (got < fewestHeadBytes || size <= smallestTrashFile)
        return std::nullopt;
    const FileSignature *signature = recognise(signatures, QByteArray(head, got));
    if (!signature)
        return std::nullopt;
    CarvedFile hit;
    hit.signatureType = signature->typeName;
    hit.fileExtension = signature->fileExtension;
    hit.offset = 0;
    hit.estimatedSize = size;
    hit.health = CarvedFileHealth::good;
    hit.sourcePath = path;
    hit.recoveryStatus = RecoveryStatus::deleted;
    return hit;
}

// Only a path that is certainly not there counts: one below a folder this
// user can't enter still exists, for all we can tell.
bool isGone(const QByteArray &path)
{
    struct stat status {};
    if (::lstat(path.constData(), &status) == 0)
        return false;
    return errno == ENOENT || errno == ENOTDIR;
}

bool isGone(const QString &path)
{
    return isGone(QFile::encodeName(path));
}

// What the file index still names below `folder`; absent when it can't be
// asked (no tool, a tool that does not start, a database it can't read).
std::optional<QStringList> indexedPaths(Platform &platform, const QString &folder, const QStringList &extensions)
{
    const QString tool = platform.fileIndexTool();
    if (tool.isEmpty())
        return std::nullopt;
    const QStringList arguments = platform.fileIndexArguments(folder, extensions);
    const RawToolResult run = platform.runner().runRaw(tool, arguments, StreamMode::outputOnly);
    if (!run.launched)
        return std::nullopt;
    QStringList paths;
    // mdfind prints a path a line, as its fixed command asks. The tail of a
    // name holding a line feed ("line.jpg" of "new\nline.jpg") is no
    // absolute path; taken as one, it would be looked up in the working
    // folder, pass for gone and become a hit, so only absolute paths count.
    if (platform.kind() == PlatformKind::macOS)
        return pathsFromLineListing(QString::fromUtf8(run.output), {u"/"_s});
    // locate exits with 1 both when nothing matches and when its database
    // can't be read, and says which only on its error stream. Asked for a
    // count, it prints one only when it could search.
    if (run.exitStatus != 0 && run.output.isEmpty()) {
        const RawToolResult count = platform.runner().runRaw(tool, QStringList{u"-c"_s} + arguments, StreamMode::outputOnly);
        bool isNumber = false;
        QString::fromLatin1(count.output).trimmed().toLongLong(&isNumber);
        return isNumber ? std::optional(paths) : std::nullopt;
    }
    // The listing names every indexed path below the folder, a million on
    // a large home: it is sifted as bytes, and only what has a chosen
    // extension is made a text.
    const QByteArray prefix = QFile::encodeName((folder.endsWith(u'/') ? folder.chopped(1) : folder) + u'/');
    QSet<QByteArray> wanted;
    for (const QString &extension : extensions)
        wanted.insert(extension.toLower().toUtf8());
    const QByteArrayView output(run.output);
    for (qsizetype start = 0; start < output.size();) {
        qsizetype end = output.indexOf('\0', start);
        if (end < 0)
            end = output.size();
        const QByteArrayView entry = output.sliced(start, end - start);
        start = end + 1;
        const qsizetype dot = entry.lastIndexOf('.');
        if (!entry.startsWith(prefix) || dot <= entry.lastIndexOf('/')
            || !wanted.contains(entry.sliced(dot + 1).toByteArray().toLower()))
            continue;
        const QString path = QFile::decodeName(entry.toByteArray());
        // A name that is not valid UTF-8 has no exact text; the text's bytes
        // name no file, so the file itself is asked whether it is gone.
        if (QFile::encodeName(path) != entry && !isGone(entry.toByteArray()))
            continue;
        paths.append(path);
    }
    return paths;
}

// Snapper and LVM thin volumes make their snapshots with the file system's
// or the volume manager's own means, so the tools see the same snapshots:
// the first that lists any for the volume is taken, never a sum. The runs
// and their reading are the Snapshots screen's, so that both show one number.
int linuxSnapshotCount(Platform &platform, const VolumeInfo &volume)
{
    const ToolPaths &tools = platform.tools();
    const QStringList available = platform.snapshotTools();
    const bool asRoot = ::geteuid() == 0;
    const QList<std::pair<SnapshotTool, QString>> order = {
        {SnapshotTool::btrfsSnapshots, volume.fileSystem == u"btrfs"_s ? tools.btrfs : QString()},
        {SnapshotTool::snapper, tools.snapper},
        {SnapshotTool::lvs, tools.lvs},
    };
    for (const auto &[tool, program] : order) {
        if (program.isEmpty() || !available.contains(program))
            continue;
        const RawToolResult run = platform.runner().runRaw(
            program, snapshotToolArguments(tool, volume.mountPoint, asRoot), StreamMode::outputOnly);
        if (!run.launched || run.exitStatus != 0)
            continue;
        if (const int count = snapshotsOfVolume(tool, QString::fromUtf8(run.output), volume); count > 0)
            return count;
    }
    return 0;
}

int snapshotCount(Platform &platform, const VolumeInfo &volume)
{
    if (platform.kind() == PlatformKind::gnuLinux)
        return linuxSnapshotCount(platform, volume);
    const QString tmutil = platform.tools().tmutil;
    if (tmutil.isEmpty())
        return 0;
    const ToolResult run = platform.runner().run(tmutil, {u"listlocalsnapshots"_s, volume.mountPoint}, StreamMode::outputOnly);
    return run.launched ? countTmutilSnapshots(run.output.value_or(QString())) : 0;
}

QString pathExtension(const QString &path)
{
    const QString name = path.section(u'/', -1);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : name.mid(dot + 1);
}

} // namespace

const FileSignature *recognise(const QList<FileSignature> &signatures, const QByteArray &head)
{
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t *>(head.constData()), std::size_t(head.size()));
    for (const FileSignature &signature : signatures) {
        if (signature.header.isEmpty() || !head.startsWith(signature.header))
            continue;
        if (!signature.validator || signature.validator(bytes))
            return &signature;
    }
    return nullptr;
}

const FileSignature *signatureForExtension(const QList<FileSignature> &signatures, const QString &path)
{
    const QString extension = pathExtension(path).toLower();
    if (extension.isEmpty())
        return nullptr;
    for (const FileSignature &signature : signatures) {
        if (signature.fileExtension.toLower() == extension)
            return &signature;
    }
    return nullptr;
}

std::optional<QString> trashInfoOriginalPath(const QByteArray &contents, const QString &top)
{
    bool inGroup = false;
    for (QByteArray line : contents.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith('[')) {
            inGroup = line == "[Trash Info]";
            continue;
        }
        if (!inGroup || !line.startsWith("Path="))
            continue;
        const QString path = QFile::decodeName(QByteArray::fromPercentEncoding(line.mid(5)));
        if (path.isEmpty())
            return std::nullopt;
        if (path.startsWith(u'/'))
            return path;
        return (top.endsWith(u'/') ? top : top + u'/') + path;
    }
    return std::nullopt;
}

QStringList pathsFromLineListing(const QString &output, const QStringList &folders)
{
    QStringList prefixes;
    for (const QString &folder : folders)
        prefixes.append(folder.endsWith(u'/') ? folder : folder + u'/');
    QStringList paths;
    for (const QString &line : output.split(u'\n')) {
        const QString path = line.trimmed();
        const bool inside = std::any_of(prefixes.cbegin(), prefixes.cend(), [&](const QString &prefix) {
            return path.size() > prefix.size() && path.startsWith(prefix);
        });
        // A "." or ".." would lead out of the folder the piece seems to be in.
        const QStringList parts = path.split(u'/');
        if (inside && !parts.contains(u"."_s) && !parts.contains(u".."_s))
            paths.append(path);
    }
    return paths;
}

qsizetype scanTrashFolders(Platform &platform, const QString &mountPoint, const QList<FileSignature> &signatures,
                           ScanSink &sink, QSet<QString> *originalPaths)
{
    const QList<TrashFolder> folders = trashFoldersOf(platform, mountPoint);
    QStringList paths = administratorListing(platform, folders);
    QSet<QString> seen;
    for (const QString &path : std::as_const(paths))
        seen.insert(pathKey(path));
    // The user's own view adds what the listing missed: everything, folders
    // and hidden entries included. A folder that can't be opened adds
    // nothing; links are listed but never entered.
    for (const TrashFolder &folder : folders) {
        QDirIterator walk(folder.files, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                          QDirIterator::Subdirectories);
        while (walk.hasNext()) {
            const QString path = walk.next();
            if (!seen.contains(pathKey(path))) {
                seen.insert(pathKey(path));
                paths.append(path);
            }
        }
    }
    sink.postStatus(u"Found "_s + QString::number(paths.size()) + u" files in Trash. Checking signatures..."_s);

    qsizetype found = 0;
    for (const QString &path : std::as_const(paths)) {
        if (sink.shouldCancel())
            break;
        std::optional<CarvedFile> hit = trashHit(path, signatures);
        if (!hit)
            continue;
        hit->originalPath = originalPathOf(path, folders);
        if (originalPaths && hit->originalPath)
            originalPaths->insert(*hit->originalPath);
        sink.postCarvedFiles({std::move(*hit)});
        ++found;
        sink.postProgress(0, std::nullopt, [](qsizetype hitCount) -> QString {
            return u"Trash: Found "_s + QString::number(hitCount) + u" deleted files..."_s;
        });
    }
    return found;
}

Counts scanSnapshotsAndSpotlight(Platform &platform, const VolumeInfo &volume,
                                 const QList<FileSignature> &signatures, ScanSink &sink, const QSet<QString> &inTrash)
{
    const PlatformTexts &texts = platform.texts();
    Counts counts;
    counts.snapshots = snapshotCount(platform, volume);
    if (counts.snapshots > 0)
        sink.postStatus(u"Found "_s + QString::number(counts.snapshots) + u" snapshot(s). "_s + texts.snapshotsFoundNote);

    QStringList extensions;
    for (const FileSignature &signature : signatures)
        extensions.append(signature.fileExtension);
    sink.postStatus(texts.searchingIndexStatus);
    const std::optional<QStringList> paths =
        indexedPaths(platform, platform.indexSearchFolder(volume.mountPoint), extensions);
    if (!paths) {
        sink.postStatus(texts.indexUnavailable);
        counts.indexUnavailable = true;
        return counts;
    }
    for (const QString &path : *paths) {
        if (sink.shouldCancel())
            break;
        const FileSignature *signature = signatureForExtension(signatures, path);
        if (!signature || inTrash.contains(path) || !isGone(path))
            continue;
        CarvedFile hit;
        hit.signatureType = signature->typeName;
        hit.fileExtension = signature->fileExtension;
        hit.offset = 0;
        hit.estimatedSize = 0;
        hit.health = CarvedFileHealth::partial;
        hit.sourcePath = path;
        hit.recoveryStatus = RecoveryStatus::deleted;
        sink.postCarvedFiles({std::move(hit)});
        ++counts.indexHits;
    }
    if (counts.indexHits > 0)
        sink.postStatus(texts.indexHitsFoundTemplate.arg(counts.indexHits));
    return counts;
}

Counts scan(Platform &platform, const VolumeInfo &volume, const QList<FileSignature> &signatures, ScanSink &sink)
{
    const PlatformTexts &texts = platform.texts();
    sink.postStatus(u"Phase 1: Scanning Trash folders..."_s);
    QSet<QString> inTrash;
    const qsizetype trashHits = scanTrashFolders(platform, volume.mountPoint, signatures, sink, &inTrash);
    sink.postStatus(texts.checkingSnapshotsStatus);
    Counts counts = scanSnapshotsAndSpotlight(platform, volume, signatures, sink, inTrash);
    counts.trashHits = trashHits;

    // This scan started with no hits and is the only one adding any, so
    // what it counted is what the list holds.
    const qsizetype total = counts.trashHits + counts.indexHits;
    if (total == 0 && counts.snapshots == 0 && !counts.indexUnavailable)
        sink.postError(texts.noDeletedFilesTips);
    if (total != 0)
        sink.postStatus(texts.deletedFilesTotalsTemplate.arg(total).arg(counts.trashHits).arg(counts.indexHits));
    else
        sink.postStatus(u"No deleted files found. Trash is empty and no snapshots available."_s);
    return counts;
}

} // namespace DeletedFiles
