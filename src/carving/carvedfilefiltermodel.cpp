#include "carving/carvedfilefiltermodel.h"

#include "carving/carvedfilemodel.h"

CarvedFileFilterModel::CarvedFileFilterModel(CarvedFileModel *source, QObject *parent)
    : QSortFilterProxyModel(parent)
    , m_source(source)
{
    setSourceModel(source);
    // A row's verification is fixed when it is added; only the matching
    // changes rows afterwards, and not in a way that moves them in or out.
    setDynamicSortFilter(false);
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(this, signal, this, &CarvedFileFilterModel::countChanged);
    connect(this, &QAbstractItemModel::modelReset, this, &CarvedFileFilterModel::countChanged);
    connect(this, &QAbstractItemModel::layoutChanged, this, &CarvedFileFilterModel::countChanged);
}

void CarvedFileFilterModel::setShowUnverified(bool show)
{
    if (m_showUnverified == show)
        return;
    m_showUnverified = show;
    invalidateRowsFilter();
    Q_EMIT showUnverifiedChanged();
    Q_EMIT countChanged();
}

int CarvedFileFilterModel::sourceRow(int row) const
{
    const QModelIndex shown = mapToSource(index(row, 0));
    return shown.isValid() ? shown.row() : -1;
}

bool CarvedFileFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    return m_showUnverified || !m_source->isUnverifiedAt(sourceRow);
}
