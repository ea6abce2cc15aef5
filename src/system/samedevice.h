#pragma once

#include <QString>

// Whether saving into `folder` would write onto the storage a scan read
// `scannedSource` from: the same block device, a partition of the scanned
// disk, or the disk that holds the scanned partition. Saved files would then
// take the very free space the deleted files lie in. A disk-image file is not
// a device: saving into the file system that holds the image is fine. False
// when either side can't be resolved.
bool savesOntoScannedDevice(const QString &folder, const QString &scannedSource);
