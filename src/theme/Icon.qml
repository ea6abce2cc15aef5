import QtQuick
import Quorvel

// An icon by its SF Symbols name ("trash", "info.circle"), drawn with the
// matching glyph of the icon font. `size` is the point size of the symbol.
Text {
    id: root
    property string symbol
    property real size: 14

    text: symbol.length > 0 ? Icons.glyph(symbol) : ""
    font.family: Icons.fontFamily
    font.pixelSize: Math.round(size * 1.2)
    color: Theme.textPrimary
    horizontalAlignment: Text.AlignHCenter
    verticalAlignment: Text.AlignVCenter
    renderType: Text.QtRendering
}
