import QtQuick
import QtTest
import Quorvel

TestCase {
    name: "Theme"

    function test_palette_comes_from_the_core() {
        for (const name of ["backgroundDeep", "backgroundPanel", "backgroundCard", "backgroundRaised",
                            "neonCyan", "neonPink", "neonBlue", "neonPurple", "neonGreen", "neonOrange",
                            "neonRed", "textPrimary", "textSecondary", "textMuted"])
            verify(Qt.colorEqual(Theme[name], ThemePalette.named(name)), name)
    }

    function test_alpha_keeps_the_hue() {
        verify(Qt.colorEqual(Theme.alpha(Theme.neonCyan, 0.3), Qt.rgba(0, 1, 0.83, 0.3)))
        // textSecondary already has opacity 0.7; half of it is 0.35.
        fuzzyCompare(Theme.alpha(Theme.textSecondary, 0.5).a, 0.35, 0.01)
    }

    function test_grid_lines_for_qml() {
        compare(Format.gridLines(60), [0, 30])
    }
}
