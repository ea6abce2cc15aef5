#include "console.h"

#include <unistd.h>

#include "carving/scanpace.h"
#include "cli/interrupts.h"
#include "model/bytecount.h"
#include "model/tabseparated.h"

using namespace Qt::Literals::StringLiterals;

void printTo(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

int complain(const QString &text, int code)
{
    printTo(stderr, u"quorvel-carve: "_s + text + u'\n');
    return code;
}

bool isTerminal(FILE *stream)
{
    return ::isatty(::fileno(stream)) == 1;
}

QString hexOffset(quint64 offset)
{
    return QString::asprintf("%08llX", static_cast<unsigned long long>(offset));
}

QString hitLine(const CarvedFile &hit, bool withStatus)
{
    QString line = QString::number(hit.offset) + u'\t' + hexOffset(hit.offset) + u'\t' + hit.signatureType + u'\t'
        + hit.fileExtension + u'\t' + QString::number(hit.estimatedSize) + u'\t' + rawValue(hit.health) + u'\t'
        + (hit.verification.isVerified() ? QString::number(hit.verification.length) : u"-"_s) + u'\t'
        + tabSeparatedField(hit.verification.text());
    if (withStatus)
        line += u'\t' + rawValue(hit.recoveryStatus) + u'\t'
            + tabSeparatedField(hit.matchedExistingPath.value_or(QString()));
    return line + u'\n';
}

QString hitHeader(bool withStatus)
{
    return u"OFFSET\tHEX\tTYPE\tEXT\tSIZE\tHEALTH\tWHOLE FILE\tSTRUCTURE"_s + (withStatus ? u"\tSTATUS\tMATCHED PATH"_s : QString()) + u'\n';
}

ProgressLine::ProgressLine()
    : m_terminal(::isTerminal(stderr))
{
    m_clock.start();
}

void ProgressLine::show(const QString &bar, const QString &plain, bool force)
{
    const qint64 now = m_clock.elapsed();
    if (!force && m_last >= 0 && now - m_last < (m_terminal ? 100 : 1000))
        return;
    m_last = now;
    if (m_terminal) {
        printTo(stderr, u"\r"_s + bar + u"\033[K"_s);
        m_shown = true;
    } else {
        printTo(stderr, plain + u'\n');
    }
}

void ProgressLine::clear()
{
    if (!m_shown)
        return;
    printTo(stderr, u"\r\033[K"_s);
    m_shown = false;
}

void ProgressLine::print(const QString &line)
{
    clear();
    printTo(stderr, line + u'\n');
}

QString ProgressLine::gauge(std::optional<double> fraction)
{
    if (!fraction)
        return QString();
    constexpr int width = 30;
    const double clamped = std::clamp(*fraction, 0.0, 1.0);
    const int filled = int(clamped * width);
    return u"["_s + QString(filled, u'#') + QString(width - filled, u'.') + u"] "_s
        + QString::asprintf("%5.1f%% ", clamped * 100.0);
}

QString ProgressLine::pace(const ScanPace &pace)
{
    if (pace.bytesPerSecond <= 0.0)
        return QString();
    QString text = u"  "_s + formatByteCount(qint64(pace.bytesPerSecond)) + u"/s"_s;
    if (pace.secondsLeft)
        text += u"  ETA "_s + formatDuration(*pace.secondsLeft);
    return text;
}

ConsoleSink::ConsoleSink(bool listHits, qint64 knownTotal)
    : m_listHits(listHits)
    , m_knownTotal(knownTotal)
{
    m_clock.start();
    if (m_listHits && ::isTerminal(stdout))
        printTo(stdout, hitHeader(false));
}

bool ConsoleSink::shouldCancel() const
{
    return stopRequested();
}

void ConsoleSink::postStatus(const QString &text)
{
    m_progress.print(text);
}

void ConsoleSink::postError(const QString &text)
{
    m_failed = true;
    m_progress.print(u"quorvel-carve: "_s + text);
}

void ConsoleSink::postCarvedFiles(QList<CarvedFile> files)
{
    if (m_listHits) {
        m_progress.clear();
        QString lines;
        for (const CarvedFile &file : std::as_const(files))
            lines += hitLine(file, false);
        printTo(stdout, lines);
    }
    m_hits.append(files);
}

void ConsoleSink::postProgress(quint64 bytesScanned, std::optional<double> fraction,
                               std::function<QString(qsizetype)> statusText)
{
    m_bytesScanned = bytesScanned;
    const ScanPace pace = ScanPace::of(bytesScanned, fraction, double(m_clock.elapsed()) / 1000.0);
    // The last step counts a whole MiB past the end; the bar doesn't.
    const qint64 shown = m_knownTotal > 0 ? std::min(qint64(bytesScanned), m_knownTotal) : qint64(bytesScanned);
    QString bar = ProgressLine::gauge(fraction) + formatByteCount(shown);
    if (m_knownTotal > 0)
        bar += u" / "_s + formatByteCount(m_knownTotal);
    bar += ProgressLine::pace(pace) + u"  "_s + QString::number(m_hits.verifiedCount()) + u" verified, "_s
        + QString::number(m_hits.hitCount()) + u" found"_s;
    m_progress.show(bar, statusText(qsizetype(m_hits.hitCount())));
}

bool ConsoleSink::withHits(const std::function<void(HitTable &)> &step)
{
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
    HitList table(m_hits);
    step(table);
    return true;
}
