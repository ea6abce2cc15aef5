#pragma once

#include <QAbstractListModel>
#include <QCollator>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSortFilterProxyModel>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <optional>

#include "model/records.h"

class TrashItemModel;
class TrashRecoveryService;

// The orders the Trash list offers, in menu order.
namespace TrashSort {
Q_NAMESPACE
enum class Order { dateDesc, dateAsc, sizeDesc, sizeAsc, nameAsc };
Q_ENUM_NS(Order)
} // namespace TrashSort

// The menu text of an order ("Newest First", ...).
QString sortOrderText(TrashSort::Order order);

// The displayed list: the service's items of one category (all of them for
// `all`) whose name contains the search text, ignoring case in the user's
// locale, in the chosen order. Every order is stable: items that compare
// equal keep their order in the service's list (newest first). Dates that are
// unknown count as the earliest; names compare as the user's locale sorts
// them.
class TrashItemProxy : public QSortFilterProxyModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)

public:
    explicit TrashItemProxy(QObject *parent = nullptr);

    void setItems(TrashItemModel *items);
    void setCategory(FileCategory category);
    void setSearchText(const QString &text);
    void setOrder(TrashSort::Order order);
    // Answers the isSelected role.
    void setSelectionTest(std::function<bool(const TrashItem &)> isSelected);
    // Tells views that the isSelected role changed for these items (all rows
    // when empty).
    void selectionChanged(const QList<QUuid> &ids = {});

    const TrashItem &itemAt(int row) const;
    QList<TrashItem> displayedItems() const;

    QVariant data(const QModelIndex &index, int role) const override;

Q_SIGNALS:
    void countChanged();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    TrashItemModel *m_items = nullptr;
    FileCategory m_category = FileCategory::all;
    QString m_search;
    TrashSort::Order m_order = TrashSort::Order::dateDesc;
    QCollator m_collator;
    QLocale m_locale;
    std::function<bool(const TrashItem &)> m_isSelected;
};

// One chip per file category, in category order, with its count over all
// of the service's items (the search does not change it).
class CategoryChipModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum class Role {
        category = Qt::UserRole + 1, // FileCategory value
        name,
        icon,
        accentName, // palette name of the category colour
        count,
        isSelected, // the chip that is on
    };
    Q_ENUM(Role)

    explicit CategoryChipModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    void setCounts(const QList<TrashItem> &items);
    void setSelected(FileCategory category);
    int countOf(FileCategory category) const;

private:
    QHash<FileCategory, int> m_counts;
    FileCategory m_selected = FileCategory::all;
};

// The state of the Trash Recovery screen: filter, search, order and the
// selection, the stats of the header and what the recover actions do. QML
// lays it out and calls it; everything that decides lives here.
class TrashScreen : public QObject
{
    Q_OBJECT
    Q_PROPERTY(TrashRecoveryService *service READ service WRITE setService NOTIFY serviceChanged)
    Q_PROPERTY(TrashItemProxy *displayedItems READ displayedItems CONSTANT)
    Q_PROPERTY(CategoryChipModel *categories READ categories CONSTANT)
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    // A FileCategory value; `all` shows every item.
    Q_PROPERTY(int selectedCategory READ selectedCategory WRITE setSelectedCategory NOTIFY selectedCategoryChanged)
    Q_PROPERTY(TrashSort::Order sortOrder READ sortOrder WRITE setSortOrder NOTIFY sortOrderChanged)
    Q_PROPERTY(QStringList sortOrderNames READ sortOrderNames CONSTANT)
    // Header stats over all items, whatever the filter shows.
    Q_PROPERTY(int fileCount READ fileCount NOTIFY itemsChanged)
    Q_PROPERTY(QString totalSizeText READ totalSizeText NOTIFY itemsChanged)
    Q_PROPERTY(int selectedCount READ selectedCount NOTIFY selectionChanged)
    Q_PROPERTY(int displayedCount READ displayedCount NOTIFY displayedChanged)
    // The header checkbox: every displayed item is selected.
    Q_PROPERTY(bool allDisplayedSelected READ allDisplayedSelected NOTIFY selectionChanged)
    Q_PROPERTY(bool canRecover READ canRecover NOTIFY selectionChanged)
    // Every selected item knows where it was deleted from.
    Q_PROPERTY(bool canRestoreToOriginal READ canRestoreToOriginal NOTIFY selectionChanged)
    // Ask before restoring (the user's preference).
    Q_PROPERTY(bool confirmBeforeRecover READ confirmBeforeRecover WRITE setConfirmBeforeRecover NOTIFY confirmBeforeRecoverChanged)
    Q_PROPERTY(bool isConfirming READ isConfirming NOTIFY confirmationChanged)
    Q_PROPERTY(QString confirmationText READ confirmationText NOTIFY confirmationChanged)
    Q_PROPERTY(bool showRecoverAlert READ showRecoverAlert NOTIFY recoverResultChanged)
    // "Recovered: N files\nFailed: M files", empty when there is no result.
    Q_PROPERTY(QString recoverResultText READ recoverResultText NOTIFY recoverResultChanged)
    Q_PROPERTY(bool recoverHadFailures READ recoverHadFailures NOTIFY recoverResultChanged)

public:
    explicit TrashScreen(QObject *parent = nullptr);

    TrashRecoveryService *service() const { return m_service; }
    void setService(TrashRecoveryService *service);
    TrashItemProxy *displayedItems() const { return m_proxy; }
    CategoryChipModel *categories() const { return m_chips; }

    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    int selectedCategory() const { return int(m_category); }
    void setSelectedCategory(int category);
    TrashSort::Order sortOrder() const { return m_order; }
    void setSortOrder(TrashSort::Order order);
    QStringList sortOrderNames() const;

    int fileCount() const;
    QString totalSizeText() const;
    int selectedCount() const { return int(m_selection.size()); }
    int displayedCount() const { return m_proxy->rowCount(); }
    bool allDisplayedSelected() const;
    bool canRecover() const { return !m_selection.isEmpty(); }
    bool canRestoreToOriginal() const;
    bool confirmBeforeRecover() const { return m_confirmBeforeRecover; }
    void setConfirmBeforeRecover(bool confirm);
    bool isConfirming() const { return m_pending.has_value(); }
    QString confirmationText() const;
    bool showRecoverAlert() const { return m_result.has_value(); }
    QString recoverResultText() const;
    bool recoverHadFailures() const { return m_result && m_result->failed > 0; }

    // The selected records, in the order of the service's list.
    QList<TrashItem> selectedItems() const;
    Q_INVOKABLE bool isSelected(const QString &id) const;

    // A row or its checkbox: the item goes in or out of the selection.
    Q_INVOKABLE void toggle(const QString &id);
    // The header checkbox: empties the selection when every displayed item is
    // in it, else makes it exactly the displayed items.
    Q_INVOKABLE void toggleAll();
    Q_INVOKABLE void clearSelection();
    Q_INVOKABLE void scan();
    // The folder dialog's choice; an empty URL does nothing. Asks first when
    // the preference says so.
    Q_INVOKABLE void recoverTo(const QUrl &folder);
    Q_INVOKABLE void restoreToOriginal();
    Q_INVOKABLE void confirm();
    Q_INVOKABLE void cancelConfirmation();
    // The alert's "OK".
    Q_INVOKABLE void dismissAlert();
    // Where the folder dialog opens: the preferred recovery folder when set.
    Q_INVOKABLE QUrl dialogFolder(const QString &preferredPath) const;

Q_SIGNALS:
    void serviceChanged();
    void searchTextChanged();
    void selectedCategoryChanged();
    void sortOrderChanged();
    void itemsChanged();
    void selectionChanged();
    void displayedChanged();
    void confirmBeforeRecoverChanged();
    void confirmationChanged();
    void recoverResultChanged();

private:
    struct PendingRestore {
        std::optional<QString> folder; // absent: to the original locations
    };
    struct RecoverResult {
        int success = 0;
        int failed = 0;
    };

    void itemsReplaced();
    void startRestore(const PendingRestore &restore);
    void recoveryFinished(int success, int failed);

    QPointer<TrashRecoveryService> m_service;
    TrashItemProxy *m_proxy;
    CategoryChipModel *m_chips;
    QString m_searchText;
    FileCategory m_category = FileCategory::all;
    TrashSort::Order m_order = TrashSort::Order::dateDesc;
    QHash<QUuid, TrashItem> m_selection;
    bool m_confirmBeforeRecover = false;
    std::optional<PendingRestore> m_pending;
    std::optional<RecoverResult> m_result;
    QList<QMetaObject::Connection> m_serviceConnections;
};
