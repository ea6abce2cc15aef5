#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

#include "carving/filecarvingservice.h"
#include "carving/visiblehitsmodel.h"
#include "model/records.h"

class AppSettings;
class Platform;

// The Deep Scan screen's state and decisions: the mode, target and file types
// of the next scan and when it may start; which panel the screen shows; the
// results list with its filter and selection; and the way to a save, from the
// folder dialog through the same-device warning and the confirmation to the
// alert with the counts. The screen's QML binds to it and calls it; the work
// itself is done by the service it owns.
class DeepScanScreen : public QObject
{
    Q_OBJECT
    Q_PROPERTY(FileCarvingService *service READ service CONSTANT)
    Q_PROPERTY(VisibleHitsModel *visibleFiles READ visibleFiles CONSTANT)

    Q_PROPERTY(ScanMode scanMode READ scanMode WRITE setScanMode NOTIFY scanModeChanged)
    // One entry per mode, in card order: mode, title, description, icon.
    Q_PROPERTY(QVariantList modes READ modes CONSTANT)
    // The notice above the set-up panel: accent, icon, title, description,
    // steps, note, noteIcon, noteColor (colours by palette name); empty for
    // modes that have none.
    Q_PROPERTY(QVariantMap modeNotice READ modeNotice NOTIFY scanModeChanged)
    // The mode scans a volume (else a path).
    Q_PROPERTY(bool targetsVolume READ targetsVolume NOTIFY scanModeChanged)
    Q_PROPERTY(QString pathPlaceholder READ pathPlaceholder NOTIFY scanModeChanged)
    Q_PROPERTY(QString scanPath READ scanPath WRITE setScanPath NOTIFY scanPathChanged)
    // Empty while no volume is chosen.
    Q_PROPERTY(QString selectedVolumeId READ selectedVolumeId NOTIFY selectedVolumeChanged)

    // The catalogue for the chips: typeName, icon, color (palette name).
    Q_PROPERTY(QVariantList signatures READ signatures CONSTANT)
    // Chosen type names, in catalogue order.
    Q_PROPERTY(QStringList selectedSignatures READ selectedSignatures WRITE setSelectedSignatures NOTIFY selectedSignaturesChanged)
    Q_PROPERTY(bool allSignaturesSelected READ allSignaturesSelected NOTIFY selectedSignaturesChanged)
    Q_PROPERTY(bool canStart READ canStart NOTIFY canStartChanged)

    Q_PROPERTY(Body body READ body NOTIFY bodyChanged)
    Q_PROPERTY(bool hideExistingFiles READ hideExistingFiles WRITE setHideExistingFiles NOTIFY hideExistingFilesChanged)
    // The "Show Unverified (N)" toggle, off for every new screen; the
    // service's unverifiedCount is the N.
    Q_PROPERTY(bool showUnverified READ showUnverified WRITE setShowUnverified NOTIFY showUnverifiedChanged)
    Q_PROPERTY(QString showUnverifiedText READ showUnverifiedText NOTIFY showUnverifiedTextChanged)

    // Saving.
    Q_PROPERTY(QString folderDialogTitle READ folderDialogTitle NOTIFY saveFlowChanged)
    // Where the folder dialog opens: the default recovery folder when one is
    // set, else empty (the dialog's own choice).
    Q_PROPERTY(QUrl initialSaveFolder READ initialSaveFolder NOTIFY saveFlowChanged)
    Q_PROPERTY(bool showSameDeviceWarning READ showSameDeviceWarning NOTIFY saveFlowChanged)
    Q_PROPERTY(QString sameDeviceWarningText READ sameDeviceWarningText NOTIFY saveFlowChanged)
    Q_PROPERTY(bool showSaveConfirmation READ showSaveConfirmation NOTIFY saveFlowChanged)
    Q_PROPERTY(QString saveConfirmationText READ saveConfirmationText NOTIFY saveFlowChanged)
    Q_PROPERTY(bool showSaveAlert READ showSaveAlert NOTIFY saveFlowChanged)
    // {saved, failed, noData} of the last save, or undefined.
    Q_PROPERTY(QVariant saveResult READ saveResult NOTIFY saveFlowChanged)
    Q_PROPERTY(QString saveResultText READ saveResultText NOTIFY saveFlowChanged)
    // Cancel was pressed during the running save; it ends after its current file.
    Q_PROPERTY(bool isStoppingSave READ isStoppingSave NOTIFY saveFlowChanged)
    // What leaving the screen would throw away, for the window to confirm
    // first: a scan under way, a save under way, or the files found; empty
    // when there is nothing to lose.
    Q_PROPERTY(QString leaveWarning READ leaveWarning NOTIFY leaveWarningChanged)

public:
    enum class ScanMode { deletedFiles, rawDevice, directory, diskImage };
    Q_ENUM(ScanMode)

    // Which panel the screen shows below its header.
    enum class Body { setup, progress, results };
    Q_ENUM(Body)

    // Whether saving into `folder` would write onto what the scan read.
    using SameDeviceCheck = std::function<bool(const QString &folder, const QString &scannedSource)>;

    struct SaveCountsShown {
        int saved = 0;
        int failed = 0;
        int noData = 0;
        int notSaved = 0; // left out by a cancel
        friend bool operator==(const SaveCountsShown &, const SaveCountsShown &) = default;
    };

    // The running system's platform and the shared settings.
    explicit DeepScanScreen(QObject *parent = nullptr);
    DeepScanScreen(std::shared_ptr<Platform> platform, AppSettings *settings, QObject *parent = nullptr);
    ~DeepScanScreen() override;

    static QString title(ScanMode mode);
    static QString icon(ScanMode mode);
    // The Deleted Files description names the system's own facilities.
    static QString description(ScanMode mode, const Platform &platform);

    FileCarvingService *service() const { return m_service; }
    VisibleHitsModel *visibleFiles() const { return m_visible; }

    ScanMode scanMode() const { return m_scanMode; }
    void setScanMode(ScanMode mode);
    QVariantList modes() const;
    QVariantMap modeNotice() const;
    bool targetsVolume() const;
    QString pathPlaceholder() const;
    QString scanPath() const { return m_scanPath; }
    void setScanPath(const QString &path);
    QString selectedVolumeId() const;
    const std::optional<VolumeInfo> &selectedVolume() const { return m_selectedVolume; }

    QVariantList signatures() const;
    QStringList selectedSignatures() const { return m_selectedSignatures; }
    void setSelectedSignatures(const QStringList &typeNames);
    bool allSignaturesSelected() const;
    bool canStart() const;

    Body body() const { return m_body; }
    bool hideExistingFiles() const { return m_visible->filter().hideExisting; }
    void setHideExistingFiles(bool hide);
    bool showUnverified() const { return !m_visible->filter().hideUnverified; }
    void setShowUnverified(bool show);
    // "Show Unverified (N)"; empty when the scan has none.
    QString showUnverifiedText() const;

    QString folderDialogTitle() const;
    QUrl initialSaveFolder() const;
    bool showSameDeviceWarning() const { return m_showSameDeviceWarning; }
    QString sameDeviceWarningText() const;
    bool showSaveConfirmation() const { return m_showSaveConfirmation; }
    QString saveConfirmationText() const;
    bool showSaveAlert() const { return m_showSaveAlert; }
    QVariant saveResult() const;
    const std::optional<SaveCountsShown> &lastSaveCounts() const { return m_saveResult; }
    QString saveResultText() const;
    bool isStoppingSave() const { return m_stoppingSave; }
    QString leaveWarning() const { return m_leaveWarning; }

    void setSameDeviceCheck(SameDeviceCheck check) { m_sameDevice = std::move(check); }

    // Set-up.
    // The volume with this id in the service's list; an unknown id changes nothing.
    Q_INVOKABLE void selectVolume(const QString &volumeId);
    // A folder or file dialog's answer; a URL that is not a local file changes nothing.
    Q_INVOKABLE void setScanPathFromUrl(const QUrl &url);
    Q_INVOKABLE void toggleSignature(const QString &typeName);
    // Deselects all when all are selected, else selects all.
    Q_INVOKABLE void toggleAllSignatures();
    // Starts the scan of the chosen mode when the start rules allow it.
    Q_INVOKABLE void startScan();
    Q_INVOKABLE void stopScan();

    // Results.
    // Tapping a shown row; only a hit that can be recovered changes.
    Q_INVOKABLE void toggleFile(int row);
    Q_INVOKABLE void toggleSelectAll();
    // Empties the results and the selection; keeps the set-up choices.
    Q_INVOKABLE void newScan();

    // Saving: a request asks for a folder (folderDialogRequested); the chosen
    // folder may need the same-device warning and the confirmation; then the
    // service saves on its worker and the alert shows the counts.
    Q_INVOKABLE void requestSaveSelected();
    Q_INVOKABLE void requestSaveAll();
    Q_INVOKABLE void folderChosen(const QUrl &folder);
    Q_INVOKABLE void folderDialogCancelled();
    Q_INVOKABLE void saveAnyway();
    Q_INVOKABLE void chooseAnotherFolder();
    Q_INVOKABLE void confirmSave();
    Q_INVOKABLE void cancelPendingSave();
    Q_INVOKABLE void cancelSaving();
    Q_INVOKABLE void dismissSaveAlert();

Q_SIGNALS:
    void scanModeChanged();
    void scanPathChanged();
    void selectedVolumeChanged();
    void selectedSignaturesChanged();
    void canStartChanged();
    void bodyChanged();
    void hideExistingFilesChanged();
    void showUnverifiedChanged();
    void showUnverifiedTextChanged();
    void saveFlowChanged();
    void leaveWarningChanged();
    // The screen should open its folder dialog with folderDialogTitle.
    void folderDialogRequested();

private:
    enum class SaveKind { none, selected, all };

    void updateBody();
    void updateLeaveWarning();
    void updateCanStart(bool wasAllowed);
    void continueAfterDeviceCheck();
    void startPendingSave();
    void savingFinished(int saved, int failed, int noData, int notSaved);
    int pendingCount() const;

    std::shared_ptr<Platform> m_platform;
    QPointer<AppSettings> m_settings;
    FileCarvingService *m_service;
    VisibleHitsModel *m_visible;
    SameDeviceCheck m_sameDevice;

    ScanMode m_scanMode = ScanMode::deletedFiles;
    QString m_scanPath;
    std::optional<VolumeInfo> m_selectedVolume;
    QStringList m_selectedSignatures;
    Body m_body = Body::setup;
    QString m_leaveWarning;
    // What the last scan read, for the same-device check.
    QString m_scannedSource;

    SaveKind m_pendingKind = SaveKind::none;
    QString m_pendingFolder;
    bool m_showSameDeviceWarning = false;
    bool m_showSaveConfirmation = false;
    SaveKind m_savingKind = SaveKind::none;
    // The source rows a Save Selected is saving, in order, and the list
    // they belong to.
    QList<int> m_savingRows;
    quint64 m_savingGeneration = 0;
    bool m_stoppingSave = false;
    bool m_showSaveAlert = false;
    std::optional<SaveCountsShown> m_saveResult;
};
