#include "deepscanscreen.h"

#include <QDir>
#include <QLocale>
#include <QSet>

#include "model/filesignature.h"
#include "system/appsettings.h"
#include "system/platform.h"
#include "system/samedevice.h"

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr DeepScanScreen::ScanMode allModes[] = {
    DeepScanScreen::ScanMode::deletedFiles,
    DeepScanScreen::ScanMode::rawDevice,
    DeepScanScreen::ScanMode::directory,
    DeepScanScreen::ScanMode::diskImage,
};

QStringList catalogueNames()
{
    QStringList names;
    for (const FileSignature &signature : defaultSignatures())
        names.append(signature.typeName);
    return names;
}

QVariantMap notice(const ModeNoticeTexts &texts, const QString &accent, const QString &icon, const QString &noteIcon,
                   const QString &noteColor)
{
    return {
        {u"accent"_s, accent},
        {u"icon"_s, icon},
        {u"title"_s, texts.title},
        {u"description"_s, texts.description},
        {u"steps"_s, texts.steps},
        {u"note"_s, texts.note},
        {u"noteIcon"_s, noteIcon},
        {u"noteColor"_s, noteColor},
    };
}
} // namespace

DeepScanScreen::DeepScanScreen(QObject *parent)
    : DeepScanScreen(runningPlatform(), AppSettings::instance(), parent)
{
}

DeepScanScreen::DeepScanScreen(std::shared_ptr<Platform> platform, AppSettings *settings, QObject *parent)
    : QObject(parent)
    , m_platform(platform)
    , m_settings(settings)
    , m_service(new FileCarvingService(std::move(platform), this))
    , m_visible(new VisibleHitsModel(m_service->carvedFiles(), this))
    , m_sameDevice(savesOntoScannedDevice)
    , m_selectedSignatures(catalogueNames())
{
    connect(m_service, &FileCarvingService::isScanningChanged, this, &DeepScanScreen::updateBody);
    connect(m_service, &FileCarvingService::scanProgressChanged, this, &DeepScanScreen::updateBody);
    connect(m_service->carvedFiles(), &CarvedFileModel::countChanged, this, &DeepScanScreen::updateBody);
    connect(m_service, &FileCarvingService::savingFinished, this, &DeepScanScreen::savingFinished);
    connect(m_service, &FileCarvingService::hitTallyChanged, this, &DeepScanScreen::showUnverifiedTextChanged);
    connect(m_service, &FileCarvingService::isScanningChanged, this, &DeepScanScreen::updateLeaveWarning);
    connect(m_service, &FileCarvingService::isSavingChanged, this, &DeepScanScreen::updateLeaveWarning);
    connect(m_service, &FileCarvingService::hitTallyChanged, this, &DeepScanScreen::updateLeaveWarning);
    connect(m_service->carvedFiles(), &CarvedFileModel::countChanged, this, &DeepScanScreen::updateLeaveWarning);
    if (m_settings)
        connect(m_settings, &AppSettings::defaultRecoveryPathChanged, this, &DeepScanScreen::saveFlowChanged);
}

DeepScanScreen::~DeepScanScreen() = default;

QString DeepScanScreen::title(ScanMode mode)
{
    switch (mode) {
    case ScanMode::deletedFiles:
        return u"Deleted Files"_s;
    case ScanMode::rawDevice:
        return u"Volume Scan"_s;
    case ScanMode::directory:
        return u"Directory Scan"_s;
    case ScanMode::diskImage:
        return u"Disk Image"_s;
    }
    return {};
}

QString DeepScanScreen::icon(ScanMode mode)
{
    switch (mode) {
    case ScanMode::deletedFiles:
        return u"trash.slash"_s;
    case ScanMode::rawDevice:
        return u"internaldrive"_s;
    case ScanMode::directory:
        return u"folder"_s;
    case ScanMode::diskImage:
        return u"opticaldiscdrive"_s;
    }
    return {};
}

QString DeepScanScreen::description(ScanMode mode, const Platform &platform)
{
    switch (mode) {
    case ScanMode::deletedFiles:
        return platform.texts().deletedFilesModeDescription;
    case ScanMode::rawDevice:
        return u"Scan raw device blocks for deleted file fragments"_s;
    case ScanMode::directory:
        return u"Scan existing files by their signatures"_s;
    case ScanMode::diskImage:
        return u"Scan a disk image file (.img, .dd, .dmg)"_s;
    }
    return {};
}

void DeepScanScreen::setScanMode(ScanMode mode)
{
    if (m_scanMode == mode)
        return;
    const bool couldStart = canStart();
    m_scanMode = mode;
    Q_EMIT scanModeChanged();
    updateCanStart(couldStart);
}

QVariantList DeepScanScreen::modes() const
{
    QVariantList list;
    for (const ScanMode mode : allModes) {
        list.append(QVariantMap{{u"mode"_s, QVariant::fromValue(mode)},
                                {u"title"_s, title(mode)},
                                {u"description"_s, description(mode, *m_platform)},
                                {u"icon"_s, icon(mode)}});
    }
    return list;
}

QVariantMap DeepScanScreen::modeNotice() const
{
    const PlatformTexts &texts = m_platform->texts();
    switch (m_scanMode) {
    case ScanMode::deletedFiles:
        return notice(texts.deletedFilesNotice, u"neonGreen"_s, u"trash.slash.fill"_s, u"info.circle.fill"_s,
                      u"neonCyan"_s);
    case ScanMode::rawDevice:
        return notice(texts.rawDeviceNotice, u"neonCyan"_s, u"lock.shield.fill"_s, u"checkmark.shield.fill"_s,
                      u"neonGreen"_s);
    case ScanMode::directory:
    case ScanMode::diskImage:
        break;
    }
    return {};
}

bool DeepScanScreen::targetsVolume() const
{
    return m_scanMode == ScanMode::deletedFiles || m_scanMode == ScanMode::rawDevice;
}

QString DeepScanScreen::pathPlaceholder() const
{
    return m_scanMode == ScanMode::directory ? u"/path/to/scan"_s : u"Select disk image..."_s;
}

void DeepScanScreen::setScanPath(const QString &path)
{
    if (m_scanPath == path)
        return;
    const bool couldStart = canStart();
    m_scanPath = path;
    Q_EMIT scanPathChanged();
    updateCanStart(couldStart);
}

QString DeepScanScreen::selectedVolumeId() const
{
    return m_selectedVolume ? m_selectedVolume->id.toString(QUuid::WithoutBraces) : QString();
}

void DeepScanScreen::selectVolume(const QString &volumeId)
{
    std::optional<VolumeInfo> volume = m_service->volumes()->volumeWithId(volumeId);
    if (!volume)
        return;
    const bool couldStart = canStart();
    m_selectedVolume = std::move(volume);
    Q_EMIT selectedVolumeChanged();
    updateCanStart(couldStart);
}

void DeepScanScreen::setScanPathFromUrl(const QUrl &url)
{
    if (url.isLocalFile())
        setScanPath(url.toLocalFile());
}

QVariantList DeepScanScreen::signatures() const
{
    QVariantList list;
    for (const FileSignature &signature : defaultSignatures()) {
        list.append(QVariantMap{{u"typeName"_s, signature.typeName},
                                {u"icon"_s, ::icon(signature.category)},
                                {u"color"_s, paletteName(color(signature.category))}});
    }
    return list;
}

void DeepScanScreen::setSelectedSignatures(const QStringList &typeNames)
{
    const QSet<QString> wanted(typeNames.cbegin(), typeNames.cend());
    QStringList chosen;
    for (const QString &name : catalogueNames()) {
        if (wanted.contains(name))
            chosen.append(name);
    }
    if (chosen == m_selectedSignatures)
        return;
    m_selectedSignatures = chosen;
    Q_EMIT selectedSignaturesChanged();
}

bool DeepScanScreen::allSignaturesSelected() const
{
    return m_selectedSignatures.size() == defaultSignatures().size();
}

void DeepScanScreen::toggleSignature(const QString &typeName)
{
    QStringList chosen = m_selectedSignatures;
    if (!chosen.removeOne(typeName))
        chosen.append(typeName);
    setSelectedSignatures(chosen);
}

void DeepScanScreen::toggleAllSignatures()
{
    setSelectedSignatures(allSignaturesSelected() ? QStringList() : catalogueNames());
}

bool DeepScanScreen::canStart() const
{
    // The file types play no part: a scan for no type is allowed and finds
    // nothing, which the user sees in its summary.
    return targetsVolume() ? m_selectedVolume.has_value() : !m_scanPath.isEmpty();
}

void DeepScanScreen::updateCanStart(bool wasAllowed)
{
    if (canStart() != wasAllowed)
        Q_EMIT canStartChanged();
}

void DeepScanScreen::startScan()
{
    if (!canStart())
        return;
    // Always a list, an empty one included: the service reads a missing
    // list as "every type".
    const QList<FileSignature> chosen = FileCarvingService::signaturesNamed(m_selectedSignatures);
    switch (m_scanMode) {
    case ScanMode::deletedFiles:
    case ScanMode::rawDevice: {
        // The volume chosen stays the one scanned even when Refresh has
        // replaced the list's records since.
        const VolumeInfo volume = *m_selectedVolume;
        m_scannedSource = volume.device.isEmpty() ? volume.rawDevice : volume.device;
        if (m_scanMode == ScanMode::deletedFiles)
            m_service->scanDeletedFiles(volume, chosen);
        else
            m_service->scanVolume(volume, chosen);
        break;
    }
    case ScanMode::directory:
        m_scannedSource = m_scanPath;
        m_service->scanDirectory(m_scanPath, chosen);
        break;
    case ScanMode::diskImage:
        m_scannedSource = m_scanPath;
        m_service->scanDiskImage(QUrl::fromLocalFile(m_scanPath), chosen);
        break;
    }
}

void DeepScanScreen::stopScan()
{
    m_service->cancelScan();
}

void DeepScanScreen::updateBody()
{
    Body body = Body::setup;
    if (m_service->isScanning())
        body = Body::progress;
    else if (m_service->carvedFiles()->rowCount() > 0 || m_service->scanProgress() >= 1.0)
        body = Body::results;
    if (body == m_body)
        return;
    m_body = body;
    Q_EMIT bodyChanged();
}

void DeepScanScreen::updateLeaveWarning()
{
    // A scan of a whole disk takes hours; one click on another screen must
    // not throw it away unasked.
    const qint64 found = m_service->carvedFiles()->rowCount() + m_service->unverifiedNotListedCount();
    const QString files = found == 1 ? u"the 1 file found"_s : u"the %1 files found"_s.arg(found);
    const QString are = found == 1 ? u" is"_s : u" are"_s;
    QString warning;
    if (m_service->isSaving())
        warning = u"Saving stops after the file being written, and "_s + files + are + u" discarded."_s;
    else if (m_service->isScanning())
        warning = u"The scan stops, and "_s + (found == 0 ? u"what it has read so far is"_s : files + u" so far"_s + are)
            + u" discarded."_s;
    else if (found > 0)
        warning = u"T"_s + files.mid(1) + are + u" discarded."_s;
    if (warning == m_leaveWarning)
        return;
    m_leaveWarning = warning;
    Q_EMIT leaveWarningChanged();
}

void DeepScanScreen::setHideExistingFiles(bool hide)
{
    if (hideExistingFiles() == hide)
        return;
    HitFilter filter = m_visible->filter();
    filter.hideExisting = hide;
    m_visible->setFilter(filter);
    Q_EMIT hideExistingFilesChanged();
}

void DeepScanScreen::setShowUnverified(bool show)
{
    if (showUnverified() == show)
        return;
    HitFilter filter = m_visible->filter();
    filter.hideUnverified = !show;
    m_visible->setFilter(filter);
    // Save All takes what the list offers.
    m_service->setShowUnverified(show);
    Q_EMIT showUnverifiedChanged();
}

QString DeepScanScreen::showUnverifiedText() const
{
    const qint64 count = m_service->unverifiedCount();
    return count > 0 ? u"Show Unverified (%1)"_s.arg(QLocale().toString(count)) : QString();
}

void DeepScanScreen::toggleFile(int row)
{
    m_visible->toggle(row);
}

void DeepScanScreen::toggleSelectAll()
{
    m_visible->toggleAll();
}

void DeepScanScreen::newScan()
{
    m_service->newScan();
    m_visible->clearSelection();
}

// Saving.

QString DeepScanScreen::folderDialogTitle() const
{
    return m_pendingKind == SaveKind::all ? u"Choose destination for all recovered files"_s
                                          : u"Choose destination for recovered files"_s;
}

QUrl DeepScanScreen::initialSaveFolder() const
{
    const QString path = m_settings ? m_settings->defaultRecoveryPath() : QString();
    return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path);
}

int DeepScanScreen::pendingCount() const
{
    if (m_pendingKind != SaveKind::all)
        return m_visible->selectedCount();
    const CarvedFileModel *hits = m_service->carvedFiles();
    const qint64 hidden = showUnverified() ? 0 : hits->unverifiedCount() - hits->notListedCount();
    return int(hits->rowCount() - hidden);
}

QString DeepScanScreen::sameDeviceWarningText() const
{
    return u"“%1” lies on the drive that was scanned (%2).\n\nFiles saved there take the free space in which "
           "deleted files still lie, and can overwrite the very files you are recovering. Choose a folder on "
           "another drive, such as a USB stick or an external disk."_s
        .arg(QDir::toNativeSeparators(m_pendingFolder), m_scannedSource);
}

QString DeepScanScreen::saveConfirmationText() const
{
    return u"Recover %1 items to %2?"_s.arg(pendingCount()).arg(QDir::toNativeSeparators(m_pendingFolder));
}

QVariant DeepScanScreen::saveResult() const
{
    if (!m_saveResult)
        return {};
    return QVariantMap{{u"saved"_s, m_saveResult->saved},
                       {u"failed"_s, m_saveResult->failed},
                       {u"noData"_s, m_saveResult->noData}};
}

QString DeepScanScreen::saveResultText() const
{
    if (!m_saveResult)
        return {};
    QString text = u"Saved: %1 files\nFailed: %2\nNo data: %3"_s.arg(m_saveResult->saved)
                       .arg(m_saveResult->failed)
                       .arg(m_saveResult->noData);
    if (m_saveResult->notSaved > 0)
        text += u"\nNot saved (cancelled): %1"_s.arg(m_saveResult->notSaved);
    return text;
}

void DeepScanScreen::requestSaveSelected()
{
    if (m_service->isSaving() || m_visible->selectedCount() == 0)
        return;
    m_pendingKind = SaveKind::selected;
    Q_EMIT saveFlowChanged();
    Q_EMIT folderDialogRequested();
}

void DeepScanScreen::requestSaveAll()
{
    if (m_service->isSaving())
        return;
    m_pendingKind = SaveKind::all;
    Q_EMIT saveFlowChanged();
    Q_EMIT folderDialogRequested();
}

void DeepScanScreen::folderChosen(const QUrl &folder)
{
    if (m_pendingKind == SaveKind::none)
        return;
    const QString path = folder.isLocalFile() ? folder.toLocalFile() : QString();
    if (path.isEmpty()) {
        cancelPendingSave();
        return;
    }
    m_pendingFolder = path;
    if (!m_scannedSource.isEmpty() && m_sameDevice && m_sameDevice(path, m_scannedSource)) {
        m_showSameDeviceWarning = true;
        Q_EMIT saveFlowChanged();
        return;
    }
    continueAfterDeviceCheck();
}

void DeepScanScreen::folderDialogCancelled()
{
    cancelPendingSave();
}

void DeepScanScreen::saveAnyway()
{
    if (!m_showSameDeviceWarning)
        return;
    m_showSameDeviceWarning = false;
    continueAfterDeviceCheck();
}

void DeepScanScreen::chooseAnotherFolder()
{
    if (!m_showSameDeviceWarning)
        return;
    m_showSameDeviceWarning = false;
    m_pendingFolder.clear();
    Q_EMIT saveFlowChanged();
    Q_EMIT folderDialogRequested();
}

void DeepScanScreen::continueAfterDeviceCheck()
{
    if (m_settings && m_settings->confirmBeforeRecover()) {
        m_showSaveConfirmation = true;
        Q_EMIT saveFlowChanged();
        return;
    }
    startPendingSave();
}

void DeepScanScreen::confirmSave()
{
    if (!m_showSaveConfirmation)
        return;
    m_showSaveConfirmation = false;
    startPendingSave();
}

void DeepScanScreen::cancelPendingSave()
{
    m_pendingKind = SaveKind::none;
    m_pendingFolder.clear();
    m_showSameDeviceWarning = false;
    m_showSaveConfirmation = false;
    Q_EMIT saveFlowChanged();
}

void DeepScanScreen::startPendingSave()
{
    const SaveKind kind = std::exchange(m_pendingKind, SaveKind::none);
    const QString folder = std::exchange(m_pendingFolder, QString());
    // Save All takes every hit as the list stands now, the hidden existing
    // files included, but the unverified matches only once they are shown:
    // on a real disk they are thousands of windows of junk.
    QList<int> rows = kind == SaveKind::selected ? m_visible->selectedSourceRows() : QList<int>();
    const bool started = kind == SaveKind::all ? m_service->startSaving(m_service->filesToSave(), folder)
        : kind == SaveKind::selected           ? m_service->startSaving(m_service->carvedFiles()->files(), rows, folder)
                                               : false;
    if (started) {
        m_savingKind = kind;
        m_savingRows = std::move(rows);
        m_savingGeneration = m_visible->generation();
        m_stoppingSave = false;
    }
    Q_EMIT saveFlowChanged();
}

void DeepScanScreen::cancelSaving()
{
    if (!m_service->isSaving() || m_stoppingSave)
        return;
    m_stoppingSave = true;
    m_service->cancelSaving();
    Q_EMIT saveFlowChanged();
}

void DeepScanScreen::savingFinished(int saved, int failed, int noData, int notSaved)
{
    const SaveKind kind = std::exchange(m_savingKind, SaveKind::none);
    const QList<int> rows = std::exchange(m_savingRows, {});
    m_stoppingSave = false;
    if (kind == SaveKind::selected) {
        // A selection has no "no data" count: a hit with nothing to save
        // simply failed.
        m_saveResult = SaveCountsShown{saved, failed + noData, 0, notSaved};
        // The hits a cancel left unsaved stay selected, so that saving can
        // go on from where it stopped.
        if (m_visible->generation() == m_savingGeneration)
            m_visible->setSelectedSourceRows(rows.mid(rows.size() - notSaved));
    } else if (kind == SaveKind::all) {
        m_saveResult = SaveCountsShown{saved, failed, noData, notSaved};
    } else {
        return;
    }
    m_showSaveAlert = true;
    Q_EMIT saveFlowChanged();
}

void DeepScanScreen::dismissSaveAlert()
{
    if (!m_showSaveAlert && !m_saveResult)
        return;
    m_showSaveAlert = false;
    m_saveResult.reset();
    Q_EMIT saveFlowChanged();
}
