#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

#include "system/servicework.h"

class Platform;

// What the Settings screen shows beyond the stored preferences: whether
// this program may read raw devices, checked again each time the screen is
// shown (the answer changes when the user grants access meanwhile), and the
// texts and settings page of the system's own way of granting it.
class SettingsScreen : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isCheckingAccess READ isCheckingAccess NOTIFY accessChanged)
    Q_PROPERTY(bool hasFullDiskAccess READ hasFullDiskAccess NOTIFY accessChanged)
    // "Full Disk Access" or the system's counterpart.
    Q_PROPERTY(QString accessTitle READ accessTitle CONSTANT)
    // How raw reading is obtained where no settings page grants it; empty
    // where "Open Settings" leads to one.
    Q_PROPERTY(QString rawDeviceAccessNote READ rawDeviceAccessNote CONSTANT)
    Q_PROPERTY(bool canOpenSystemSettings READ canOpenSystemSettings CONSTANT)

public:
    explicit SettingsScreen(QObject *parent = nullptr);
    explicit SettingsScreen(std::shared_ptr<Platform> platform, QObject *parent = nullptr);
    ~SettingsScreen() override;

    bool isCheckingAccess() const { return m_isChecking; }
    bool hasFullDiskAccess() const { return m_hasAccess; }
    QString accessTitle() const;
    QString rawDeviceAccessNote() const;
    bool canOpenSystemSettings() const;

    // Probes the access on a worker: opening a device can wait on a disk
    // that spins up.
    Q_INVOKABLE void checkAccess();
    // Opens the system's settings page for the access, when there is one.
    Q_INVOKABLE void openSystemSettings() const;

    // The path row: the whole path, or "Not set"; the control shows its
    // last folder, or "Choose...".
    Q_INVOKABLE static QString pathLine(const QString &path);
    Q_INVOKABLE static QString folderName(const QString &path);
    // The folder dialog's answer as a path, and a path as the dialog's
    // starting folder (the home folder when none is set).
    Q_INVOKABLE static QString localPath(const QUrl &url);
    Q_INVOKABLE static QUrl folderUrl(const QString &path);

Q_SIGNALS:
    void accessChanged();

private:
    std::shared_ptr<Platform> m_platform;
    bool m_isChecking = false;
    bool m_hasAccess = false;
    // Declared last: destroyed first.
    ServiceWork<SettingsScreen> m_accessWork{this};
};
