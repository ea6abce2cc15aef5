#include "palette.h"

namespace {
struct Entry {
    const char *name;
    float red, green, blue, alpha;
};

constexpr Entry entries[paletteColorCount] = {
    {"backgroundDeep", 0.02f, 0.02f, 0.08f, 1.0f},
    {"backgroundPanel", 0.05f, 0.05f, 0.15f, 1.0f},
    {"backgroundCard", 0.08f, 0.08f, 0.20f, 1.0f},
    {"backgroundRaised", 0.06f, 0.06f, 0.18f, 1.0f},
    {"neonCyan", 0.0f, 1.0f, 0.83f, 1.0f},
    {"neonPink", 1.0f, 0.0f, 0.43f, 1.0f},
    {"neonBlue", 0.0f, 0.4f, 1.0f, 1.0f},
    {"neonPurple", 0.6f, 0.0f, 1.0f, 1.0f},
    {"neonGreen", 0.0f, 1.0f, 0.4f, 1.0f},
    {"neonOrange", 1.0f, 0.5f, 0.0f, 1.0f},
    {"neonRed", 1.0f, 0.2f, 0.2f, 1.0f},
    {"textPrimary", 1.0f, 1.0f, 1.0f, 1.0f},
    {"textSecondary", 1.0f, 1.0f, 1.0f, 0.7f},
    {"textMuted", 1.0f, 1.0f, 1.0f, 0.4f},
};
} // namespace

QColor paletteColor(PaletteColor color)
{
    const Entry &e = entries[static_cast<int>(color)];
    return QColor::fromRgbF(e.red, e.green, e.blue, e.alpha);
}

QString paletteName(PaletteColor color)
{
    return QString::fromLatin1(entries[static_cast<int>(color)].name);
}
