// The Deep Scan screen: set-up in each mode, a scan in progress, results with
// existing hits hidden and shown, the saving sheet, the alerts, and an error
// in the status bar. The scans are the service's own, with the directory-scan
// and matching steps replaced by ones that report what the pictures need and
// wait between the pictures.

#include "screenshot.h"

#include <QCursor>
#include <QFile>
#include <QQuickItem>
#include <QSemaphore>
#include <QTemporaryDir>

#include <memory>

#include "carving/deepscanscreen.h"
#include "model/bytecount.h"
#include "navigationmodel.h"
#include "system/platform.h"

using namespace Qt::Literals::StringLiterals;
using Mode = DeepScanScreen::ScanMode;

namespace {

constexpr qint64 MiB = 1024 * 1024;

// Holds a worker at each stop until the next picture has been taken.
struct Pacer {
    QSemaphore reached;
    QSemaphore go;
    void stop()
    {
        reached.release();
        go.acquire();
    }
};

// Hands out its bytes, but holds the reader of `holdAt` until released.
class HeldSource : public ByteSource
{
public:
    HeldSource(QByteArray bytes, quint64 holdAt) : m_bytes(std::move(bytes)), m_holdAt(holdAt) {}
    bool read(quint64 offset, qint64 length, QByteArray *out, QString *) const override
    {
        if (offset == m_holdAt) {
            held.release();
            gate.acquire();
        }
        *out = m_bytes.mid(qsizetype(offset), qsizetype(length));
        return true;
    }
    mutable QSemaphore held;
    mutable QSemaphore gate;

private:
    QByteArray m_bytes;
    quint64 m_holdAt;
};

struct Sample {
    const char *type;
    const char *extension;
    const char *header;
    qint64 size;
    CarvedFileHealth health;
    // The walk's finding: a whole file's length, or why it was refused.
    qint64 verifiedLength;
    const char *refusal;
};

const Sample samples[] = {
    {"JPEG", "jpg", "FFD8FFE0", 2'481'152, CarvedFileHealth::good, 2'203'417, nullptr},
    {"PNG", "png", "89504E470D0A1A0A", 734'003, CarvedFileHealth::good, 734'003, nullptr},
    {"PDF", "pdf", "25504446", 1'204'224, CarvedFileHealth::partial, 0, "no %%EOF that closes it"},
    {"ZIP/DOCX", "zip", "504B0304", 88'113, CarvedFileHealth::good, 88'113, nullptr},
    {"MP4", "mp4", "0000001866747970", 48'211'968, CarvedFileHealth::fragment, 0, "ends past the end of the device"},
    {"JPEG", "jpg", "FFD8FFE1", 3'907'584, CarvedFileHealth::good, 4'118'306, nullptr},
    {"GIF", "gif", "47494638", 45'056, CarvedFileHealth::unknown, 0, "bad block at 12.3 kB"},
    {"MP3 (ID3)", "mp3", "494433", 5'242'880, CarvedFileHealth::partial, 7'864'512, nullptr},
    {"BMP", "bmp", "424D", 1'048'576, CarvedFileHealth::unknown, 0, "pixel data larger than the file"},
};

QList<CarvedFile> sampleHits(int count, quint64 firstOffset)
{
    QList<CarvedFile> hits;
    quint64 offset = firstOffset;
    for (int i = 0; i < count; ++i) {
        const Sample &sample = samples[i % std::size(samples)];
        CarvedFile file;
        file.signatureType = QString::fromLatin1(sample.type);
        file.fileExtension = QString::fromLatin1(sample.extension);
        file.offset = offset;
        file.estimatedSize = sample.size + i * 4096;
        file.health = sample.health;
        file.sourcePath = u"/dev/sdb1"_s;
        file.data = CarvedData::fromBytes(QByteArray::fromHex(sample.header) + QByteArray(64, 'x'));
        file.verification.state = sample.refusal ? Verification::State::unverified : Verification::State::verified;
        file.verification.length = sample.refusal ? 0 : sample.verifiedLength + i * 4096;
        file.verification.reason = sample.refusal ? QString::fromLatin1(sample.refusal) : QString();
        hits.append(file);
        offset += quint64(sample.size) * 3 + 0x1c400 * quint64(i + 1);
    }
    return hits;
}

// Whole files found in the camera card's Trash, shown where they lay before.
// They are made in `trash`, so that they can be recovered like real ones.
QList<CarvedFile> trashHits(const QString &trash)
{
    QList<CarvedFile> hits;
    const struct {
        const char *name;
        const char *type;
        const char *extension;
        qint64 size;
    } items[] = {{"IMG_0412.JPG", "JPEG", "jpg", 3'411'882}, {"Lease 2024.pdf", "PDF", "pdf", 412'907}};
    for (const auto &item : items) {
        CarvedFile file;
        file.signatureType = QString::fromLatin1(item.type);
        file.fileExtension = QString::fromLatin1(item.extension);
        file.estimatedSize = item.size;
        file.health = CarvedFileHealth::good;
        file.recoveryStatus = RecoveryStatus::deleted;
        file.sourcePath = trash + u"/"_s + QString::fromUtf8(item.name);
        QFile made(file.sourcePath);
        if (made.open(QIODevice::WriteOnly))
            made.write(QByteArray(4096, 'x'));
        file.originalPath = u"/media/alex/EOS_DIGITAL/DCIM/100CANON/"_s + QString::fromUtf8(item.name);
        hits.append(file);
    }
    return hits;
}

// Hits whose bytes come from one held source, laid end to end in it.
QList<CarvedFile> heldHits(int count, quint64 firstOffset, qint64 length, int holdAt, std::shared_ptr<HeldSource> *made)
{
    QList<CarvedFile> hits = sampleHits(count, firstOffset);
    QByteArray bytes;
    for (const CarvedFile &file : std::as_const(hits))
        bytes += file.data->head + QByteArray(length - file.data->head.size(), 'x');
    *made = std::make_shared<HeldSource>(bytes, quint64(holdAt) * quint64(length));
    for (int i = 0; i < count; ++i) {
        CarvedData &data = *hits[i].data;
        data.head = bytes.mid(i * length, CarvedData::headSize);
        data.source = *made;
        data.offset = quint64(i) * quint64(length);
        data.length = length;
        hits[i].estimatedSize = length;
        // Saved as their windows: the bytes behind them are no real files.
        hits[i].verification = {};
    }
    return hits;
}

// Lets the event loop run until `done` holds or `milliseconds` pass.
template <class Done>
bool waitFor(ShotContext &shots, Done done, int milliseconds = 10'000)
{
    for (int waited = 0; !done(); waited += 50) {
        if (waited > milliseconds)
            return false;
        shots.settle(50);
    }
    return true;
}

// Loaders parent what they load in the item tree only, so the search
// follows child items rather than QObject children.
QQuickItem *findItem(QQuickItem *under, const QString &name)
{
    for (QQuickItem *child : under->childItems()) {
        if (child->objectName() == name)
            return child;
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

QQuickItem *item(ShotContext &shots, const char *name)
{
    return findItem(shots.window->contentItem(), QString::fromLatin1(name));
}

// Scrolls the set-up panel so that `y` of its content is at the top.
void scrollSetup(ShotContext &shots, qreal y)
{
    if (QQuickItem *panel = item(shots, "setupPanel")) {
        const qreal most = panel->property("contentHeight").toReal() - panel->height();
        panel->setProperty("contentY", std::max<qreal>(0, std::min(y, most)));
    }
}

} // namespace

QUORVEL_SHOTS(deepscan)
{
    // The pointer rests on the status bar, where nothing lights up under it.
    QCursor::setPos(shots.window->mapToGlobal(QPoint(shots.window->width() - 10, shots.window->height() - 8)));
    shots.navigation->setSelectedNav(NavigationItem::deepScan);
    shots.settle(800);
    auto *view = shots.window->property("screen").value<QObject *>();
    auto *screen = view ? view->property("screen").value<DeepScanScreen *>() : nullptr;
    if (!screen) {
        std::fprintf(stderr, "no Deep Scan screen\n");
        shots.ok = false;
        return;
    }
    FileCarvingService *service = screen->service();
    // The pictures are about the screen, not about this machine's settings.
    screen->setSameDeviceCheck([](const QString &, const QString &) { return false; });

    // Set-up, mode by mode.
    shots.save(u"deepscan-1-setup-deleted-files.png"_s);

    // The volumes of a typical laptop with a camera card and a backup disk
    // plugged in, in place of whatever this machine has.
    const auto volume = [](const char *name, const char *device, const char *fileSystem, qint64 total, qint64 free,
                           bool external) {
        VolumeInfo info;
        info.name = QString::fromLatin1(name);
        info.device = QString::fromLatin1(device);
        info.rawDevice = info.device;
        info.mountPoint = u"/media/alex/"_s + info.name;
        info.fileSystem = QString::fromLatin1(fileSystem);
        info.totalSize = total;
        info.freeSize = free;
        info.isExternal = external;
        info.isRemovable = external;
        return info;
    };
    constexpr qint64 GB = 1'000'000'000;
    service->volumes()->setVolumes({volume("EOS_DIGITAL", "/dev/sdb1", "exfat", 64 * GB, 51 * GB, true),
                                    volume("Backup", "/dev/sdc1", "ext4", 2000 * GB, 612 * GB, true),
                                    volume("Root", "/dev/nvme0n1p2", "ext4", 499 * GB, 143 * GB, false)});
    screen->setScanMode(Mode::rawDevice);
    screen->selectVolume(service->volumes()->index(0).data(int(VolumeListModel::Role::id)).toString());
    shots.settle(400);
    scrollSetup(shots, 250);
    shots.settle(300);
    shots.save(u"deepscan-2-setup-volume-scan.png"_s);

    screen->setScanMode(Mode::directory);
    screen->setScanPath(u"/home/alex/Pictures"_s);
    screen->setSelectedSignatures({u"JPEG"_s, u"PNG"_s, u"GIF"_s, u"HEIC"_s, u"PDF"_s, u"ZIP/DOCX"_s, u"MP4"_s,
                                   u"MOV"_s, u"MP3 (ID3)"_s});
    shots.settle(400);
    scrollSetup(shots, 10'000);
    shots.settle(300);
    shots.save(u"deepscan-3-setup-directory.png"_s);

    screen->setScanMode(Mode::diskImage);
    screen->setScanPath(QString());
    QStringList everyType;
    for (const FileSignature &signature : defaultSignatures())
        everyType.append(signature.typeName);
    screen->setSelectedSignatures(everyType);
    shots.settle(400);
    scrollSetup(shots, 10'000);
    shots.settle(300);
    shots.save(u"deepscan-4-setup-disk-image.png"_s);

    // A scan: it holds at the start, at 42 %, and once its hits are in. It
    // runs as the Deleted Files mode of the camera card, so that the scanned
    // source is a device, as it is for the same-device warning.
    auto pacer = std::make_shared<Pacer>();
    QTemporaryDir trash;
    service->setDeletedFilesScan([pacer, trashPath = trash.path()](ReviewingSink &sink, const VolumeInfo &, const QList<FileSignature> &) {
        pacer->stop();
        sink.postCarvedFiles(trashHits(trashPath));
        sink.postCarvedFiles(sampleHits(37, 0x2f1000));
        const qint64 total = 2926 * MiB;
        const auto status = [total](qint64 scanned) {
            return [=](qsizetype count) -> QString {
                return u"Scanning EOS_DIGITAL: "_s + formatByteCount(scanned) + u" / "_s + formatByteCount(total)
                    + u" — %1 files found"_s.arg(count);
            };
        };
        sink.postProgress(quint64(total * 42 / 100), 0.42, status(total * 42 / 100));
        pacer->stop();
        sink.postCarvedFiles(sampleHits(21, 0x9d000000));
        sink.postProgress(quint64(total), 1.0, status(total));
        int existing = 0;
        sink.withHits([&](HitTable &hits) {
            for (qsizetype row = 0; row < hits.hitCount(); ++row) {
                const bool exists = row % 5 == 2;
                existing += exists;
                hits.setRecoveryStatus(row, exists ? RecoveryStatus::existing : RecoveryStatus::deleted,
                                       exists ? std::optional(u"/home/alex/Pictures/2023/IMG_%1.%2"_s.arg(2041 + row)
                                                                   .arg(hits.hitAt(row).fileExtension))
                                              : std::nullopt);
            }
        });
        sink.postExistingFileCount(existing);
    });
    screen->setScanMode(Mode::deletedFiles);
    screen->startScan();
    if (!service->isScanning()) {
        std::fprintf(stderr, "no volume to scan\n");
        shots.ok = false;
        return;
    }
    pacer->reached.acquire();
    shots.settle(700);
    shots.save(u"deepscan-5-progress-start.png"_s);
    pacer->go.release();
    pacer->reached.acquire();
    shots.settle(900);
    shots.save(u"deepscan-6-progress-42.png"_s);
    pacer->go.release();
    waitFor(shots, [&] { return !service->isScanning(); });
    // A card full of junk matches: past the list's limit they are only counted.
    service->carvedFiles()->append({}, {{u"BMP"_s, 31'208}, {u"MP3"_s, 4'417}});
    shots.settle(500);

    // Results: existing hits hidden, then shown with some hits chosen.
    auto *list = screen->visibleFiles();
    for (const int row : {0, 1, 3, 6})
        list->toggle(row);
    shots.settle(300);
    shots.save(u"deepscan-7-results.png"_s);
    screen->setHideExistingFiles(false);
    shots.settle(400);
    shots.save(u"deepscan-8-results-existing-shown.png"_s);
    screen->setShowUnverified(true);
    shots.settle(400);
    shots.save(u"deepscan-8b-results-unverified-shown.png"_s);
    screen->setShowUnverified(false);
    shots.settle(300);

    // The folder dialog answers as a user would; the same-device warning
    // comes first, then a save that is caught halfway, then its counts.
    QTemporaryDir folder;
    QObject *dialog = view->property("saveFolderDialog").value<QObject *>();
    const auto chooseFolder = [&](const QString &path) {
        shots.settle(300);
        dialog->setProperty("selectedFolder", QUrl::fromLocalFile(path));
        QMetaObject::invokeMethod(dialog, "accept");
    };
    screen->setSameDeviceCheck([](const QString &, const QString &) { return true; });
    screen->requestSaveSelected();
    chooseFolder(folder.path());
    shots.settle(500);
    shots.save(u"deepscan-9-same-device-warning.png"_s);
    screen->cancelPendingSave();
    screen->setSameDeviceCheck([](const QString &, const QString &) { return false; });
    shots.settle(300);

    std::shared_ptr<HeldSource> held;
    service->carvedFiles()->append(heldHits(12, 0xa0000000, 200 * 1024, 5, &held));
    shots.settle(100);
    list->clearSelection();
    for (int row = list->rowCount() - 12; row < list->rowCount(); ++row)
        list->toggle(row);
    screen->requestSaveSelected();
    chooseFolder(folder.path());
    if (screen->showSaveConfirmation())
        screen->confirmSave();
    held->held.acquire();
    shots.settle(600);
    shots.save(u"deepscan-10-saving.png"_s);
    held->gate.release(100);
    waitFor(shots, [&] { return screen->showSaveAlert(); });
    shots.settle(500);
    shots.save(u"deepscan-11-save-alert.png"_s);
    screen->dismissSaveAlert();

    // A save that writes nothing: the chosen "folder" is a file.
    const QString notAFolder = folder.filePath(u"not-a-folder"_s);
    QFile(notAFolder).open(QIODevice::WriteOnly);
    screen->requestSaveAll();
    chooseFolder(notAFolder);
    if (screen->showSaveConfirmation())
        screen->confirmSave();
    waitFor(shots, [&] { return screen->showSaveAlert(); });
    shots.settle(500);
    shots.save(u"deepscan-11b-save-alert-failures.png"_s);
    screen->dismissSaveAlert();

    // A scan that ends with an error and nothing found.
    screen->newScan();
    const QString errorText = u"Cannot open /dev/sdb: Permission denied"_s + runningPlatform()->texts().rawAccessPrivileges;
    service->setDeletedFilesScan([errorText](ReviewingSink &sink, const VolumeInfo &, const QList<FileSignature> &) {
        sink.postError(errorText);
    });
    screen->startScan();
    waitFor(shots, [&] { return !service->isScanning(); });
    shots.settle(500);
    shots.save(u"deepscan-12-error.png"_s);
}
