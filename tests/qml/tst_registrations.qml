import QtQuick
import QtTest
import Quorvel

// What the screens bind to is reachable from QML: a service made in QML with
// its published lists, the shared settings and the program's identity.
TestCase {
    name: "Registrations"

    FileCarvingService {
        id: service
    }

    function test_service_publishes_its_lists() {
        compare(service.carvedFiles.count, 0)
        compare(service.isScanning, false)
        service.refreshVolumes()
        verify(service.volumes !== null)
        compare(service.secondsRemaining, -1)
    }

    function test_settings_and_identity() {
        verify(AppSettings.maxCarvingFileSize >= 10)
        verify(AppSettings === AppSettings)
        compare(Qt.application.name, "Quorvel File Recovery")
        verify(Qt.application.version.length > 0)
    }
}
