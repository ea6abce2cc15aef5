import QtQuick
import QtTest
import Quorvel

TestCase {
    name: "Theme"

    function test_fonts_data() {
        return [
            { tag: "titleFont", font: Theme.titleFont, size: 24, weight: Font.Bold, mono: true },
            { tag: "headlineFont", font: Theme.headlineFont, size: 18, weight: Font.DemiBold, mono: true },
            { tag: "bodyFont", font: Theme.bodyFont, size: 13, weight: Font.Normal, mono: false },
            { tag: "captionFont", font: Theme.captionFont, size: 11, weight: Font.Normal, mono: true },
            { tag: "fieldFont", font: Theme.fieldFont, size: 12, weight: Font.Medium, mono: true },
        ]
    }

    function test_fonts(data) {
        compare(data.font.pixelSize, data.size)
        compare(data.font.weight, data.weight)
        compare(data.font.family === Theme.monospacedFamily, data.mono)
    }

    function test_palette_comes_from_the_core() {
        for (const name of ["backgroundDeep", "backgroundPanel", "backgroundCard", "backgroundRaised",
                            "neonCyan", "neonPink", "neonBlue", "neonPurple", "neonGreen", "neonOrange",
                            "neonRed", "textPrimary", "textSecondary", "textMuted"])
            verify(Qt.colorEqual(Theme[name], ThemePalette.named(name)), name)
        verify(Qt.colorEqual(Theme.textMuted, Qt.rgba(1, 1, 1, 0.4)))
    }

    function test_gradient_runs_cyan_to_blue() {
        const stops = Theme.neonGradient.stops
        compare(stops.length, 2)
        verify(Qt.colorEqual(stops[0].color, Theme.neonCyan))
        verify(Qt.colorEqual(stops[1].color, Theme.neonBlue))
        compare(Theme.neonGradient.orientation, Gradient.Horizontal)
    }

    function test_alpha_keeps_the_hue() {
        const c = Theme.alpha(Theme.neonCyan, 0.3)
        verify(Qt.colorEqual(c, Qt.rgba(0, 1, 0.83, 0.3)))
        // textSecondary already has opacity 0.7; half of it is 0.35.
        fuzzyCompare(Theme.alpha(Theme.textSecondary, 0.5).a, 0.35, 0.01)
    }

    function test_grid_lines_for_qml() {
        compare(Format.gridLines(60), [0, 30])
        compare(Format.gridLines(0), [])
    }
}
