#include "palettebridge.h"

#include <QFontDatabase>

QColor PaletteBridge::named(const QString &name) const
{
    for (int i = 0; i < paletteColorCount; ++i) {
        const auto entry = static_cast<PaletteColor>(i);
        if (paletteName(entry) == name)
            return paletteColor(entry);
    }
    qWarning("Palette: no colour named \"%s\"", qUtf8Printable(name));
    return QColor(Qt::transparent);
}

QString ThemeFonts::monospacedFamily()
{
    static const QString family = [] {
        const QString preferred = QStringLiteral("JetBrains Mono");
        if (QFontDatabase::hasFamily(preferred))
            return preferred;
        return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    }();
    return family;
}
