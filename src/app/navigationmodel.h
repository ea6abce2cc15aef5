#pragma once

#include <QAbstractListModel>
#include <QtQml/qqmlregistration.h>

#include <memory>
#include <optional>

#include "model/recoveryenums.h"

class Platform;

// The window's own state: which sidebar destination is selected, which row the
// pointer is over, and whether the About sheet is open. The rows are the
// NavigationItem cases in enumeration order; each row carries its texts, icon,
// colour and the look the sidebar draws it with.
class NavigationModel : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(Recovery::NavigationItem selectedNav READ selectedNav WRITE setSelectedNav NOTIFY selectedNavChanged)
    // The hovered row's NavigationItem, or -1 while the pointer is over none.
    Q_PROPERTY(int hoveredItem READ hoveredItemValue NOTIFY hoveredItemChanged)
    Q_PROPERTY(bool showingAbout READ showingAbout WRITE setShowingAbout NOTIFY showingAboutChanged)
    // File name of the screen of selectedNav, relative to MainView.qml.
    Q_PROPERTY(QString selectedScreen READ selectedScreen NOTIFY selectedNavChanged)
    Q_PROPERTY(int count READ count CONSTANT)
    // What leaving the shown screen would lose, in a sentence the window asks
    // the user to confirm (a long scan's results); empty: it is left at once.
    // The shown screen keeps it current.
    Q_PROPERTY(QString leaveWarning READ leaveWarning WRITE setLeaveWarning NOTIFY leaveWarningChanged)
    // The destination chosen while a warning stood, waiting for that
    // confirmation; -1 when none is.
    Q_PROPERTY(int pendingNav READ pendingNavValue NOTIFY pendingNavChanged)
    // Closing the window while a warning stands waits for the same answer.
    Q_PROPERTY(bool quitPending READ quitPending NOTIFY quitPendingChanged)

public:
    enum class Role {
        item = Qt::UserRole + 1,
        title,
        subtitle,
        symbol,
        accent,
        look,
        isSelected,
        isHovered,
        screen,
    };

    // How a row is drawn. Selection wins over hover.
    enum class RowLook { plain, hovered, selected };
    Q_ENUM(RowLook)

    // Texts that name a system facility come from `platform`; without one,
    // from the running system's.
    explicit NavigationModel(QObject *parent = nullptr);
    explicit NavigationModel(std::shared_ptr<Platform> platform, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    int count() const { return rowCount(); }

    NavigationItem selectedNav() const { return m_selected; }
    void setSelectedNav(NavigationItem item);
    std::optional<NavigationItem> hoveredItem() const { return m_hovered; }
    int hoveredItemValue() const;
    bool showingAbout() const { return m_showingAbout; }
    void setShowingAbout(bool showing);
    QString selectedScreen() const { return screenFor(m_selected); }

    RowLook lookOf(NavigationItem item) const;
    // The look as the sidebar's state name: "plain", "hovered" or "selected".
    static QString lookName(RowLook look);

    // The screen file each destination shows.
    static QString screenFor(NavigationItem item);

    QString leaveWarning() const { return m_leaveWarning; }
    void setLeaveWarning(const QString &warning);
    int pendingNavValue() const { return m_pending ? static_cast<int>(*m_pending) : -1; }

    // Called by the sidebar rows. Values outside the enumeration are ignored.
    // While the shown screen has a leave warning, the choice waits in
    // pendingNav for confirmLeave() or cancelLeave().
    Q_INVOKABLE void select(int item);
    Q_INVOKABLE void confirmLeave();
    Q_INVOKABLE void cancelLeave();
    bool quitPending() const { return m_quitPending; }
    // Asked when the window is about to close: true when it may; else the
    // question is asked and quitConfirmed() follows a yes.
    Q_INVOKABLE bool mayClose();
    Q_INVOKABLE void hoverEntered(int item);
    // Clears the hover only when it still belongs to `item`, so an exit that
    // arrives after the next row's entry does not wipe that row's hover.
    Q_INVOKABLE void hoverExited(int item);
    Q_INVOKABLE void toggleAbout() { setShowingAbout(!m_showingAbout); }

Q_SIGNALS:
    void selectedNavChanged();
    void hoveredItemChanged();
    void showingAboutChanged();
    void leaveWarningChanged();
    void pendingNavChanged();
    void quitPendingChanged();
    void quitConfirmed();

private:
    void setPending(std::optional<NavigationItem> item);
    void setQuitPending(bool pending);
    void setHovered(std::optional<NavigationItem> item);
    void rowChanged(NavigationItem item);

    NavigationItem m_selected = NavigationItem::trashRecovery;
    std::optional<NavigationItem> m_hovered;
    bool m_showingAbout = false;
    QString m_leaveWarning;
    std::optional<NavigationItem> m_pending;
    bool m_quitPending = false;
    bool m_quitConfirmed = false;
    std::shared_ptr<Platform> m_platform;
};
