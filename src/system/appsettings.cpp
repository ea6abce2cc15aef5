#include "appsettings.h"

#include <QSettings>

#include <algorithm>

namespace {
const QString pathKey = QStringLiteral("defaultRecoveryPath");
const QString hiddenKey = QStringLiteral("showHiddenFiles");
const QString confirmKey = QStringLiteral("confirmBeforeRecover");
const QString sizeKey = QStringLiteral("maxCarvingFileSize");

int allowedFileSize(int megabytes)
{
    const int clamped = std::clamp(megabytes, AppSettings::minimumFileSize, AppSettings::maximumFileSize);
    return (clamped + AppSettings::fileSizeStep / 2) / AppSettings::fileSizeStep * AppSettings::fileSizeStep;
}
} // namespace

AppSettings::AppSettings(QObject *parent)
    : AppSettings(std::make_unique<QSettings>(), parent)
{
}

AppSettings::AppSettings(std::unique_ptr<QSettings> store, QObject *parent)
    : QObject(parent)
    , m_store(std::move(store))
{
}

AppSettings::~AppSettings() = default;

AppSettings *AppSettings::instance()
{
    static AppSettings *settings = new AppSettings;
    return settings;
}

bool AppSettings::write(const QString &key, const QVariant &value)
{
    if (m_store->contains(key) && m_store->value(key) == value)
        return false;
    m_store->setValue(key, value);
    // Kept at once, so a crash or a killed session loses nothing.
    m_store->sync();
    return true;
}

QString AppSettings::defaultRecoveryPath() const
{
    return m_store->value(pathKey, QString()).toString();
}

void AppSettings::setDefaultRecoveryPath(const QString &path)
{
    if (write(pathKey, path))
        Q_EMIT defaultRecoveryPathChanged();
}

bool AppSettings::showHiddenFiles() const
{
    return m_store->value(hiddenKey, false).toBool();
}

void AppSettings::setShowHiddenFiles(bool show)
{
    if (write(hiddenKey, show))
        Q_EMIT showHiddenFilesChanged();
}

bool AppSettings::confirmBeforeRecover() const
{
    return m_store->value(confirmKey, true).toBool();
}

void AppSettings::setConfirmBeforeRecover(bool confirm)
{
    if (write(confirmKey, confirm))
        Q_EMIT confirmBeforeRecoverChanged();
}

int AppSettings::maxCarvingFileSize() const
{
    bool ok = false;
    const int stored = m_store->value(sizeKey, 100).toInt(&ok);
    return ok ? allowedFileSize(stored) : 100;
}

void AppSettings::setMaxCarvingFileSize(int megabytes)
{
    if (write(sizeKey, allowedFileSize(megabytes)))
        Q_EMIT maxCarvingFileSizeChanged();
}
