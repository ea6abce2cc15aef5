#pragma once

#include <QObject>
#include <QString>
#include <QTemporaryDir>

class SnapshotService;

// Puts the Snapshots and Settings screens into the states their QML tests
// look at: made-up listings (one snapshot with a folder of files to browse,
// one that can't be browsed), a folder to restore into, and the preferences
// back at their defaults. Reached from QML as the singleton
// QuorvelTest.Fixtures.
class SnapshotFixtures : public QObject
{
    Q_OBJECT

public:
    SnapshotFixtures();

    // `count` snapshots (at most 3): a Snapper one with a folder, an LVM
    // one without, a btrfs one without a date. `failed`: the listing also
    // failed; `refusedToUser`: listing as root would help.
    Q_INVOKABLE void fill(QObject *service, int count, bool failed, bool refusedToUser);
    // An empty folder to restore into, and the path of the browsable
    // snapshot's folder.
    Q_INVOKABLE QString freshTarget();
    Q_INVOKABLE QString snapshotFolder() const { return m_snapshot.path(); }
    Q_INVOKABLE void resetSettings();

private:
    QTemporaryDir m_snapshot;
    QTemporaryDir m_live;
    QTemporaryDir m_targets;
    int m_targetCount = 0;
};
