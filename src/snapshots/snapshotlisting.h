#pragma once

// Listing the snapshots of the system a platform stands for. Both calls
// block on the system's tools: call them on a worker.

#include <QString>

#include <optional>

#include "snapshots/linuxsnapshots.h"
#include "snapshots/snapshotentry.h"

class Platform;

// macOS: `diskutil apfs listSnapshots /`, failed when its output can't be
// read. Linux: every tool of linuxSnapshotRuns() run as this user, failed
// when one of them could not run or refused.
SnapshotListing listSnapshots(Platform &platform, const LinuxSnapshotSources &sources);

// Linux: the same runs as root in one administrator shell (one password
// prompt). Nothing when the password dialog was dismissed or elevation is
// not possible.
std::optional<SnapshotListing> listSnapshotsAsAdministrator(Platform &platform, LinuxSnapshotSources sources);
