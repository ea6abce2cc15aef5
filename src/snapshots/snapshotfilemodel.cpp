#include "snapshotfilemodel.h"

#include <QLocale>

#include "model/bytecount.h"

using namespace Qt::Literals::StringLiterals;

SnapshotFileModel::SnapshotFileModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int SnapshotFileModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_files.size());
}

QVariant SnapshotFileModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const SnapshotFile &file = m_files.at(index.row());
    switch (Role(role)) {
    case Role::name:
        return file.name;
    case Role::isDirectory:
        return file.isDirectory;
    case Role::isSymlink:
        return file.isSymlink;
    case Role::sizeText:
        return file.isDirectory || file.isSymlink ? u"--"_s : formatByteCount(file.size);
    case Role::modifiedText:
        return file.modified ? QLocale().toString(*file.modified, QLocale::ShortFormat) : u"Unknown"_s;
    case Role::icon:
        return file.isSymlink ? u"link"_s : icon(file.category);
    case Role::iconColor:
        return paletteName(file.isSymlink ? PaletteColor::textMuted : color(file.category));
    case Role::isSelected:
        return m_selected.value(index.row());
    case Role::comparisonText:
        switch (file.comparison) {
        case SnapshotComparison::notCompared:
            return QString();
        case SnapshotComparison::same:
            return u"Same"_s;
        case SnapshotComparison::changed:
            return u"Changed"_s;
        case SnapshotComparison::missing:
            return u"Missing"_s;
        case SnapshotComparison::present:
            return u"Present"_s;
        }
        return QString();
    case Role::comparisonColor:
        switch (file.comparison) {
        case SnapshotComparison::notCompared:
        case SnapshotComparison::same:
        case SnapshotComparison::present:
            return paletteName(PaletteColor::textMuted);
        case SnapshotComparison::changed:
            return paletteName(PaletteColor::neonOrange);
        case SnapshotComparison::missing:
            return paletteName(PaletteColor::neonGreen);
        }
        return QString();
    }
    return {};
}

QHash<int, QByteArray> SnapshotFileModel::roleNames() const
{
    static const QHash<int, QByteArray> names = {
        {int(Role::name), "name"},
        {int(Role::isDirectory), "isDirectory"},
        {int(Role::isSymlink), "isSymlink"},
        {int(Role::sizeText), "sizeText"},
        {int(Role::modifiedText), "modifiedText"},
        {int(Role::icon), "icon"},
        {int(Role::iconColor), "iconColor"},
        {int(Role::isSelected), "isSelected"},
        {int(Role::comparisonText), "comparisonText"},
        {int(Role::comparisonColor), "comparisonColor"},
    };
    return names;
}

void SnapshotFileModel::setFiles(QList<SnapshotFile> files, const QSet<QByteArray> &selectedNames)
{
    const bool countChanges = files.size() != m_files.size();
    beginResetModel();
    m_files = std::move(files);
    m_selected.clear();
    for (const SnapshotFile &file : std::as_const(m_files))
        m_selected.append(selectedNames.contains(file.rawName));
    endResetModel();
    if (countChanges)
        Q_EMIT countChanged();
}

void SnapshotFileModel::setComparison(int row, SnapshotComparison comparison)
{
    if (row < 0 || row >= m_files.size() || m_files[row].comparison == comparison)
        return;
    m_files[row].comparison = comparison;
    const QModelIndex at = index(row);
    Q_EMIT dataChanged(at, at, {int(Role::comparisonText), int(Role::comparisonColor)});
}

void SnapshotFileModel::setSelected(int row, bool selected)
{
    if (row < 0 || row >= m_selected.size() || m_selected[row] == selected)
        return;
    m_selected[row] = selected;
    const QModelIndex at = index(row);
    Q_EMIT dataChanged(at, at, {int(Role::isSelected)});
}

SnapshotFileFilter::SnapshotFileFilter(SnapshotFileModel *files, QObject *parent)
    : QSortFilterProxyModel(parent)
{
    setSourceModel(files);
    setFilterRole(int(SnapshotFileModel::Role::name));
    setFilterCaseSensitivity(Qt::CaseInsensitive);
    connect(this, &QAbstractItemModel::rowsInserted, this, &SnapshotFileFilter::countChanged);
    connect(this, &QAbstractItemModel::rowsRemoved, this, &SnapshotFileFilter::countChanged);
    connect(this, &QAbstractItemModel::modelReset, this, &SnapshotFileFilter::countChanged);
    connect(this, &QAbstractItemModel::layoutChanged, this, &SnapshotFileFilter::countChanged);
}

void SnapshotFileFilter::setSearchText(const QString &text)
{
    setFilterFixedString(text);
}

int SnapshotFileFilter::sourceRow(int row) const
{
    const QModelIndex shown = index(row, 0);
    return shown.isValid() ? mapToSource(shown).row() : -1;
}
