#pragma once

// A sink for the steps that revisit hits (the existing-file matching): keeps
// everything a step reports, in order, lets it mark the hits it holds, and can
// stop it after a given number of cancel checks.

#include <QStringList>

#include "carving/scansink.h"

class ReviewRecorder final : public ReviewingSink, private HitTable
{
public:
    // Number of cancel checks answered "go on" before the first "stop"; -1
    // never stops.
    int stopAfter = -1;
    mutable int checks = 0;
    QStringList statuses;
    QStringList errors;
    QList<CarvedFile> hits;
    int existingFileCount = -1; // -1: never posted

    bool shouldCancel() const override { return stopAfter >= 0 && checks++ >= stopAfter; }
    void postStatus(const QString &text) override { statuses.append(text); }
    void postError(const QString &text) override { errors.append(text); }
    void postCarvedFiles(QList<CarvedFile> files) override { hits.append(std::move(files)); }
    void postProgress(quint64, std::optional<double>, std::function<QString(qsizetype)> text) override
    {
        statuses.append(text(hits.size()));
    }
    bool withHits(const std::function<void(HitTable &)> &step) override
    {
        step(*this);
        return true;
    }
    void postExistingFileCount(int count) override { existingFileCount = count; }

    QStringList statusesStartingWith(const QString &prefix) const
    {
        QStringList found;
        for (const QString &status : statuses) {
            if (status.startsWith(prefix))
                found.append(status);
        }
        return found;
    }

private:
    qsizetype hitCount() const override { return hits.size(); }
    CarvedFile hitAt(qsizetype row) const override { return hits.at(row); }
    void setRecoveryStatus(qsizetype row, RecoveryStatus status, std::optional<QString> path) override
    {
        hits[row].recoveryStatus = status;
        hits[row].matchedExistingPath = std::move(path);
    }
};
