import QtQuick
import Quorvel

PlaceholderScreen {
    title: "TRASH RECOVERY"
    symbol: "trash"
    accent: Theme.neonCyan
    line: "The Trash list arrives here."
}
