#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <cstdio>
#include <optional>

#include "carving/carvedhits.h"
#include "carving/scanpace.h"
#include "carving/scansink.h"
#include "model/records.h"

// Output of quorvel-carve: results on stdout, everything else on stderr;
// progress as a redrawn bar on a terminal and as plain lines (at most one a
// second) when stderr goes to a file or a pipe.

void printTo(FILE *stream, const QString &text);
// "quorvel-carve: TEXT" on stderr; returns `code` for `return complain(...)`.
int complain(const QString &text, int code);
bool isTerminal(FILE *stream);

// The offset as saved names write it ("00000064").
QString hexOffset(quint64 offset);

// One line of --list for a hit: where, what, the carve's size and health,
// then what the structure walk found (the whole file's length or "-", and
// "Verified" or why not); with `withStatus`, the recovery status and the
// matched path follow.
QString hitLine(const CarvedFile &hit, bool withStatus);
QString hitHeader(bool withStatus);

// A progress line on stderr that other output can interrupt.
class ProgressLine
{
public:
    ProgressLine();

    bool isTerminal() const { return m_terminal; }

    // Shows the state: `bar` on a terminal (at most ten times a second),
    // `plain` as a line elsewhere (at most once a second). `force` skips the
    // pacing, for the last state.
    void show(const QString &bar, const QString &plain, bool force = false);
    // Removes the bar so that a line can be printed in its place.
    void clear();
    // Prints a line on stderr above the bar.
    void print(const QString &line);

    // "[#####.....]  45.0% " for a known fraction, empty otherwise.
    static QString gauge(std::optional<double> fraction);
    // "  2.1 MB/s  ETA 0:42" once there is a rate, empty before.
    static QString pace(const ScanPace &pace);

private:
    bool m_terminal;
    bool m_shown = false;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
};

// Reports a raw scan on the console: hits on stdout when listing, progress
// on stderr.
class ConsoleSink final : public ReviewingSink
{
public:
    ConsoleSink(bool listHits, qint64 knownTotal);

    bool shouldCancel() const override;
    void postStatus(const QString &text) override;
    void postError(const QString &text) override;
    void postCarvedFiles(QList<CarvedFile> files) override;
    void postProgress(quint64 bytesScanned, std::optional<double> fraction,
                      std::function<QString(qsizetype)> statusText) override;
    bool withHits(const std::function<void(HitTable &)> &step) override;
    void postExistingFileCount(int) override {}
    void postReadOutcome(const ReadOutcome &outcome) override { m_readOutcome = outcome; }

    void finish() { m_progress.clear(); }

    const CarvedHits &hits() const { return m_hits; }
    quint64 bytesScanned() const { return m_bytesScanned; }
    bool failed() const { return m_failed; }
    const ReadOutcome &readOutcome() const { return m_readOutcome; }

private:
    bool m_listHits;
    qint64 m_knownTotal;
    bool m_failed = false;
    ProgressLine m_progress;
    QElapsedTimer m_clock;
    quint64 m_bytesScanned = 0;
    CarvedHits m_hits;
    ReadOutcome m_readOutcome;
};
