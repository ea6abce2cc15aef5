#pragma once

// QML names for types that live in the core library. The core stays free of
// QtQml; each wrapper below only tells the type registrar what to expose.
// A service is added like FileCarvingService below (see src/app/CMakeLists.txt).

#include <QObject>
#include <QtQml/qqmlregistration.h>

#include <QJSEngine>
#include <QQmlEngine>
#include <QtQml/qqml.h>

#include "carving/filecarvingservice.h"
#include "model/recoveryenums.h"
#include "system/appsettings.h"
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

struct VolumeListModelForeign {
    Q_GADGET
    QML_FOREIGN(VolumeListModel)
    QML_NAMED_ELEMENT(VolumeListModel)
    QML_UNCREATABLE("published by FileCarvingService")
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
