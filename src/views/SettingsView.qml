import QtQuick
import Quorvel

PlaceholderScreen {
    title: "SETTINGS"
    symbol: "gearshape"
    accent: Theme.neonPurple
    line: "Preferences will be set here."
}
