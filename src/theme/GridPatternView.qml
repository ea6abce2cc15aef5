import QtQuick
import Quorvel

// A 30-point grid of white lines of width 0.5, drawn on one canvas. The
// window shows it at opacity 0.03.
Canvas {
    id: root
    renderStrategy: Canvas.Cooperative

    onWidthChanged: requestPaint()
    onHeightChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d")
        ctx.reset()
        ctx.strokeStyle = "white"
        ctx.lineWidth = 0.5
        ctx.beginPath()
        for (const x of Format.gridLines(width)) {
            ctx.moveTo(x, 0)
            ctx.lineTo(x, height)
        }
        for (const y of Format.gridLines(height)) {
            ctx.moveTo(0, y)
            ctx.lineTo(width, y)
        }
        ctx.stroke()
    }
}
