#include "savephase.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "carving/scanpace.h"
#include "cli/console.h"
#include "cli/interrupts.h"
#include "model/bytecount.h"
#include "model/collisionfreenames.h"
#include "model/tabseparated.h"
#include "system/samedevice.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// The report is written as files are saved, so that it covers them even
// when the program is ended before it is done.
class Report
{
public:
    bool open(const QString &folder, const SaveAccess &access, QString *error)
    {
        CollisionFreeNames names(folder, u"quorvel-report.tsv"_s);
        for (;;) {
            m_path = names.next();
            m_fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                          access.fileMode());
            if (m_fd >= 0)
                break;
            if (errno != EEXIST) {
                *error = u"cannot create the report "_s + m_path + u": "_s + QString::fromLocal8Bit(std::strerror(errno));
                return false;
            }
        }
        if (access.owner != uid_t(-1))
            (void)::fchown(m_fd, access.owner, access.group);
        write(reportHeader());
        return true;
    }
    ~Report()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    void write(const QString &line)
    {
        const QByteArray bytes = line.toUtf8();
        qsizetype done = 0;
        while (m_fd >= 0 && done < bytes.size()) {
            const ssize_t wrote = ::write(m_fd, bytes.constData() + done, std::size_t(bytes.size() - done));
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0) {
                complain(u"cannot write the report "_s + m_path + u": "_s + QString::fromLocal8Bit(std::strerror(errno)), 1);
                ::close(m_fd);
                m_fd = -1;
                return;
            }
            done += wrote;
        }
    }

    QString path() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
};

struct Plan {
    QList<qsizetype> chosen;  // indices into the hits, in order
    QList<qsizetype> leftOutForSpace;
    QList<qsizetype> leftOutForLimit;
    qint64 neededBytes = 0;  // all hits, with the file system's block rounding
    qint64 chosenBytes = 0;
};

// Every hit in order, each taken while it still fits: a hit too large for
// what is left is passed over, and smaller ones after it may still go.
Plan plan(const QList<CarvedFile> &hits, qint64 available, qint64 blockSize, std::optional<qint64> maxBytes)
{
    Plan result;
    const qint64 block = blockSize > 0 ? blockSize : 4096;
    qint64 spaceUsed = 0;
    qint64 bytesUsed = 0;
    for (qsizetype index = 0; index < hits.size(); ++index) {
        const qint64 length = std::max<qint64>(hits.at(index).savedLength(), 0);
        // A file takes whole blocks, and its directory entry some room too.
        const qint64 cost = (length + block - 1) / block * block + block;
        result.neededBytes += cost;
        if (maxBytes && bytesUsed + length > *maxBytes) {
            result.leftOutForLimit.append(index);
        } else if (spaceUsed + cost > available) {
            result.leftOutForSpace.append(index);
        } else {
            spaceUsed += cost;
            bytesUsed += length;
            result.chosen.append(index);
            result.chosenBytes += length;
        }
    }
    return result;
}

} // namespace

QString reportHeader()
{
    return u"name\ttype\toffset\toffset_hex\tlength\tverification\tsha256\tstatus\treason\trecovery\tmatched_path\n"_s;
}

QString reportLine(const CarvedFile &hit, const QString &savedName, qint64 length, const QByteArray &sha256,
                   const QString &status, const QString &reason)
{
    return QStringList{tabSeparatedField(savedName),
                       tabSeparatedField(hit.signatureType),
                       QString::number(hit.offset),
                       hexOffset(hit.offset),
                       QString::number(length),
                       tabSeparatedField(hit.verification.text()),
                       QString::fromLatin1(sha256.toHex()),
                       status,
                       tabSeparatedField(reason),
                       rawValue(hit.recoveryStatus),
                       tabSeparatedField(hit.matchedExistingPath.value_or(QString()))}
               .join(u'\t')
        + u'\n';
}

SaveOutcome saveHits(const QList<CarvedFile> &hits, const QString &folder, std::optional<qint64> maxBytes)
{
    SaveOutcome outcome;
    // Keep a little room for the report and the file system's own needs.
    constexpr qint64 reserve = 1024 * 1024;
    const QStorageInfo storage(nearestExistingPath(folder));
    const qint64 available = storage.isValid() ? std::max<qint64>(storage.bytesAvailable() - reserve, 0)
                                               : std::numeric_limits<qint64>::max();
    const Plan chosen = plan(hits, available, storage.isValid() ? storage.blockSize() : 4096, maxBytes);
    outcome.leftOutForSpace = int(chosen.leftOutForSpace.size());
    outcome.leftOutForLimit = int(chosen.leftOutForLimit.size());

    ProgressLine progress;
    if (!chosen.leftOutForSpace.isEmpty()) {
        progress.print(u"Not enough space in "_s + folder + u" for every hit: "_s + QString::number(hits.size())
                       + u" hits need "_s + formatByteCount(chosen.neededBytes) + u", "_s
                       + formatByteCount(available) + u" are free. Saving the hits that fit, in order; "
                                                       "choose a folder on a larger disk, narrow the search with "
                                                       "--types, or set a limit with --max-bytes."_s);
    }

    const SaveAccess access = SaveAccess::current();
    QString problem;
    Report report;
    if (!createSaveFolder(folder, access, &problem) || !report.open(folder, access, &problem)) {
        complain(problem, 1);
        outcome.folderFailed = true;
        return outcome;
    }
    outcome.reportPath = report.path();

    QList<CarvedFile> batchHits;
    for (const qsizetype index : chosen.chosen)
        batchHits.append(hits.at(index));
    const qsizetype total = batchHits.size();
    QElapsedTimer clock;
    clock.start();
    qint64 plannedDone = 0;
    QList<bool> tried(total, false);
    int failures = 0;

    SaveObserver observer;
    observer.access = access;
    observer.proceed = [] { return !stopRequested(); };
    qsizetype triedCount = 0;
    observer.done = [&](const CarvedFile &hit, const SaveResult &result) {
        tried[triedCount] = true;
        plannedDone += hit.savedLength();
        if (result) {
            outcome.bytesWritten += result.bytesWritten;
            report.write(reportLine(hit, QFileInfo(result.savedPath).fileName(),
                                    result.bytesWritten > 0 ? result.bytesWritten : hit.savedLength(), result.sha256,
                                    u"saved"_s, QString()));
        } else {
            report.write(reportLine(hit, QString(), hit.savedLength(), QByteArray(),
                                    canRecover(hit) ? u"failed"_s : u"no data"_s, result.error->reason));
            // The first few in full; the summary counts the rest by reason.
            if (++failures <= 5)
                progress.print(u"Not saved: "_s + hit.suggestedFileName() + u": "_s + result.error->description);
            auto reason = std::find_if(outcome.reasons.begin(), outcome.reasons.end(),
                                       [&](const auto &entry) { return entry.first == result.error->reason; });
            if (reason == outcome.reasons.end())
                outcome.reasons.append({result.error->reason, 1});
            else
                ++reason->second;
        }
        const double fraction = chosen.chosenBytes > 0 ? double(plannedDone) / double(chosen.chosenBytes)
                                                       : double(triedCount + 1) / double(total);
        const ScanPace pace = ScanPace::of(quint64(outcome.bytesWritten), fraction, double(clock.elapsed()) / 1000.0);
        const QString counts = QString::number(triedCount + 1) + u" / "_s + QString::number(total) + u" files  "_s
            + formatByteCount(plannedDone) + u" / "_s + formatByteCount(chosen.chosenBytes);
        progress.show(u"Saving "_s + ProgressLine::gauge(fraction) + counts + ProgressLine::pace(pace),
                      u"Saving: "_s + counts, triedCount + 1 == total);
        ++triedCount;
    };
    outcome.counts = saveCarvedFiles(batchHits, folder, observer);
    progress.clear();

    for (qsizetype index = 0; index < total; ++index) {
        if (!tried.at(index)) {
            ++outcome.notTried;
            report.write(reportLine(batchHits.at(index), QString(), batchHits.at(index).savedLength(), QByteArray(),
                                    u"not saved"_s, u"Stopped before its turn"_s));
        }
    }
    for (const qsizetype index : chosen.leftOutForSpace)
        report.write(reportLine(hits.at(index), QString(), hits.at(index).savedLength(), QByteArray(), u"left out"_s,
                                u"Not enough free space"_s));
    for (const qsizetype index : chosen.leftOutForLimit)
        report.write(reportLine(hits.at(index), QString(), hits.at(index).savedLength(), QByteArray(), u"left out"_s,
                                u"Over --max-bytes"_s));
    return outcome;
}
