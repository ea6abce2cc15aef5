import QtQuick
import Quorvel

// A circular progress indicator (callers give it 140 by 140): a faint track,
// and either an arc from twelve o'clock to `progress` with an angular
// gradient, or, while `progress` is absent (null), a 0.3 arc that spins once
// every 1.5 s. A faint disc breathes between 1.0 and 1.15 behind the
// "waveform.and.magnifyingglass" icon and the truncated percentage.
Item {
    id: root
    // A fraction from 0 to 1, or null when no progress is known.
    property var progress: null
    property color color: Theme.neonBlue
    // Animation state; a new indicator starts again from 0 and 1.0.
    property real spinAngle: 0
    property real pulseScale: 1.0

    readonly property bool isDeterminate: typeof progress === "number" && !isNaN(progress)
    readonly property string percentText: isDeterminate ? Format.percent(progress) : ""
    readonly property real diameter: Math.min(width, height)
    readonly property real lineWidth: 4

    // The arc follows `progress` with a 0.3 s ease-in-out.
    property real shownProgress: isDeterminate ? Math.max(0, Math.min(1, progress)) : 0
    Behavior on shownProgress {
        NumberAnimation { duration: 300; easing.type: Easing.InOutQuad }
    }

    // The canvas takes colours as CSS text.
    function css(base: color, opacity: real): string {
        return "rgba(" + Math.round(base.r * 255) + ", " + Math.round(base.g * 255) + ", "
                + Math.round(base.b * 255) + ", " + base.a * opacity + ")"
    }

    implicitWidth: 140
    implicitHeight: 140

    Rectangle {
        id: disc
        anchors.centerIn: parent
        width: root.diameter - root.lineWidth
        height: width
        radius: width / 2
        color: Theme.alpha(root.color, 0.05)
        scale: root.pulseScale
    }

    Canvas {
        id: dial
        anchors.centerIn: parent
        width: root.diameter
        height: root.diameter
        renderStrategy: Canvas.Cooperative

        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            const c = width / 2
            const r = c - root.lineWidth / 2
            ctx.lineWidth = root.lineWidth

            ctx.strokeStyle = root.css(root.color, 0.1)
            ctx.beginPath()
            ctx.arc(c, c, r, 0, 2 * Math.PI)
            ctx.stroke()

            if (!root.isDeterminate || root.shownProgress <= 0)
                return
            // Counter-clockwise from twelve o'clock: full colour just before
            // twelve, fading to 0.3 just after it, so the arc that grows
            // clockwise brightens towards its tip as the progress rises.
            const gradient = ctx.createConicalGradient(c, c, Math.PI / 2)
            gradient.addColorStop(0.0, root.css(root.color, 1.0))
            gradient.addColorStop(1.0, root.css(root.color, 0.3))
            ctx.strokeStyle = gradient
            ctx.lineCap = "round"
            ctx.beginPath()
            const start = -Math.PI / 2
            ctx.arc(c, c, r, start, start + 2 * Math.PI * root.shownProgress)
            ctx.stroke()
        }

        Connections {
            target: root
            function onShownProgressChanged() { dial.requestPaint() }
            function onIsDeterminateChanged() { dial.requestPaint() }
            function onColorChanged() { dial.requestPaint() }
        }
        onWidthChanged: requestPaint()
    }

    Canvas {
        id: spinner
        anchors.centerIn: parent
        width: root.diameter
        height: root.diameter
        visible: !root.isDeterminate
        rotation: root.spinAngle
        renderStrategy: Canvas.Cooperative

        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            const c = width / 2
            ctx.lineWidth = root.lineWidth
            ctx.lineCap = "round"
            ctx.strokeStyle = root.css(root.color, 1.0)
            ctx.beginPath()
            ctx.arc(c, c, c - root.lineWidth / 2, 0, 2 * Math.PI * 0.3)
            ctx.stroke()
        }
        onWidthChanged: requestPaint()
        Connections {
            target: root
            function onColorChanged() { spinner.requestPaint() }
        }
    }

    Column {
        anchors.centerIn: parent
        spacing: 4

        Icon {
            anchors.horizontalCenter: parent.horizontalCenter
            symbol: "waveform.and.magnifyingglass"
            size: 20
            color: root.color
        }
        Text {
            objectName: "percentText"
            anchors.horizontalCenter: parent.horizontalCenter
            visible: root.isDeterminate
            text: root.percentText
            color: root.color
            font.pixelSize: 14
            font.bold: true
        }
    }

    NumberAnimation on spinAngle {
        from: 0
        to: 360
        duration: 1500
        loops: Animation.Infinite
        running: root.visible
    }

    SequentialAnimation on pulseScale {
        loops: Animation.Infinite
        running: root.visible
        NumberAnimation { from: 1.0; to: 1.15; duration: 1500; easing.type: Easing.InOutQuad }
        NumberAnimation { from: 1.15; to: 1.0; duration: 1500; easing.type: Easing.InOutQuad }
    }
}
