pragma Singleton
import QtQuick
import Quorvel

// The neon theme: the palette (read from the core library, so there is one
// source of the colours), the gradient and the five fonts. Screens name
// colours only through this object.
QtObject {
    readonly property color backgroundDeep: ThemePalette.backgroundDeep
    readonly property color backgroundPanel: ThemePalette.backgroundPanel
    readonly property color backgroundCard: ThemePalette.backgroundCard
    readonly property color backgroundRaised: ThemePalette.backgroundRaised
    readonly property color neonCyan: ThemePalette.neonCyan
    readonly property color neonPink: ThemePalette.neonPink
    readonly property color neonBlue: ThemePalette.neonBlue
    readonly property color neonPurple: ThemePalette.neonPurple
    readonly property color neonGreen: ThemePalette.neonGreen
    readonly property color neonOrange: ThemePalette.neonOrange
    readonly property color neonRed: ThemePalette.neonRed
    readonly property color textPrimary: ThemePalette.textPrimary
    readonly property color textSecondary: ThemePalette.textSecondary
    readonly property color textMuted: ThemePalette.textMuted

    // neonCyan to neonBlue, leading edge to trailing edge.
    readonly property Gradient neonGradient: Gradient {
        orientation: Gradient.Horizontal
        GradientStop { position: 0.0; color: ThemePalette.neonCyan }
        GradientStop { position: 1.0; color: ThemePalette.neonBlue }
    }

    // The monospaced design: JetBrains Mono, or the system's fixed font.
    readonly property string monospacedFamily: ThemeFonts.monospacedFamily
    readonly property string defaultFamily: Qt.application.font.family

    readonly property font titleFont: Qt.font({ family: monospacedFamily, pixelSize: 24, weight: Font.Bold })
    readonly property font headlineFont: Qt.font({ family: monospacedFamily, pixelSize: 18, weight: Font.DemiBold })
    readonly property font bodyFont: Qt.font({ family: defaultFamily, pixelSize: 13, weight: Font.Normal })
    readonly property font captionFont: Qt.font({ family: monospacedFamily, pixelSize: 11, weight: Font.Normal })
    readonly property font fieldFont: Qt.font({ family: monospacedFamily, pixelSize: 12, weight: Font.Medium })

    // A palette colour at an opacity, e.g. Theme.alpha(Theme.neonCyan, 0.3).
    function alpha(base: color, opacity: real): color {
        return Qt.rgba(base.r, base.g, base.b, base.a * opacity)
    }

    // A monospaced font of any other size, e.g. the size-9 section captions.
    function mono(size: real, weight: int): font {
        return Qt.font({ family: monospacedFamily, pixelSize: size, weight: weight })
    }
}
