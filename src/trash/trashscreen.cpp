#include "trashscreen.h"

#include <algorithm>

#include <QDir>
#include <QSet>
#include <QStandardPaths>

#include "model/bytecount.h"
#include "trash/trashitemmodel.h"
#include "trash/trashrecoveryservice.h"

using namespace Qt::Literals::StringLiterals;

QString sortOrderText(TrashSort::Order order)
{
    switch (order) {
    case TrashSort::Order::dateDesc:
        return u"Newest First"_s;
    case TrashSort::Order::dateAsc:
        return u"Oldest First"_s;
    case TrashSort::Order::sizeDesc:
        return u"Largest First"_s;
    case TrashSort::Order::sizeAsc:
        return u"Smallest First"_s;
    case TrashSort::Order::nameAsc:
        return u"Name A-Z"_s;
    }
    return {};
}

TrashItemProxy::TrashItemProxy(QObject *parent)
    : QSortFilterProxyModel(parent)
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    m_collator.setNumericMode(true);
    connect(this, &QAbstractItemModel::rowsInserted, this, &TrashItemProxy::countChanged);
    connect(this, &QAbstractItemModel::rowsRemoved, this, &TrashItemProxy::countChanged);
    connect(this, &QAbstractItemModel::modelReset, this, &TrashItemProxy::countChanged);
    connect(this, &QAbstractItemModel::layoutChanged, this, &TrashItemProxy::countChanged);
}

void TrashItemProxy::setItems(TrashItemModel *items)
{
    m_items = items;
    setSourceModel(items);
    sort(0);
}

void TrashItemProxy::setCategory(FileCategory category)
{
    if (m_category == category)
        return;
    m_category = category;
    invalidateFilter();
}

void TrashItemProxy::setSearchText(const QString &text)
{
    const QString folded = m_locale.toLower(text);
    if (m_search == folded)
        return;
    m_search = folded;
    invalidateFilter();
}

void TrashItemProxy::setOrder(TrashSort::Order order)
{
    if (m_order == order)
        return;
    m_order = order;
    invalidate();
}

void TrashItemProxy::setSelectionTest(std::function<bool(const TrashItem &)> isSelected)
{
    m_isSelected = std::move(isSelected);
}

void TrashItemProxy::selectionChanged(const QList<QUuid> &ids)
{
    const int role = int(TrashItemModel::Role::isSelected);
    const int rows = rowCount();
    if (ids.isEmpty()) {
        if (rows > 0)
            Q_EMIT dataChanged(index(0, 0), index(rows - 1, 0), {role});
        return;
    }
    for (int row = 0; row < rows; ++row) {
        if (ids.contains(itemAt(row).id))
            Q_EMIT dataChanged(index(row, 0), index(row, 0), {role});
    }
}

const TrashItem &TrashItemProxy::itemAt(int row) const
{
    return m_items->at(mapToSource(index(row, 0)).row());
}

QList<TrashItem> TrashItemProxy::displayedItems() const
{
    QList<TrashItem> shown;
    const int rows = rowCount();
    shown.reserve(rows);
    for (int row = 0; row < rows; ++row)
        shown.append(itemAt(row));
    return shown;
}

QVariant TrashItemProxy::data(const QModelIndex &index, int role) const
{
    if (role == int(TrashItemModel::Role::isSelected) && index.isValid())
        return m_isSelected && m_isSelected(itemAt(index.row()));
    return QSortFilterProxyModel::data(index, role);
}

bool TrashItemProxy::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    const TrashItem &item = m_items->at(sourceRow);
    if (m_category != FileCategory::all && item.category != m_category)
        return false;
    return m_search.isEmpty() || m_locale.toLower(item.fileName).contains(m_search);
}

bool TrashItemProxy::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    const TrashItem &a = m_items->at(left.row());
    const TrashItem &b = m_items->at(right.row());
    // An unknown date is the earliest possible one.
    const auto dateOrder = [](const TrashItem &x, const TrashItem &y) {
        if (!x.deletedDate || !y.deletedDate)
            return int(x.deletedDate.has_value()) - int(y.deletedDate.has_value());
        return *x.deletedDate < *y.deletedDate ? -1 : (*y.deletedDate < *x.deletedDate ? 1 : 0);
    };
    int order = 0;
    switch (m_order) {
    case TrashSort::Order::dateDesc:
        order = -dateOrder(a, b);
        break;
    case TrashSort::Order::dateAsc:
        order = dateOrder(a, b);
        break;
    case TrashSort::Order::sizeDesc:
        order = a.fileSize > b.fileSize ? -1 : (a.fileSize < b.fileSize ? 1 : 0);
        break;
    case TrashSort::Order::sizeAsc:
        order = a.fileSize < b.fileSize ? -1 : (a.fileSize > b.fileSize ? 1 : 0);
        break;
    case TrashSort::Order::nameAsc:
        order = m_collator.compare(a.fileName, b.fileName);
        break;
    }
    // Ties go by the service's order (newest first) explicitly, rather than
    // on how the proxy happens to arrange rows before it sorts them.
    return order != 0 ? order < 0 : left.row() < right.row();
}

CategoryChipModel::CategoryChipModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int CategoryChipModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(allFileCategories().size());
}

QVariant CategoryChipModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const FileCategory category = allFileCategories().at(index.row());
    switch (Role(role)) {
    case Role::category:
        return int(category);
    case Role::name:
        return rawValue(category);
    case Role::icon:
        return icon(category);
    case Role::accentName:
        return paletteName(color(category));
    case Role::count:
        return countOf(category);
    case Role::isSelected:
        return category == m_selected;
    }
    return {};
}

QHash<int, QByteArray> CategoryChipModel::roleNames() const
{
    static const QHash<int, QByteArray> names = {
        {int(Role::category), "category"}, {int(Role::name), "name"},   {int(Role::icon), "icon"},
        {int(Role::accentName), "accentName"},       {int(Role::count), "count"}, {int(Role::isSelected), "isSelected"},
    };
    return names;
}

void CategoryChipModel::setCounts(const QList<TrashItem> &items)
{
    m_counts.clear();
    m_counts.insert(FileCategory::all, int(items.size()));
    for (const TrashItem &item : items)
        ++m_counts[item.category];
    Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, 0), {int(Role::count)});
}

void CategoryChipModel::setSelected(FileCategory category)
{
    if (m_selected == category)
        return;
    m_selected = category;
    Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, 0), {int(Role::isSelected)});
}

int CategoryChipModel::countOf(FileCategory category) const
{
    return m_counts.value(category, 0);
}

TrashScreen::TrashScreen(QObject *parent)
    : QObject(parent)
    , m_proxy(new TrashItemProxy(this))
    , m_chips(new CategoryChipModel(this))
{
    m_proxy->setSelectionTest([this](const TrashItem &item) { return m_selection.contains(item.id); });
    connect(m_proxy, &TrashItemProxy::countChanged, this, [this] {
        Q_EMIT displayedChanged();
        Q_EMIT selectionChanged();
    });
}

void TrashScreen::setService(TrashRecoveryService *service)
{
    if (m_service == service)
        return;
    for (const QMetaObject::Connection &connection : std::as_const(m_serviceConnections))
        disconnect(connection);
    m_serviceConnections.clear();
    m_service = service;
    m_proxy->setItems(service ? service->items() : nullptr);
    if (service) {
        m_serviceConnections = {
            connect(service->items(), &QAbstractItemModel::modelReset, this, &TrashScreen::itemsReplaced),
            connect(service, &TrashRecoveryService::isScanningChanged, this, &TrashScreen::itemsReplaced),
            connect(service, &TrashRecoveryService::recoveryFinished, this, &TrashScreen::recoveryFinished),
        };
    }
    itemsReplaced();
    Q_EMIT serviceChanged();
}

void TrashScreen::setSearchText(const QString &text)
{
    if (m_searchText == text)
        return;
    m_searchText = text;
    m_proxy->setSearchText(text);
    Q_EMIT searchTextChanged();
}

void TrashScreen::setSelectedCategory(int category)
{
    const std::optional<FileCategory> chosen = [&]() -> std::optional<FileCategory> {
        for (const FileCategory c : allFileCategories()) {
            if (int(c) == category)
                return c;
        }
        return std::nullopt;
    }();
    if (!chosen || *chosen == m_category)
        return;
    m_category = *chosen;
    m_proxy->setCategory(m_category);
    m_chips->setSelected(m_category);
    Q_EMIT selectedCategoryChanged();
}

void TrashScreen::setSortOrder(TrashSort::Order order)
{
    if (m_order == order)
        return;
    m_order = order;
    m_proxy->setOrder(order);
    Q_EMIT sortOrderChanged();
}

QStringList TrashScreen::sortOrderNames() const
{
    QStringList names;
    for (const TrashSort::Order order : {TrashSort::Order::dateDesc, TrashSort::Order::dateAsc, TrashSort::Order::sizeDesc,
                                         TrashSort::Order::sizeAsc, TrashSort::Order::nameAsc})
        names.append(sortOrderText(order));
    return names;
}

int TrashScreen::fileCount() const
{
    return m_service ? m_service->items()->rowCount() : 0;
}

QString TrashScreen::totalSizeText() const
{
    qint64 total = 0;
    if (m_service) {
        for (const TrashItem &item : m_service->items()->items())
            total += item.fileSize;
    }
    return formatByteCount(total);
}

bool TrashScreen::allDisplayedSelected() const
{
    const int rows = m_proxy->rowCount();
    if (rows == 0 || m_selection.size() < rows)
        return false;
    for (int row = 0; row < rows; ++row) {
        if (!m_selection.contains(m_proxy->itemAt(row).id))
            return false;
    }
    return true;
}

bool TrashScreen::canRestoreToOriginal() const
{
    if (m_selection.isEmpty())
        return false;
    for (const TrashItem &item : m_selection) {
        if (!item.originalPath)
            return false;
    }
    return true;
}

void TrashScreen::setConfirmBeforeRecover(bool confirm)
{
    if (m_confirmBeforeRecover == confirm)
        return;
    m_confirmBeforeRecover = confirm;
    Q_EMIT confirmBeforeRecoverChanged();
}

QString TrashScreen::confirmationText() const
{
    if (!m_pending)
        return QString();
    const qsizetype count = m_selection.size();
    const QString items = QString::number(count) + (count == 1 ? u" item"_s : u" items"_s);
    if (!m_pending->folder)
        return u"Restore "_s + items + u" to where "_s + (count == 1 ? u"it was"_s : u"they were"_s) + u" deleted from?"_s;
    return u"Recover "_s + items + u" to "_s + QDir::toNativeSeparators(*m_pending->folder) + u"?"_s;
}

QString TrashScreen::recoverResultText() const
{
    if (!m_result)
        return QString();
    return u"Recovered: "_s + QString::number(m_result->success) + u" files\nFailed: "_s
        + QString::number(m_result->failed) + u" files"_s;
}

QList<TrashItem> TrashScreen::selectedItems() const
{
    QList<TrashItem> chosen;
    QHash<QUuid, TrashItem> rest = m_selection;
    if (m_service) {
        for (const TrashItem &item : m_service->items()->items()) {
            if (rest.remove(item.id))
                chosen.append(item);
        }
    }
    // Items not in the list (it is being scanned again) keep their records.
    for (const TrashItem &item : std::as_const(rest))
        chosen.append(item);
    return chosen;
}

bool TrashScreen::isSelected(const QString &id) const
{
    return m_selection.contains(QUuid::fromString(id));
}

void TrashScreen::toggle(const QString &id)
{
    const QUuid key = QUuid::fromString(id);
    if (m_selection.remove(key)) {
        m_proxy->selectionChanged({key});
        Q_EMIT selectionChanged();
        return;
    }
    if (!m_service)
        return;
    for (const TrashItem &item : m_service->items()->items()) {
        if (item.id == key) {
            m_selection.insert(key, item);
            m_proxy->selectionChanged({key});
            Q_EMIT selectionChanged();
            return;
        }
    }
}

void TrashScreen::toggleAll()
{
    const bool clear = allDisplayedSelected();
    m_selection.clear();
    if (!clear) {
        for (const TrashItem &item : m_proxy->displayedItems())
            m_selection.insert(item.id, item);
    }
    m_proxy->selectionChanged();
    Q_EMIT selectionChanged();
}

void TrashScreen::clearSelection()
{
    if (m_selection.isEmpty())
        return;
    m_selection.clear();
    m_proxy->selectionChanged();
    Q_EMIT selectionChanged();
}

void TrashScreen::scan()
{
    if (m_service)
        m_service->scanTrash();
}

void TrashScreen::recoverTo(const QUrl &folder)
{
    const QString path = folder.isLocalFile() ? folder.toLocalFile() : folder.path();
    if (path.isEmpty() || m_selection.isEmpty())
        return;
    const PendingRestore restore{path};
    if (!m_confirmBeforeRecover) {
        startRestore(restore);
        return;
    }
    m_pending = restore;
    Q_EMIT confirmationChanged();
}

void TrashScreen::restoreToOriginal()
{
    if (!canRestoreToOriginal())
        return;
    if (!m_confirmBeforeRecover) {
        startRestore({});
        return;
    }
    m_pending = PendingRestore{};
    Q_EMIT confirmationChanged();
}

void TrashScreen::confirm()
{
    if (!m_pending)
        return;
    const PendingRestore restore = *std::exchange(m_pending, std::nullopt);
    Q_EMIT confirmationChanged();
    startRestore(restore);
}

void TrashScreen::cancelConfirmation()
{
    if (!m_pending)
        return;
    m_pending.reset();
    Q_EMIT confirmationChanged();
}

void TrashScreen::dismissAlert()
{
    if (!m_result)
        return;
    m_result.reset();
    Q_EMIT recoverResultChanged();
}

QUrl TrashScreen::dialogFolder(const QString &preferredPath) const
{
    if (!preferredPath.isEmpty() && QDir(preferredPath).exists())
        return QUrl::fromLocalFile(preferredPath);
    return QUrl::fromLocalFile(QStandardPaths::writableLocation(QStandardPaths::HomeLocation));
}

void TrashScreen::startRestore(const PendingRestore &restore)
{
    if (!m_service)
        return;
    const QList<TrashItem> items = selectedItems();
    if (restore.folder)
        m_service->recoverItems(items, *restore.folder);
    else
        m_service->restoreToOriginalLocations(items);
}

void TrashScreen::recoveryFinished(int success, int failed)
{
    m_result = RecoverResult{success, failed};
    clearSelection();
    Q_EMIT recoverResultChanged();
}

void TrashScreen::itemsReplaced()
{
    const QList<TrashItem> items = m_service ? m_service->items()->items() : QList<TrashItem>();
    m_chips->setCounts(items);
    // A new scan makes new records: the selection follows the items that are
    // still there, found by their place in the Trash. While the scan runs the
    // list is empty and the selection waits for its result.
    if (m_service && !m_service->isScanning() && !m_selection.isEmpty()) {
        QSet<QUrl> selectedPaths;
        for (const TrashItem &item : std::as_const(m_selection))
            selectedPaths.insert(item.trashPath);
        QHash<QUuid, TrashItem> kept;
        for (const TrashItem &item : items) {
            if (selectedPaths.contains(item.trashPath))
                kept.insert(item.id, item);
        }
        const QList<QUuid> before = m_selection.keys();
        if (kept.size() != m_selection.size()
            || !std::all_of(before.begin(), before.end(), [&](const QUuid &id) { return kept.contains(id); })) {
            m_selection = std::move(kept);
            m_proxy->selectionChanged();
            Q_EMIT selectionChanged();
        }
    }
    Q_EMIT itemsChanged();
}
