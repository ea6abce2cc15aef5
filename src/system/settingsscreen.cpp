#include "settingsscreen.h"

#include <QDesktopServices>
#include <QDir>
#include <QStandardPaths>
#include <QUrl>

#include "system/platform.h"

using namespace Qt::Literals::StringLiterals;

SettingsScreen::SettingsScreen(QObject *parent)
    : SettingsScreen(runningPlatform(), parent)
{
}

SettingsScreen::SettingsScreen(std::shared_ptr<Platform> platform, QObject *parent)
    : QObject(parent)
    , m_platform(std::move(platform))
{
}

SettingsScreen::~SettingsScreen() = default;

QString SettingsScreen::accessTitle() const
{
    return m_platform->texts().fullDiskAccessTitle;
}

QString SettingsScreen::rawDeviceAccessNote() const
{
    return m_platform->texts().rawDeviceAccessNote;
}

bool SettingsScreen::canOpenSystemSettings() const
{
    return QUrl(m_platform->fullDiskAccessSettingsUrl(), QUrl::StrictMode).isValid()
        && !m_platform->fullDiskAccessSettingsUrl().isEmpty();
}

void SettingsScreen::checkAccess()
{
    m_isChecking = true;
    Q_EMIT accessChanged();
    m_accessWork.start([platform = m_platform](Request<SettingsScreen> &request) {
        const bool granted = platform->hasFullDiskAccess();
        request.post([granted](SettingsScreen &screen) {
            screen.m_hasAccess = granted;
            screen.m_isChecking = false;
            Q_EMIT screen.accessChanged();
        });
    });
}

void SettingsScreen::openSystemSettings() const
{
    // A text that doesn't form a URL opens nothing.
    const QUrl url(m_platform->fullDiskAccessSettingsUrl(), QUrl::StrictMode);
    if (canOpenSystemSettings())
        QDesktopServices::openUrl(url);
}

QString SettingsScreen::pathLine(const QString &path)
{
    return path.isEmpty() ? u"Not set"_s : path;
}

QString SettingsScreen::folderName(const QString &path)
{
    if (path.isEmpty())
        return u"Choose..."_s;
    const QString name = QDir(QDir::cleanPath(path)).dirName();
    return name.isEmpty() ? path : name;
}

QString SettingsScreen::localPath(const QUrl &url)
{
    return url.toLocalFile();
}

QUrl SettingsScreen::folderUrl(const QString &path)
{
    return QUrl::fromLocalFile(path.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::HomeLocation) : path);
}
