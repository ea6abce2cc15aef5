#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

#include "snapshots/snapshotbrowser.h"
#include "snapshots/snapshotentry.h"
#include "snapshots/snapshotservice.h"

class AppSettings;

// The choices made on the Snapshots screen: which snapshot the detail pane
// shows, and whether its files are being browsed. The chosen snapshot is a
// copy of its record, so it stays after a refresh even though the new
// listing has records of its own (no row then matches it).
class SnapshotScreen : public QObject
{
    Q_OBJECT
    Q_PROPERTY(SnapshotService *service READ service WRITE setService NOTIFY serviceChanged)
    Q_PROPERTY(SnapshotBrowser *browser READ browser CONSTANT)
    Q_PROPERTY(bool hasSelection READ hasSelection NOTIFY selectionChanged)
    // The chosen record's id; the row with this id is drawn highlighted.
    Q_PROPERTY(QString selectedId READ selectedId NOTIFY selectionChanged)
    Q_PROPERTY(QString selectedName READ selectedName NOTIFY selectionChanged)
    Q_PROPERTY(QString selectedDate READ selectedDate NOTIFY selectionChanged)
    Q_PROPERTY(QString selectedUuid READ selectedUuid NOTIFY selectionChanged)
    Q_PROPERTY(QString selectedKind READ selectedKind NOTIFY selectionChanged)
    // "Volume: NAME • Device: DEVICE".
    Q_PROPERTY(QString volumeLine READ volumeLine NOTIFY selectionChanged)
    // Where its files are, when they can be browsed.
    Q_PROPERTY(QString selectedFolder READ selectedFolder NOTIFY selectionChanged)
    Q_PROPERTY(bool canBrowse READ canBrowse NOTIFY selectionChanged)
    // How to reach a snapshot that can't be browsed here; empty otherwise.
    Q_PROPERTY(QString manualAccessNote READ manualAccessNote NOTIFY selectionChanged)
    Q_PROPERTY(bool isBrowsing READ isBrowsing NOTIFY isBrowsingChanged)

public:
    explicit SnapshotScreen(QObject *parent = nullptr);
    // `settings` decide where the restore dialog opens and whether a restore
    // is confirmed; the shared ones when null.
    explicit SnapshotScreen(AppSettings *settings, QObject *parent = nullptr);

    SnapshotService *service() const { return m_service; }
    void setService(SnapshotService *service);
    SnapshotBrowser *browser() const { return m_browser; }
    bool hasSelection() const { return m_selected.has_value(); }
    QString selectedId() const;
    QString selectedName() const;
    QString selectedDate() const;
    QString selectedUuid() const;
    QString selectedKind() const;
    QString volumeLine() const;
    QString selectedFolder() const;
    bool canBrowse() const;
    QString manualAccessNote() const;
    bool isBrowsing() const { return m_isBrowsing; }

    // `row` of the service's list.
    Q_INVOKABLE void select(int row);
    Q_INVOKABLE void browseSelected();
    Q_INVOKABLE void stopBrowsing();

Q_SIGNALS:
    void serviceChanged();
    void selectionChanged();
    void isBrowsingChanged();

private:
    QPointer<SnapshotService> m_service;
    SnapshotBrowser *m_browser;
    std::optional<SnapshotEntry> m_selected;
    bool m_isBrowsing = false;
};
