#include "navigationmodel.h"

#include "system/platform.h"

#include "model/palette.h"

namespace {
// Until a screen lands, its file shows a placeholder under the same name.
constexpr const char *screenFiles[] = {
    "TrashRecoveryView.qml",    // trashRecovery
    "SnapshotRecoveryView.qml", // snapshotRecovery
    "CarvingView.qml",          // deepScan
    "SettingsView.qml",         // settings
};

std::optional<NavigationItem> itemFromValue(int value)
{
    const QList<NavigationItem> items = allNavigationItems();
    if (value < 0 || value >= items.size())
        return std::nullopt;
    return items.at(value);
}
} // namespace

QString NavigationModel::lookName(RowLook look)
{
    switch (look) {
    case RowLook::plain:
        return QStringLiteral("plain");
    case RowLook::hovered:
        return QStringLiteral("hovered");
    case RowLook::selected:
        return QStringLiteral("selected");
    }
    return {};
}

NavigationModel::NavigationModel(QObject *parent)
    : NavigationModel(runningPlatform(), parent)
{
}

NavigationModel::NavigationModel(std::shared_ptr<Platform> platform, QObject *parent)
    : QAbstractListModel(parent)
    , m_platform(std::move(platform))
{
}

int NavigationModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(allNavigationItems().size());
}

QVariant NavigationModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const NavigationItem item = allNavigationItems().at(index.row());
    switch (static_cast<Role>(role)) {
    case Role::item:
        return static_cast<int>(item);
    case Role::title:
        return rawValue(item);
    case Role::subtitle:
        // "APFS Snapshots" names a macOS facility; the backend words it for its system.
        if (item == NavigationItem::snapshotRecovery)
            return m_platform->texts().snapshotsSubtitle;
        return subtitle(item);
    case Role::symbol:
        return icon(item);
    case Role::accent:
        return paletteColor(color(item));
    case Role::look:
        return lookName(lookOf(item));
    case Role::isSelected:
        return item == m_selected;
    case Role::isHovered:
        return m_hovered == item;
    case Role::screen:
        return screenFor(item);
    }
    return {};
}

QHash<int, QByteArray> NavigationModel::roleNames() const
{
    return {
        {static_cast<int>(Role::item), "item"},
        {static_cast<int>(Role::title), "title"},
        {static_cast<int>(Role::subtitle), "subtitle"},
        {static_cast<int>(Role::symbol), "symbol"},
        {static_cast<int>(Role::accent), "accent"},
        {static_cast<int>(Role::look), "look"},
        {static_cast<int>(Role::isSelected), "isSelected"},
        {static_cast<int>(Role::isHovered), "isHovered"},
        {static_cast<int>(Role::screen), "screen"},
    };
}

void NavigationModel::setSelectedNav(NavigationItem item)
{
    if (item == m_selected)
        return;
    const NavigationItem previous = m_selected;
    m_selected = item;
    // The screen left takes its warning with it; the new one sets its own.
    setPending(std::nullopt);
    setLeaveWarning(QString());
    rowChanged(previous);
    rowChanged(item);
    Q_EMIT selectedNavChanged();
}

void NavigationModel::setLeaveWarning(const QString &warning)
{
    if (warning == m_leaveWarning)
        return;
    m_leaveWarning = warning;
    Q_EMIT leaveWarningChanged();
    // Nothing left to lose (the scan was stopped and cleared meanwhile): the
    // question is moot.
    if (m_leaveWarning.isEmpty()) {
        setPending(std::nullopt);
        setQuitPending(false);
    }
}

void NavigationModel::setQuitPending(bool pending)
{
    if (pending == m_quitPending)
        return;
    m_quitPending = pending;
    Q_EMIT quitPendingChanged();
}

bool NavigationModel::mayClose()
{
    if (m_leaveWarning.isEmpty() || m_quitConfirmed)
        return true;
    setPending(std::nullopt);
    setQuitPending(true);
    return false;
}

void NavigationModel::setPending(std::optional<NavigationItem> item)
{
    if (item == m_pending)
        return;
    m_pending = item;
    Q_EMIT pendingNavChanged();
}

void NavigationModel::confirmLeave()
{
    if (m_quitPending) {
        m_quitConfirmed = true;
        setQuitPending(false);
        Q_EMIT quitConfirmed();
    } else if (const std::optional<NavigationItem> item = m_pending) {
        setSelectedNav(*item);
    }
}

void NavigationModel::cancelLeave()
{
    setPending(std::nullopt);
    setQuitPending(false);
}

int NavigationModel::hoveredItemValue() const
{
    return m_hovered ? static_cast<int>(*m_hovered) : -1;
}

void NavigationModel::setShowingAbout(bool showing)
{
    if (showing == m_showingAbout)
        return;
    m_showingAbout = showing;
    Q_EMIT showingAboutChanged();
}

NavigationModel::RowLook NavigationModel::lookOf(NavigationItem item) const
{
    if (item == m_selected)
        return RowLook::selected;
    if (m_hovered == item)
        return RowLook::hovered;
    return RowLook::plain;
}

QString NavigationModel::screenFor(NavigationItem item)
{
    return QString::fromLatin1(screenFiles[static_cast<int>(item)]);
}

void NavigationModel::select(int item)
{
    const auto parsed = itemFromValue(item);
    if (!parsed || *parsed == m_selected)
        return;
    if (m_leaveWarning.isEmpty()) {
        setSelectedNav(*parsed);
    } else {
        setQuitPending(false);
        setPending(parsed);
    }
}

void NavigationModel::hoverEntered(int item)
{
    if (const auto parsed = itemFromValue(item))
        setHovered(parsed);
}

void NavigationModel::hoverExited(int item)
{
    const auto parsed = itemFromValue(item);
    if (parsed && m_hovered == parsed)
        setHovered(std::nullopt);
}

void NavigationModel::setHovered(std::optional<NavigationItem> item)
{
    if (item == m_hovered)
        return;
    const std::optional<NavigationItem> previous = m_hovered;
    m_hovered = item;
    if (previous)
        rowChanged(*previous);
    if (item)
        rowChanged(*item);
    Q_EMIT hoveredItemChanged();
}

void NavigationModel::rowChanged(NavigationItem item)
{
    const QModelIndex changed = index(static_cast<int>(item));
    Q_EMIT dataChanged(changed, changed, {static_cast<int>(Role::look), static_cast<int>(Role::isSelected), static_cast<int>(Role::isHovered)});
}
