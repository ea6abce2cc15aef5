#include "icontable.h"

#include <QFontDatabase>

#include <algorithm>

namespace {
// Kept sorted by symbol: iconCodepoint() searches it with lower_bound.
constexpr IconGlyph glyphs[] = {
    {"archivebox", "archive", 0xe149},
    {"arrow.clockwise", "refresh", 0xe5d5},
    {"arrow.counterclockwise", "replay", 0xe042},
    {"arrow.counterclockwise.circle.fill", "replay_circle_filled", 0xe9d8},
    {"arrow.down.doc.fill", "file_download", 0xe2c4},
    {"arrow.left.arrow.right", "compare_arrows", 0xe915},
    {"arrow.left.circle", "arrow_circle_left", 0xeaa7},
    {"arrow.triangle.2.circlepath", "autorenew", 0xe863},
    {"arrow.up.trash", "restore_from_trash", 0xe938},
    {"arrow.uturn.backward", "undo", 0xe166},
    {"arrow.uturn.backward.circle.fill", "settings_backup_restore", 0xe8ba},
    {"camera.circle", "camera", 0xe3af},
    {"checkmark.circle.fill", "check_circle", 0xe86c},
    {"checkmark.shield.fill", "verified_user", 0xe8e8},
    {"checkmark.square.fill", "check_box", 0xe834},
    {"chevron.down", "expand_more", 0xe5cf},
    {"chevron.left", "chevron_left", 0xe5cb},
    {"chevron.left.forwardslash.chevron.right", "code", 0xe86f},
    {"chevron.right", "chevron_right", 0xe5cc},
    {"chevron.up", "expand_less", 0xe5ce},
    {"clock.arrow.circlepath", "history", 0xe889},
    {"clock.badge.questionmark", "history_toggle_off", 0xf17d},
    {"doc.circle", "insert_drive_file", 0xe24d},
    {"doc.text", "description", 0xe873},
    {"doc.text.magnifyingglass", "find_in_page", 0xe880},
    {"exclamationmark.triangle", "warning_amber", 0xf083},
    {"exclamationmark.triangle.fill", "warning", 0xe002},
    {"externaldrive.fill", "usb", 0xe1e0},
    {"eye", "visibility", 0xe8f4},
    {"eye.slash", "visibility_off", 0xe8f5},
    {"film", "movie", 0xe02c},
    {"folder", "folder", 0xe2c7},
    {"folder.fill", "folder_open", 0xe2c8},
    {"gearshape", "settings", 0xe8b8},
    {"info.circle", "info_outline", 0xe88f},
    {"info.circle.fill", "info", 0xe88e},
    {"internaldrive", "storage", 0xe1db},
    {"internaldrive.fill", "storage", 0xe1db},
    {"link", "link", 0xe157},
    {"lock.shield", "security", 0xe32a},
    {"lock.shield.fill", "admin_panel_settings", 0xef3d},
    {"magnifyingglass", "search", 0xe8b6},
    {"minus", "remove", 0xe15b},
    {"minus.circle", "remove_circle_outline", 0xe15d},
    {"music.note", "music_note", 0xe405},
    {"opticaldiscdrive", "album", 0xe019},
    {"photo", "photo", 0xe410},
    {"play.fill", "play_arrow", 0xe037},
    {"plus", "add", 0xe145},
    {"questionmark.circle", "help_outline", 0xe8fd},
    {"square", "check_box_outline_blank", 0xe835},
    {"square.and.arrow.down.on.square", "save_alt", 0xe171},
    {"square.grid.2x2", "grid_view", 0xe9b0},
    {"stop.fill", "stop", 0xe047},
    {"trash", "delete_outline", 0xe92e},
    {"trash.slash", "delete_forever", 0xe92b},
    {"trash.slash.fill", "restore_from_trash", 0xe938},
    {"waveform.and.magnifyingglass", "troubleshoot", 0xe1d2},
    {"xmark", "close", 0xe5cd},
    {"xmark.circle.fill", "cancel", 0xe5c9},
};

constexpr char16_t unknownGlyph = 0xe8fd; // help_outline

bool lessBySymbol(const IconGlyph &glyph, QStringView symbol)
{
    return QLatin1StringView(glyph.symbol) < symbol;
}
} // namespace

std::span<const IconGlyph> iconGlyphs()
{
    return glyphs;
}

std::optional<char16_t> iconCodepoint(QStringView symbol)
{
    const auto *found = std::lower_bound(std::begin(glyphs), std::end(glyphs), symbol, lessBySymbol);
    if (found == std::end(glyphs) || QLatin1StringView(found->symbol) != symbol)
        return std::nullopt;
    return found->codepoint;
}

QString iconFontResource()
{
    return QStringLiteral(":/quorvel/fonts/MaterialIcons-Regular.ttf");
}

IconTable::IconTable(QObject *parent)
    : QObject(parent)
{
}

QString IconTable::fontFamily()
{
    static const QString family = [] {
        const int id = QFontDatabase::addApplicationFont(iconFontResource());
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (families.isEmpty()) {
            // Without the resource, fall back to an installed copy.
            qWarning("Icons: could not load %s", qUtf8Printable(iconFontResource()));
            return QStringLiteral("Material Icons");
        }
        return families.first();
    }();
    return family;
}

QString IconTable::glyph(const QString &symbol) const
{
    const std::optional<char16_t> codepoint = iconCodepoint(symbol);
    if (!codepoint) {
        qWarning("Icons: no glyph for the symbol \"%s\"", qUtf8Printable(symbol));
        return QString(QChar(unknownGlyph));
    }
    return QString(QChar(*codepoint));
}

bool IconTable::contains(const QString &symbol) const
{
    return iconCodepoint(symbol).has_value();
}
