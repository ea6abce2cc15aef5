#pragma once

#include <QList>
#include <QString>

#include <optional>

#include "carving/savecarved.h"
#include "model/records.h"

// Saving the hits of a finished scan from the terminal: what fits into the
// destination (and into --max-bytes) is saved in order with a progress line,
// and every hit gets a row in the report beside the saved files.

struct SaveOutcome {
    SaveCounts counts;
    int leftOutForSpace = 0;   // didn't fit into the free space
    int leftOutForLimit = 0;   // didn't fit into --max-bytes
    int notTried = 0;          // stopped with Ctrl-C before their turn
    qint64 bytesWritten = 0;
    QString reportPath;
    // Why hits were not saved, each reason with its count, in the order met.
    QList<std::pair<QString, int>> reasons;
    bool folderFailed = false; // the folder or the report could not be made
};

// The report's columns, tab-separated, one hit a line after a header line.
// Offsets are written in decimal and the way saved names write them; a tab,
// line feed or backslash inside a field is written \t, \n, \\.
QString reportHeader();
QString reportLine(const CarvedFile &hit, const QString &savedName, qint64 length, const QByteArray &sha256,
                   const QString &status, const QString &reason);

SaveOutcome saveHits(const QList<CarvedFile> &hits, const QString &folder, std::optional<qint64> maxBytes);
