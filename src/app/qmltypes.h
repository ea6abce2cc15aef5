#pragma once

// QML names for types that live in the core library. The core stays free of
// QtQml; each wrapper below only tells the type registrar what to expose.
// A service is added the same way as Recovery (see src/app/CMakeLists.txt):
//
//     struct TrashRecoveryServiceForeign {
//         Q_GADGET
//         QML_FOREIGN(TrashRecoveryService)
//         QML_NAMED_ELEMENT(TrashRecoveryService)
//     };

#include <QObject>
#include <QtQml/qqmlregistration.h>

#include "model/recoveryenums.h"

// The shared enumerations, reached through their enumeration's name:
// Recovery.NavigationItem.deepScan, Recovery.RecoveryStatus.unknown.
namespace RecoveryForeign {
Q_NAMESPACE
QML_FOREIGN_NAMESPACE(Recovery)
QML_NAMED_ELEMENT(Recovery)
} // namespace RecoveryForeign
