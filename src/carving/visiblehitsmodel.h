#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QPointer>

#include <vector>

#include "carving/carvedfilemodel.h"

// Which hits the results list leaves out. Each flag hides one kind of hit; a
// further kind is one more flag here and one more test in accepts(), and the
// list picks it up through VisibleHitsModel::setFilter().
struct HitFilter {
    bool hideExisting = true;
    // Matches a structure walk refused: junk far more often than a file.
    bool hideUnverified = true;

    bool accepts(const CarvedFile &file) const
    {
        return !(hideExisting && file.recoveryStatus == RecoveryStatus::existing)
            && !(hideUnverified && file.verification.isUnverified());
    }
    friend bool operator==(const HitFilter &, const HitFilter &) = default;
};

// The hits of a CarvedFileModel that the results list shows, in list order,
// with the user's selection over them.
//
// Built for a million hits: appends are filtered batch by batch; a change of
// the filter, or a hit that the filter now takes in or leaves out, rebuilds the
// rows in one pass (changes made in one go, such as the matching marking every
// hit, are gathered into one rebuild on the next turn of the event loop).
//
// The selection is one mark per hit of the scan, by its row in the source
// list: that list only grows during a scan and is replaced as a whole after
// it, so a row names one hit for as long as the selection lasts (a reset
// clears it). Selecting or clearing all is one pass over a byte per hit and
// one change signal; a set of a million ids takes tens of times longer to
// fill.
//
// Whether a hit can be recovered costs a file-system check for a hit without
// bytes. It is asked only when needed (a row is shown or counted for
// select-all) and kept; a tap asks again, since a source file can be deleted
// after its row was drawn, and passes a changed answer on to the row.
class VisibleHitsModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)
    // Shown hits whose recovery status is deleted.
    Q_PROPERTY(int deletedCount READ deletedCount NOTIFY countChanged)
    Q_PROPERTY(int selectedCount READ selectedCount NOTIFY selectionChanged)
    // The select-all box: some hits are selectable and as many are selected.
    Q_PROPERTY(bool allSelectableSelected READ allSelectableSelected NOTIFY selectionChanged)

public:
    // Every role of CarvedFileModel, with canRecover answered from the cache,
    // and one of its own. Kept clear of the source's numbers so that a role
    // added there never collides.
    enum class Role {
        isSelected = Qt::UserRole + 1000,
    };
    Q_ENUM(Role)

    explicit VisibleHitsModel(CarvedFileModel *source, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const HitFilter &filter() const { return m_filter; }
    void setFilter(const HitFilter &filter);

    int deletedCount() const { return m_deletedCount; }
    // The source row behind a shown row.
    int sourceRow(int row) const { return m_rows.at(row); }
    // Built on request: the source keeps unverified hits compactly.
    CarvedFile fileAt(int row) const { return m_source->at(m_rows.at(row)); }

    // The hit has bytes, or its source file exists (checked once per scan).
    Q_INVOKABLE bool canRecover(int row);
    // Shown hits that can be recovered and do not exist any more; these are
    // what select-all selects.
    int selectableCount();

    int selectedCount() const { return m_selectedCount; }
    bool allSelectableSelected();
    // Toggles a shown hit; does nothing (false) when it can't be recovered and
    // is not selected.
    Q_INVOKABLE bool toggle(int row);
    // Selects exactly the selectable hits.
    Q_INVOKABLE void selectAll();
    Q_INVOKABLE void clearSelection();
    // The select-all box: clears when all are selected, else selects all.
    Q_INVOKABLE void toggleAll();

    // The selected hits, shown or not, as rows of the source list, ascending.
    QList<int> selectedSourceRows() const;
    bool isSourceRowSelected(int sourceRow) const;
    // Selects exactly these source rows.
    void setSelectedSourceRows(const QList<int> &rows);
    // Changes whenever the source list is replaced; rows taken before name
    // other hits (or none) once it has changed.
    quint64 generation() const { return m_generation; }

Q_SIGNALS:
    void countChanged();
    void selectionChanged();

private:
    enum Flag : quint8 {
        accepted = 1,
        deleted = 2,
        recoverableKnown = 4,
        recoverable = 8,
        selected = 16,
    };
    // What stays with a hit when the filter is applied again.
    static constexpr quint8 kept = recoverableKnown | recoverable | selected;

    quint8 classify(const CarvedFile &file) const;
    bool recoverableAt(int sourceRow) const;
    // Asks the file system again; true when the answer differs from the one kept.
    bool refreshRecoverable(int sourceRow);
    void rebuild();
    void scheduleRebuild();
    void sourceRowsInserted(const QModelIndex &parent, int first, int last);
    void sourceDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight, const QList<int> &roles);
    void sourceReset();
    void emitSelectionShown();
    void clearMarks();

    QPointer<CarvedFileModel> m_source;
    HitFilter m_filter;
    // Source rows shown, ascending.
    QList<int> m_rows;
    // One set of Flags per source row; the recoverable bits are a cache that
    // reading a row fills.
    mutable std::vector<quint8> m_flags;
    int m_selectedCount = 0;
    quint64 m_generation = 0;
    int m_deletedCount = 0;
    int m_selectableCount = -1; // -1: to be counted
    bool m_rebuildPending = false;
};
