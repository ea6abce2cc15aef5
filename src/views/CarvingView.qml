import QtQuick
import Quorvel

PlaceholderScreen {
    title: "DEEP SCAN"
    symbol: "waveform.and.magnifyingglass"
    accent: Theme.neonBlue
    line: "Signature scanning starts here."
}
