#pragma once

#include <QSortFilterProxyModel>

class CarvedFileModel;

// The rows a Deep Scan list shows: every hit except, until the user asks for
// them, the ones a structure walk refused. Random data and crafted inputs
// give such matches by the thousand, and they would bury the real files.
// Rows keep the source's order and roles; hits not yet checked are shown.
class CarvedFileFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT
    Q_PROPERTY(bool showUnverified READ showUnverified WRITE setShowUnverified NOTIFY showUnverifiedChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    explicit CarvedFileFilterModel(CarvedFileModel *source, QObject *parent = nullptr);

    bool showUnverified() const { return m_showUnverified; }
    void setShowUnverified(bool show);
    int count() const { return rowCount(); }
    // The source model's row of a shown row, or -1.
    Q_INVOKABLE int sourceRow(int row) const;

Q_SIGNALS:
    void showUnverifiedChanged();
    void countChanged();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    CarvedFileModel *m_source;
    bool m_showUnverified = false;
};
