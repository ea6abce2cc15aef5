#include "recoveryenums.h"

#include <QFileInfo>

namespace {
struct Display {
    const char *raw;
    const char *icon;
    PaletteColor color;
};

constexpr Display navigationTable[] = {
    {"Trash Recovery", "trash", PaletteColor::neonCyan},
    {"Snapshots", "clock.arrow.circlepath", PaletteColor::neonPink},
    {"Deep Scan", "waveform.and.magnifyingglass", PaletteColor::neonBlue},
    {"Settings", "gearshape", PaletteColor::neonPurple},
};
constexpr const char *navigationSubtitles[] = {"Recover from Trash", "APFS Snapshots", "Signature Scan", "Preferences"};

constexpr Display categoryTable[] = {
    {"All", "square.grid.2x2", PaletteColor::neonCyan},
    {"Images", "photo", PaletteColor::neonPink},
    {"Videos", "film", PaletteColor::neonRed},
    {"Audio", "music.note", PaletteColor::neonGreen},
    {"Documents", "doc.text", PaletteColor::neonBlue},
    {"Archives", "archivebox", PaletteColor::neonOrange},
    {"Code", "chevron.left.forwardslash.chevron.right", PaletteColor::neonPurple},
    {"Folders", "folder", PaletteColor::neonCyan},
    {"Other", "questionmark.circle", PaletteColor::textSecondary},
};

constexpr Display healthTable[] = {
    {"Good", "checkmark.circle.fill", PaletteColor::neonGreen},
    {"Partial", "exclamationmark.triangle.fill", PaletteColor::neonOrange},
    {"Fragment", "xmark.circle.fill", PaletteColor::neonRed},
    {"Unknown", "questionmark.circle", PaletteColor::textMuted},
};

constexpr Display statusTable[] = {
    {"Deleted", "arrow.uturn.backward.circle.fill", PaletteColor::neonGreen},
    {"Existing", "doc.circle", PaletteColor::textMuted},
    {"Unknown", "questionmark.circle", PaletteColor::neonOrange},
};

template<typename Enum, std::size_t N>
QList<Enum> allOf(const Display (&)[N])
{
    QList<Enum> cases;
    for (std::size_t i = 0; i < N; ++i)
        cases.append(static_cast<Enum>(i));
    return cases;
}

template<typename Enum, std::size_t N>
std::optional<Enum> parse(const Display (&table)[N], const QString &raw)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (raw == QLatin1String(table[i].raw))
            return static_cast<Enum>(i);
    }
    return std::nullopt;
}

const Display &entry(NavigationItem v) { return navigationTable[static_cast<int>(v)]; }
const Display &entry(FileCategory v) { return categoryTable[static_cast<int>(v)]; }
const Display &entry(CarvedFileHealth v) { return healthTable[static_cast<int>(v)]; }
const Display &entry(RecoveryStatus v) { return statusTable[static_cast<int>(v)]; }

// Extension lists in the order they are compared; no extension is in two lists.
struct ExtensionList {
    FileCategory category;
    std::initializer_list<const char *> extensions;
};

const ExtensionList extensionTable[] = {
    {FileCategory::image, {"jpg", "jpeg", "png", "gif", "bmp", "tiff", "heic", "webp", "svg"}},
    {FileCategory::video, {"mp4", "mov", "avi", "mkv", "wmv", "flv", "m4v", "webm"}},
    {FileCategory::audio, {"mp3", "wav", "aac", "flac", "m4a", "ogg", "aiff"}},
    {FileCategory::document, {"pdf", "doc", "docx", "xls", "xlsx", "ppt", "pptx", "txt", "rtf", "pages", "numbers", "key", "md"}},
    {FileCategory::archive, {"zip", "rar", "7z", "tar", "gz", "bz2", "dmg", "iso"}},
    {FileCategory::code, {"swift", "py", "js", "ts", "html", "css", "json", "xml", "c", "cpp", "h", "m", "java", "go", "rs"}},
};
} // namespace

QList<NavigationItem> allNavigationItems() { return allOf<NavigationItem>(navigationTable); }
QList<FileCategory> allFileCategories() { return allOf<FileCategory>(categoryTable); }
QList<CarvedFileHealth> allCarvedFileHealths() { return allOf<CarvedFileHealth>(healthTable); }
QList<RecoveryStatus> allRecoveryStatuses() { return allOf<RecoveryStatus>(statusTable); }

QString rawValue(NavigationItem v) { return QString::fromUtf8(entry(v).raw); }
QString rawValue(FileCategory v) { return QString::fromUtf8(entry(v).raw); }
QString rawValue(CarvedFileHealth v) { return QString::fromUtf8(entry(v).raw); }
QString rawValue(RecoveryStatus v) { return QString::fromUtf8(entry(v).raw); }

QString icon(NavigationItem v) { return QString::fromLatin1(entry(v).icon); }
QString icon(FileCategory v) { return QString::fromLatin1(entry(v).icon); }
QString icon(CarvedFileHealth v) { return QString::fromLatin1(entry(v).icon); }
QString icon(RecoveryStatus v) { return QString::fromLatin1(entry(v).icon); }

PaletteColor color(NavigationItem v) { return entry(v).color; }
PaletteColor color(FileCategory v) { return entry(v).color; }
PaletteColor color(CarvedFileHealth v) { return entry(v).color; }
PaletteColor color(RecoveryStatus v) { return entry(v).color; }

QString subtitle(NavigationItem item) { return QString::fromLatin1(navigationSubtitles[static_cast<int>(item)]); }

template<>
std::optional<NavigationItem> fromRawValue<NavigationItem>(const QString &raw) { return parse<NavigationItem>(navigationTable, raw); }
template<>
std::optional<FileCategory> fromRawValue<FileCategory>(const QString &raw) { return parse<FileCategory>(categoryTable, raw); }
template<>
std::optional<CarvedFileHealth> fromRawValue<CarvedFileHealth>(const QString &raw) { return parse<CarvedFileHealth>(healthTable, raw); }
template<>
std::optional<RecoveryStatus> fromRawValue<RecoveryStatus>(const QString &raw) { return parse<RecoveryStatus>(statusTable, raw); }

FileCategory categoryFor(const QString &fileName, bool isDirectory)
{
    if (isDirectory)
        return FileCategory::folder;
    // The extension is what follows the last dot of the last path component;
    // QFileInfo::suffix() gives exactly that (and nothing for "Makefile").
    // A trailing separator ends no component: "Photos.jpg/" names Photos.jpg.
    QString path = fileName;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension.isEmpty())
        return FileCategory::other;
    for (const ExtensionList &list : extensionTable) {
        for (const char *candidate : list.extensions) {
            if (extension == QLatin1String(candidate))
                return list.category;
        }
    }
    return FileCategory::other;
}
