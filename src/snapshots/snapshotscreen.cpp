#include "snapshotscreen.h"

#include "snapshots/snapshotservice.h"
#include "system/platform.h"

using namespace Qt::Literals::StringLiterals;

SnapshotScreen::SnapshotScreen(QObject *parent)
    : SnapshotScreen(nullptr, parent)
{
}

SnapshotScreen::SnapshotScreen(AppSettings *settings, QObject *parent)
    : QObject(parent)
    , m_browser(new SnapshotBrowser(settings, this))
{
}

void SnapshotScreen::setService(SnapshotService *service)
{
    if (m_service == service)
        return;
    m_service = service;
    Q_EMIT serviceChanged();
}

QString SnapshotScreen::selectedId() const
{
    return m_selected ? m_selected->info.id.toString(QUuid::WithoutBraces) : QString();
}

QString SnapshotScreen::selectedName() const
{
    return m_selected ? m_selected->info.name : QString();
}

QString SnapshotScreen::selectedDate() const
{
    return m_selected ? m_selected->info.formattedDate() : QString();
}

QString SnapshotScreen::selectedUuid() const
{
    return m_selected ? m_selected->info.snapshotUUID : QString();
}

QString SnapshotScreen::selectedKind() const
{
    return m_selected ? snapshotKindName(m_selected->kind) : QString();
}

QString SnapshotScreen::volumeLine() const
{
    if (!m_selected)
        return QString();
    return u"Volume: "_s + m_selected->info.volumeName + u" • Device: "_s + m_selected->info.volumeDevice;
}

QString SnapshotScreen::selectedFolder() const
{
    return m_selected ? m_selected->folder : QString();
}

bool SnapshotScreen::canBrowse() const
{
    return m_selected && !m_selected->folder.isEmpty();
}

QString SnapshotScreen::manualAccessNote() const
{
    if (!m_selected || canBrowse() || !m_service)
        return QString();
    return m_service->platform().texts().snapshotManualAccessNote.arg(m_selected->manualCommand);
}

void SnapshotScreen::select(int row)
{
    if (!m_service)
        return;
    const std::optional<SnapshotEntry> entry = m_service->snapshots()->entryAt(row);
    if (!entry)
        return;
    m_selected = entry;
    Q_EMIT selectionChanged();
}

void SnapshotScreen::browseSelected()
{
    if (!canBrowse())
        return;
    QStringList protectedFolders;
    if (m_service) {
        for (const SnapshotEntry &entry : m_service->snapshots()->entries()) {
            if (!entry.folder.isEmpty())
                protectedFolders.append(entry.folder);
        }
    }
    m_browser->open(*m_selected, protectedFolders);
    if (!m_isBrowsing) {
        m_isBrowsing = true;
        Q_EMIT isBrowsingChanged();
    }
}

void SnapshotScreen::stopBrowsing()
{
    if (!m_isBrowsing)
        return;
    m_browser->close();
    m_isBrowsing = false;
    Q_EMIT isBrowsingChanged();
}
