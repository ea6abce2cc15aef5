#pragma once

#include <QList>
#include <QString>

#include <memory>

#include "carving/carvedhits.h"
#include "carving/scansink.h"
#include "cli/options.h"
#include "model/records.h"

class Platform;

// Running one scan from the terminal until it ends or Ctrl-C stops it.

struct ScanOutcome {
    CarvedHits hits;
    quint64 bytesScanned = 0;
    double seconds = 0.0;
    bool failed = false;     // the scan reported an error
    bool cancelled = false;  // stopped with Ctrl-C
    ReadOutcome readOutcome; // what a raw read skipped or lost

    // "Scan complete: ..." as the window shows it, or "Scan cancelled: ..."
    // with what was found until then.
    QString summary() const;
    // "N verified, M unverified", with the hits counted but not listed.
    QString tally() const;
};

// A device node or disk image read here, hits listed as they are found.
ScanOutcome runRawScan(const CarveOptions &options, qint64 knownTotal, const Platform &platform);

// A Directory, Volume or Deleted Files scan run by the Deep Scan service, as the
// window runs it; hits are listed when it ends, with their recovery status.
ScanOutcome runServiceScan(const CarveOptions &options, const std::shared_ptr<Platform> &platform,
                           const VolumeInfo &volume);
