#pragma once

// QML names for types that live in the core library. The core stays free of
// QtQml; each wrapper below only tells the type registrar what to expose.
// A service is added like FileCarvingService below (see src/app/CMakeLists.txt).

#include <QObject>
#include <QtQml/qqmlregistration.h>

#include <QJSEngine>
#include <QQmlEngine>
#include <QtQml/qqml.h>

#include "carving/deepscanscreen.h"
#include "carving/filecarvingservice.h"
#include "carving/visiblehitsmodel.h"
#include "model/recoveryenums.h"
#include "snapshots/snapshotscreen.h"
#include "snapshots/snapshotservice.h"
#include "system/appsettings.h"
#include "system/settingsscreen.h"
#include "trash/trashrecoveryservice.h"
#include "trash/trashscreen.h"

// The shared enumerations, reached through their enumeration's name:
// Recovery.NavigationItem.deepScan, Recovery.RecoveryStatus.unknown.
namespace RecoveryForeign {
Q_NAMESPACE
QML_FOREIGN_NAMESPACE(Recovery)
QML_NAMED_ELEMENT(Recovery)
} // namespace RecoveryForeign

// The Deep Scan service; each screen makes its own.
struct FileCarvingServiceForeign {
    Q_GADGET
    QML_FOREIGN(FileCarvingService)
    QML_NAMED_ELEMENT(FileCarvingService)
};

// Lists that services publish; QML reads them, never makes them.
struct CarvedFileModelForeign {
    Q_GADGET
    QML_FOREIGN(CarvedFileModel)
    QML_NAMED_ELEMENT(CarvedFileModel)
    QML_UNCREATABLE("published by FileCarvingService")
};

// The Deep Scan screen's state; CarvingView makes one, which owns its service.
struct DeepScanScreenForeign {
    Q_GADGET
    QML_FOREIGN(DeepScanScreen)
    QML_NAMED_ELEMENT(DeepScanScreen)
};

struct VisibleHitsModelForeign {
    Q_GADGET
    QML_FOREIGN(VisibleHitsModel)
    QML_NAMED_ELEMENT(VisibleHitsModel)
    QML_UNCREATABLE("published by DeepScanScreen")
};

struct VolumeListModelForeign {
    Q_GADGET
    QML_FOREIGN(VolumeListModel)
    QML_NAMED_ELEMENT(VolumeListModel)
    QML_UNCREATABLE("published by FileCarvingService")
};

// The Snapshots screen: its service and its own state, each made by the
// screen; the lists and the browser are published by them.
struct SnapshotServiceForeign {
    Q_GADGET
    QML_FOREIGN(SnapshotService)
    QML_NAMED_ELEMENT(SnapshotService)
};

struct SnapshotScreenForeign {
    Q_GADGET
    QML_FOREIGN(SnapshotScreen)
    QML_NAMED_ELEMENT(SnapshotScreen)
};

struct SnapshotListModelForeign {
    Q_GADGET
    QML_FOREIGN(SnapshotListModel)
    QML_NAMED_ELEMENT(SnapshotListModel)
    QML_UNCREATABLE("published by SnapshotService")
};

struct SnapshotBrowserForeign {
    Q_GADGET
    QML_FOREIGN(SnapshotBrowser)
    QML_NAMED_ELEMENT(SnapshotBrowser)
    QML_UNCREATABLE("published by SnapshotScreen")
};

struct SnapshotFileFilterForeign {
    Q_GADGET
    QML_FOREIGN(SnapshotFileFilter)
    QML_NAMED_ELEMENT(SnapshotFileFilter)
    QML_UNCREATABLE("published by SnapshotBrowser")
};

// The Settings screen's access check and system texts.
struct SettingsScreenForeign {
    Q_GADGET
    QML_FOREIGN(SettingsScreen)
    QML_NAMED_ELEMENT(SettingsScreen)
};

// The preferences, one object for every screen.
struct AppSettingsForeign {
    Q_GADGET
    QML_FOREIGN(AppSettings)
    QML_NAMED_ELEMENT(AppSettings)
    QML_SINGLETON

public:
    static AppSettings *create(QQmlEngine *, QJSEngine *)
    {
        AppSettings *settings = AppSettings::instance();
        // Shared beyond this engine: QML must not take it over and delete it.
        QJSEngine::setObjectOwnership(settings, QJSEngine::CppOwnership);
        return settings;
    }
};

// Trash Recovery: the service and the screen's state, each made by the
// screen; the lists they publish; the orders of the list.
struct TrashRecoveryServiceForeign {
    Q_GADGET
    QML_FOREIGN(TrashRecoveryService)
    QML_NAMED_ELEMENT(TrashRecoveryService)
};

struct TrashScreenForeign {
    Q_GADGET
    QML_FOREIGN(TrashScreen)
    QML_NAMED_ELEMENT(TrashScreen)
};

struct TrashItemModelForeign {
    Q_GADGET
    QML_FOREIGN(TrashItemModel)
    QML_NAMED_ELEMENT(TrashItemModel)
    QML_UNCREATABLE("published by TrashRecoveryService")
};

struct TrashItemProxyForeign {
    Q_GADGET
    QML_FOREIGN(TrashItemProxy)
    QML_NAMED_ELEMENT(TrashItemProxy)
    QML_UNCREATABLE("published by TrashScreen")
};

struct CategoryChipModelForeign {
    Q_GADGET
    QML_FOREIGN(CategoryChipModel)
    QML_NAMED_ELEMENT(CategoryChipModel)
    QML_UNCREATABLE("published by TrashScreen")
};

// TrashSort.Order.nameAsc
namespace TrashSortForeign {
Q_NAMESPACE
QML_FOREIGN_NAMESPACE(TrashSort)
QML_NAMED_ELEMENT(TrashSort)
} // namespace TrashSortForeign
