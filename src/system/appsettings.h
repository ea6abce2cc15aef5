#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QSettings;

// The user's preferences, kept in the per-user settings store and written at
// once on every change. One object serves the whole window: every screen
// reads the same values.
class AppSettings : public QObject
{
    Q_OBJECT
    // Where the save and restore dialogs open; empty when not chosen.
    Q_PROPERTY(QString defaultRecoveryPath READ defaultRecoveryPath WRITE setDefaultRecoveryPath NOTIFY defaultRecoveryPathChanged)
    Q_PROPERTY(bool showHiddenFiles READ showHiddenFiles WRITE setShowHiddenFiles NOTIFY showHiddenFilesChanged)
    Q_PROPERTY(bool confirmBeforeRecover READ confirmBeforeRecover WRITE setConfirmBeforeRecover NOTIFY confirmBeforeRecoverChanged)
    // Megabytes, a multiple of 10 from 10 to 1000.
    Q_PROPERTY(int maxCarvingFileSize READ maxCarvingFileSize WRITE setMaxCarvingFileSize NOTIFY maxCarvingFileSizeChanged)

public:
    static constexpr int minimumFileSize = 10;
    static constexpr int maximumFileSize = 1000;
    static constexpr int fileSizeStep = 10;

    // The store of this user and program (named on the application object).
    explicit AppSettings(QObject *parent = nullptr);
    // A store of the caller's choosing (a file in tests).
    explicit AppSettings(std::unique_ptr<QSettings> store, QObject *parent = nullptr);
    ~AppSettings() override;

    QString defaultRecoveryPath() const;
    void setDefaultRecoveryPath(const QString &path);
    bool showHiddenFiles() const;
    void setShowHiddenFiles(bool show);
    bool confirmBeforeRecover() const;
    void setConfirmBeforeRecover(bool confirm);
    int maxCarvingFileSize() const;
    // Out-of-range and in-between values are moved to the nearest allowed one.
    void setMaxCarvingFileSize(int megabytes);

    // The object QML shares; made on first use.
    static AppSettings *instance();

Q_SIGNALS:
    void defaultRecoveryPathChanged();
    void showHiddenFilesChanged();
    void confirmBeforeRecoverChanged();
    void maxCarvingFileSizeChanged();

private:
    bool write(const QString &key, const QVariant &value);

    std::unique_ptr<QSettings> m_store;
};
