// quorvel-carve: the Deep Scan of a device or disk image from the command
// line, with the same engine, texts and saving rules as the window program.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "carving/carvedhits.h"
#include "carving/directscan.h"
#include "system/platform.h"
#include "carving/filecarvingservice.h"
#include "carving/savecarved.h"
#include "carving/scanpace.h"
#include "model/bytecount.h"

namespace {

enum ExitCode { ok = 0, failure = 1, usage = 2, interrupted = 130 };

std::atomic<bool> stopRequested{false};

void onInterrupt(int)
{
    stopRequested.store(true);
    std::signal(SIGINT, SIG_DFL); // a second Ctrl-C ends the program at once
}

void printTo(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
}

int complain(const QString &text, int code)
{
    printTo(stderr, QStringLiteral("quorvel-carve: ") + text + QLatin1Char('\n'));
    return code;
}

// Reports a scan on the console: hits on stdout when listing, progress on
// stderr as a bar on a terminal and as plain lines otherwise.
class ConsoleSink final : public ReviewingSink
{
public:
    ConsoleSink(bool listHits, qint64 knownTotal)
        : m_listHits(listHits)
        , m_knownTotal(knownTotal)
        , m_terminal(::isatty(STDERR_FILENO) == 1)
    {
        m_clock.start();
    }

    bool shouldCancel() const override { return stopRequested.load(); }

    void postStatus(const QString &text) override
    {
        m_began = true;
        clearBar();
        printTo(stderr, text + QLatin1Char('\n'));
    }

    void postError(const QString &text) override
    {
        m_failed = true;
        clearBar();
        printTo(stderr, QStringLiteral("quorvel-carve: ") + text + QLatin1Char('\n'));
    }

    void postCarvedFiles(QList<CarvedFile> files) override
    {
        if (m_listHits) {
            clearBar();
            for (const CarvedFile &file : std::as_const(files))
                printTo(stdout, listLine(file));
            std::fflush(stdout);
        }
        m_hits.append(files);
    }

    // offset, type, extension, size, health, then what the walk found: the
    // whole file's length (or "-") and "Verified" or why not.
    static QString listLine(const CarvedFile &file)
    {
        const QString length =
            file.verification.isVerified() ? QString::number(file.verification.length) : QStringLiteral("-");
        return QString::number(file.offset) + QLatin1Char('\t') + file.signatureType + QLatin1Char('\t')
            + file.fileExtension + QLatin1Char('\t') + QString::number(file.estimatedSize) + QLatin1Char('\t')
            + rawValue(file.health) + QLatin1Char('\t') + length + QLatin1Char('\t') + file.verification.text()
            + QLatin1Char('\n');
    }

    void postProgress(quint64 bytesScanned, std::optional<double> fraction,
                      std::function<QString(qsizetype)> statusText) override
    {
        m_bytesScanned = bytesScanned;
        const qint64 now = m_clock.elapsed();
        if (m_terminal) {
            if (m_lastShown >= 0 && now - m_lastShown < 100)
                return;
            m_lastShown = now;
            drawBar(fraction);
        } else {
            if (m_lastShown >= 0 && now - m_lastShown < 1000)
                return;
            m_lastShown = now;
            printTo(stderr, statusText(qsizetype(m_hits.hitCount())) + QLatin1Char('\n'));
        }
    }

    void postReadOutcome(const ReadOutcome &outcome) override { m_readOutcome = outcome; }
    const ReadOutcome &readOutcome() const { return m_readOutcome; }

    bool withHits(const std::function<void(HitTable &)> &step) override
    {
        HitList table(m_hits);
        step(table);
        return true;
    }

    void postExistingFileCount(int) override {}

    void finish() { clearBar(); }

    const CarvedHits &hits() const { return m_hits; }
    quint64 bytesScanned() const { return m_bytesScanned; }
    double seconds() const { return double(m_clock.elapsed()) / 1000.0; }
    bool failed() const { return m_failed; }
    // Whether the scan began reading; one refused before that has no summary.
    bool began() const { return m_began; }

private:
    // The hits as the matching sees them.
    class HitList final : public HitTable
    {
    public:
        explicit HitList(CarvedHits &hits) : m_hits(hits) {}
        qsizetype hitCount() const override { return m_hits.size(); }
        CarvedFile hitAt(qsizetype row) const override { return m_hits.at(row); }
        void setRecoveryStatus(qsizetype row, RecoveryStatus status, std::optional<QString> path) override
        {
            m_hits.setRecoveryStatus(row, status, path);
        }

    private:
        CarvedHits &m_hits;
    };

    void drawBar(std::optional<double> fraction)
    {
        const ScanPace pace = ScanPace::of(m_bytesScanned, fraction, double(m_clock.elapsed()) / 1000.0);
        QString line = QStringLiteral("\r");
        if (fraction) {
            constexpr int width = 30;
            const int filled = int(*fraction * width);
            line += QLatin1Char('[') + QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('.'))
                + QStringLiteral("] ") + QString::asprintf("%5.1f%% ", *fraction * 100.0);
        }
        line += formatByteCount(qint64(m_bytesScanned));
        if (m_knownTotal > 0)
            line += QStringLiteral(" / ") + formatByteCount(m_knownTotal);
        line += QStringLiteral("  ") + formatByteCount(qint64(pace.bytesPerSecond)) + QStringLiteral("/s");
        if (pace.secondsLeft)
            line += QStringLiteral("  ETA ") + formatDuration(*pace.secondsLeft);
        line += QStringLiteral("  ") + QString::number(m_hits.verifiedCount()) + QStringLiteral(" verified, ")
            + QString::number(m_hits.hitCount()) + QStringLiteral(" found\033[K");
        printTo(stderr, line);
        std::fflush(stderr);
        m_barShown = true;
    }

    void clearBar()
    {
        if (!m_barShown)
            return;
        printTo(stderr, QStringLiteral("\r\033[K"));
        m_barShown = false;
    }

    bool m_listHits;
    qint64 m_knownTotal;
    bool m_terminal;
    bool m_barShown = false;
    bool m_failed = false;
    bool m_began = false;
    QElapsedTimer m_clock;
    qint64 m_lastShown = -1;
    quint64 m_bytesScanned = 0;
    CarvedHits m_hits;
    ReadOutcome m_readOutcome;
};

// The catalogue entries named in a comma-separated list, in catalogue order.
std::optional<QList<FileSignature>> chooseTypes(const QString &list, QString *problem)
{
    QStringList wanted;
    for (const QString &name : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString trimmed = name.trimmed();
        bool known = false;
        for (const FileSignature &signature : defaultSignatures()) {
            if (signature.typeName.compare(trimmed, Qt::CaseInsensitive) == 0) {
                wanted.append(signature.typeName);
                known = true;
            }
        }
        if (!known) {
            QStringList names;
            for (const FileSignature &signature : defaultSignatures())
                names.append(signature.typeName);
            *problem = QStringLiteral("unknown file type '") + trimmed + QStringLiteral("'; known types: ")
                + names.join(QStringLiteral(", "));
            return std::nullopt;
        }
    }
    if (wanted.isEmpty()) {
        *problem = QStringLiteral("--types names no file type");
        return std::nullopt;
    }
    return FileCarvingService::signaturesNamed(wanted);
}

void listTypes()
{
    for (const FileSignature &signature : defaultSignatures()) {
        printTo(stdout, signature.typeName + QLatin1Char('\t') + signature.fileExtension + QLatin1Char('\t')
                            + rawValue(signature.category) + QLatin1Char('\n'));
    }
}

// Creates the folder when missing and checks that files can be made in it.
bool prepareFolder(const QString &folder, QString *problem)
{
    if (!QFileInfo::exists(folder) && !QDir().mkpath(folder)) {
        *problem = QStringLiteral("cannot create the folder ") + folder;
        return false;
    }
    if (!QFileInfo(folder).isDir()) {
        *problem = folder + QStringLiteral(" is not a folder");
        return false;
    }
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0) {
        *problem = QStringLiteral("cannot write to ") + folder + QStringLiteral(": ")
            + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvel-carve"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
    const std::shared_ptr<Platform> platform = runningPlatform();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Finds files by their signatures in a device or disk image and saves them. The source is only read."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("SOURCE"), QStringLiteral("Device node or disk-image file to scan."));
    const QCommandLineOption outputOption(
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Save the verified hits (whole files, at their true length) into FOLDER."), QStringLiteral("FOLDER"));
    const QCommandLineOption allOption(
        QStringLiteral("all"),
        QStringLiteral("With -o, also save the unverified hits, each as the bytes carved at its offset."));
    const QCommandLineOption typesOption(QStringLiteral("types"),
                                         QStringLiteral("Look only for these types (comma-separated, see --list-types)."),
                                         QStringLiteral("TYPES"));
    const QCommandLineOption listOption(
        QStringLiteral("list"),
        QStringLiteral("Print each hit on stdout: offset, type, extension, size, health, verified length (or -), "
                       "verification (tab-separated)."));
    const QCommandLineOption listTypesOption(QStringLiteral("list-types"), QStringLiteral("Print the file types and exit."));
    const QCommandLineOption listVolumesOption(
        QStringLiteral("list-volumes"),
        QStringLiteral("Print the mounted volumes (name, mount point, device, file system, space, flags; tab-separated) and exit."));
    parser.addOptions({outputOption, allOption, typesOption, listOption, listTypesOption, listVolumesOption});

    if (!parser.parse(QCoreApplication::arguments()))
        return complain(parser.errorText() + QStringLiteral(" (see --help)"), usage);
    if (parser.isSet(QStringLiteral("help"))) {
        printTo(stdout, parser.helpText());
        return ok;
    }
    if (parser.isSet(listTypesOption)) {
        listTypes();
        return ok;
    }
    if (parser.isSet(listVolumesOption)) {
        const QList<VolumeInfo> volumes = platform->discoverVolumes();
        if (volumes.isEmpty())
            return complain(QStringLiteral("no mounted volume found"), failure);
        printTo(stdout, formatVolumeList(volumes));
        return ok;
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return complain(positional.isEmpty() ? QStringLiteral("no SOURCE given (see --help)")
                                             : QStringLiteral("give exactly one SOURCE (see --help)"),
                        usage);
    const QString source = positional.first();

    QList<FileSignature> signatures = defaultSignatures();
    if (parser.isSet(typesOption)) {
        QString problem;
        const auto chosen = chooseTypes(parser.value(typesOption), &problem);
        if (!chosen)
            return complain(problem, usage);
        signatures = *chosen;
    }

    const bool saving = parser.isSet(outputOption);
    const QString folder = saving ? QDir::cleanPath(parser.value(outputOption)) : QString();
    if (saving) {
        QString problem;
        if (!prepareFolder(folder, &problem))
            return complain(problem, failure);
    }

    // Checked here so that a missing source gets a plain message rather than
    // the window program's advice about scan modes.
    // Non-blocking: a named pipe must not hold the open until a writer comes.
    const int fd = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return complain(QStringLiteral("cannot open ") + source + QStringLiteral(": ")
                            + QString::fromLocal8Bit(std::strerror(errno)),
                        failure);
    struct stat status {};
    const bool isFolder = ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
    const DirectScan::Sizes sizes = DirectScan::sizesOf(fd);
    ::close(fd);
    if (isFolder)
        return complain(source + QStringLiteral(" is a folder; give a device or disk-image file"), failure);

    std::signal(SIGINT, onInterrupt);
    ConsoleSink sink(parser.isSet(listOption), sizes.knownTotal);
    scanRawFile(source, signatures, QFileInfo(source).fileName(), sink, ScanTexts::of(platform->texts()));
    sink.finish();
    // A source that was refused (it can't be read to an end, or opened) was
    // not scanned: its error stands alone, without a "Scan complete" line.
    if (!sink.began())
        return failure;
    const CarvedHits &hits = sink.hits();
    const QString summary = FileCarvingService::completionText(qsizetype(hits.hitCount()), sink.bytesScanned(),
                                                               sink.seconds(), sink.readOutcome());
    QString tally = QString::number(hits.verifiedCount()) + QStringLiteral(" verified, ")
        + QString::number(hits.unverifiedCount()) + QStringLiteral(" unverified");
    if (const QString notListed = FileCarvingService::notListedText(hits.notListedCount()); !notListed.isEmpty())
        tally += QStringLiteral(" (") + notListed + QLatin1Char(')');

    int exitCode = sink.failed() ? failure : ok;
    // Unverified hits are matches a walk refused: junk far more often than
    // a file, so they are saved only when asked for.
    QList<CarvedFile> toSave;
    if (saving) {
        const bool all = parser.isSet(allOption);
        for (qsizetype row = 0; row < hits.size(); ++row) {
            if (all || hits.verificationState(row) != Verification::State::unverified)
                toSave.append(hits.at(row));
        }
    }
    if (!toSave.isEmpty()) {
        qint64 needed = 0;
        for (const CarvedFile &hit : std::as_const(toSave))
            needed += hit.savedLength();
        const QStorageInfo storage(folder);
        if (storage.isValid() && needed > storage.bytesAvailable()) {
            printTo(stderr, summary + QLatin1Char('\n') + tally + QLatin1Char('\n'));
            return complain(QString::number(toSave.size()) + QStringLiteral(" hits need ") + formatByteCount(needed)
                                + QStringLiteral(" but ") + folder + QStringLiteral(" has only ")
                                + formatByteCount(storage.bytesAvailable())
                                + QStringLiteral(" free; nothing was saved. Choose a folder on another disk, or "
                                                 "narrow the search with --types."),
                            failure);
        }
        const SaveCounts counts = saveCarvedFiles(toSave, folder);
        printTo(stderr, QStringLiteral("Saved: %1 files\nFailed: %2\nNo data: %3\n")
                            .arg(counts.saved)
                            .arg(counts.failed)
                            .arg(counts.noData));
        if (counts.failed + counts.noData > 0)
            exitCode = failure;
    } else if (saving && hits.unverifiedCount() > 0 && !parser.isSet(allOption)) {
        printTo(stderr, QStringLiteral("No verified hits to save; --all saves the unverified ones too.\n"));
    }
    printTo(stderr, tally + QLatin1Char('\n'));
    printTo(stderr, summary + QLatin1Char('\n'));
    if (stopRequested.load())
        return interrupted;
    return exitCode;
}
