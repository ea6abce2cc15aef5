#pragma once

#include <QColor>
#include <QString>

// The fourteen named colours of the neon theme. Every colour shown anywhere in
// the program is one of these; QML reads the same values through the theme.
enum class PaletteColor {
    backgroundDeep,
    backgroundPanel,
    backgroundCard,
    backgroundRaised,
    neonCyan,
    neonPink,
    neonBlue,
    neonPurple,
    neonGreen,
    neonOrange,
    neonRed,
    textPrimary,
    textSecondary,
    textMuted,
};

inline constexpr int paletteColorCount = 14;

// The sRGB colour of a palette entry (with its opacity for the text colours).
QColor paletteColor(PaletteColor color);
// The entry's name as written in code, e.g. "neonCyan".
QString paletteName(PaletteColor color);
