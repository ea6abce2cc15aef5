import QtQuick
import QtTest
import Quorvel

Item {
    id: host
    width: 300
    height: 300

TestCase {
    id: testCase
    name: "ScanProgressView"
    when: windowShown

    Component {
        id: progressComponent
        ScanProgressView { width: 140; height: 140 }
    }

    function init() {
        failOnWarning(/.?/)
    }

    function test_percentage_data() {
        return [
            { tag: "0.999 truncates", progress: 0.999, text: "99%" },
            { tag: "0", progress: 0, text: "0%" },
        ]
    }

    function test_percentage(data) {
        const view = createTemporaryObject(progressComponent, host, { progress: data.progress })
        const label = findChild(view, "percentText")
        compare(label.text, data.text)
        verify(label.visible)
    }

    function test_absent_progress_spins() {
        const view = createTemporaryObject(progressComponent, host)
        compare(view.progress, null)
        compare(view.isDeterminate, false)
        verify(!findChild(view, "percentText").visible)
        // A new indicator starts from 0 degrees and scale 1.0, then turns.
        verify(view.spinAngle < 90)
        tryVerify(() => view.spinAngle > 30, 1000)
        tryVerify(() => view.pulseScale > 1.01, 1500)
        verify(view.pulseScale <= 1.15)
    }

    function test_progress_can_become_absent() {
        const view = createTemporaryObject(progressComponent, host, { progress: 0.5 })
        verify(view.isDeterminate)
        view.progress = null
        verify(!view.isDeterminate)
        verify(!findChild(view, "percentText").visible)
    }
}
}
