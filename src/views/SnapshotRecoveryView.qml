import QtQuick
import Quorvel

PlaceholderScreen {
    title: "SNAPSHOTS"
    symbol: "clock.arrow.circlepath"
    accent: Theme.neonPink
    line: "File-system snapshots will be listed here."
}
