#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

#include "palette.h"

// The small enumerations every subsystem shares. Each has a string raw value
// that doubles as its display text; fromRawValue() accepts only an exact,
// case-sensitive raw value.
namespace Recovery {
Q_NAMESPACE
// Several enumerations share case names (unknown), so QML must reach each case
// through its enumeration: Recovery.RecoveryStatus.unknown.
Q_CLASSINFO("RegisterEnumClassesUnscoped", "false")

// Sidebar destinations, in sidebar order.
enum class NavigationItem { trashRecovery, snapshotRecovery, deepScan, settings };
Q_ENUM_NS(NavigationItem)

// File categories, in display order. `all` is never the category of a file.
enum class FileCategory { all, image, video, audio, document, archive, code, folder, other };
Q_ENUM_NS(FileCategory)

// How complete a carved file looks.
enum class CarvedFileHealth { good, partial, fragment, unknown };
Q_ENUM_NS(CarvedFileHealth)

// Whether a found file still exists on the scanned volume.
enum class RecoveryStatus { deleted, existing, unknown };
Q_ENUM_NS(RecoveryStatus)

} // namespace Recovery

using Recovery::CarvedFileHealth;
using Recovery::FileCategory;
using Recovery::NavigationItem;
using Recovery::RecoveryStatus;

// Every case, in declaration order.
QList<NavigationItem> allNavigationItems();
QList<FileCategory> allFileCategories();
QList<CarvedFileHealth> allCarvedFileHealths();
QList<RecoveryStatus> allRecoveryStatuses();

// Raw values (titles, display names, badge texts).
QString rawValue(NavigationItem item);
QString rawValue(FileCategory category);
QString rawValue(CarvedFileHealth health);
QString rawValue(RecoveryStatus status);

// SF Symbols names; the window maps them to glyphs of the installed icon font.
QString icon(NavigationItem item);
QString icon(FileCategory category);
QString icon(CarvedFileHealth health);
QString icon(RecoveryStatus status);

PaletteColor color(NavigationItem item);
PaletteColor color(FileCategory category);
PaletteColor color(CarvedFileHealth health);
PaletteColor color(RecoveryStatus status);

QString subtitle(NavigationItem item);

template<typename Enum>
std::optional<Enum> fromRawValue(const QString &raw);

// The category of a file name or path: `folder` for a directory, otherwise by
// the lower-cased last extension; `other` when no list holds it.
FileCategory categoryFor(const QString &fileName, bool isDirectory);
