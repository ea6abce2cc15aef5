#pragma once

#include <QList>
#include <QString>

#include <cstdint>
#include <span>

#include "carving/scansink.h"
#include "model/filesignature.h"
#include "system/treewalk.h"

// The Directory Scan: every existing file below a folder whose first bytes
// carry a known signature becomes one hit that stands for the whole file
// (offset 0, the size the file system reports, no bytes, health good, the
// file's path in sourcePath); saving such a hit copies the file. It reads at
// most 16 bytes of each file and needs no special rights.
//
// The walk is a TreeWalk (links are never followed, pseudo file systems never
// entered) over `root` with the given scope: a volume's mount point stays on
// its own mount, a folder the user picked may lead into disks mounted below
// it. Hidden files are scanned like any other. Only regular files are opened,
// never blocking and never through a link.
//
// Reports through `sink`: each hit, followed by "Found N files... NAME" (N the
// hits so far; the list of hits is empty when a Directory Scan starts), and
// "Scanned N files..." whenever the count of entries seen (folders and
// everything else included) reaches a multiple of 100 on an entry that was
// read. Hits found within one interval of the service's progress pace are
// sent together, with the "Found" text of the last one. A root that can't be
// listed is reported as the error "Cannot access directory: ROOT". The cancel
// flag is read before each entry; the hits found so far stay.
void scanDirectoryTree(const QString &root, const QList<FileSignature> &signatures, ScanSink &sink,
                       TreeWalk::Scope scope);

namespace DirectoryScan {
inline constexpr qsizetype headSize = 16;
inline constexpr int progressInterval = 100;
} // namespace DirectoryScan

// The index in `signatures` of the first one that recognises a file starting
// with `head` (all the bytes read of it): its header fits in `head` and
// starts it, and its validator, if any, accepts `head`. -1 when none does.
int recogniseFile(std::span<const std::uint8_t> head, const QList<FileSignature> &signatures);
