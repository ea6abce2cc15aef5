#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "carving/scansink.h"
#include "model/filesignature.h"
#include "system/treewalk.h"

// Existing-file matching: telling the hits of a scan that are files still
// present from the ones that were deleted.
//
// matchExistingFiles walks the visible files below a root (hidden files and
// folders are left out, links never followed, pseudo file systems never
// entered; a volume's mount point stays on its own mount), reads at most 32
// bytes of each regular file, and keeps a fingerprint (type, size, header
// hash) of every file of at least 3 bytes that one of the signatures
// recognises; the walk is left out when no hit carries bytes, as none would
// look at the fingerprints. Then each hit is marked:
//
// - a hit without bytes stands for the file at its sourcePath: "deleted" when
//   that path lies in a Trash folder, else "existing" (matched to itself)
//   when a file is there and "deleted" when none is; an empty sourcePath is
//   left as it is;
// - a hit with bytes is "existing" when an existing file has its exact
//   fingerprint (its type, its estimatedSize, the hash of its first 32
//   bytes), or the same type and hash with sizes that differ by at most a
//   tenth of the larger one (integer division); else "deleted".
//
// Texts, through the sink: "Filtering: comparing with existing files on
// volume..." first; "Filtering: checked N existing files..." when the count of
// entries seen reaches a multiple of 500 on a file that was read; and
// "Filtering complete: N existing files identified" at the end, after the
// marks and the count of existing hits. A root that can't be listed ends the
// run after the first text, with nothing marked. The cancel flag ends the walk
// early; the hits are still marked against what was found by then, so those
// whose files were not reached yet count as deleted.
//
// The table is built and every hit looked at on the worker; the hits are read
// and marked through the sink's withHits, in two short steps, so the thread
// that owns them never waits on the file system.
void matchExistingFiles(const QString &root, const QList<FileSignature> &signatures, ReviewingSink &sink,
                        TreeWalk::Scope scope);

namespace ExistingFiles {
inline constexpr qsizetype headSize = 32;
inline constexpr qsizetype minimumHead = 3;
inline constexpr int progressInterval = 500;

// A 64-bit hash of at most the first 32 bytes, mixing in their number and
// every one of them. Only ever compared within one run.
quint64 headerHash(std::span<const std::uint8_t> bytes);

// Whether `path` lies in a Trash folder: the macOS ones (".Trash" in a home,
// ".Trashes" on a volume) and the freedesktop.org ones (".local/share/Trash"
// in a home, ".Trash" or ".Trash-UID" at the top of a volume), in any case.
bool isInTrash(const QString &path);
} // namespace ExistingFiles

// The paths of many files, each stored once as the index of its folder and
// its own name, so that a table of millions of files costs little more than
// their names.
class PathTable
{
public:
    static constexpr quint32 rootIndex = 0;

    explicit PathTable(const QString &root);

    // Adds `name` inside the folder at `parent`; returns its index.
    quint32 add(quint32 parent, std::string_view name);
    QString path(quint32 index) const;
    std::size_t size() const { return m_parents.size(); }

private:
    QByteArray m_root; // "" for "/"
    std::vector<quint32> m_parents;
    std::vector<quint32> m_nameEnds; // names[i] = m_names[m_nameEnds[i - 1], m_nameEnds[i])
    std::string m_names;
};

// The fingerprints of the existing files, sorted by (type, hash, size) so a
// near match looks only at the few entries of its type and hash whose sizes
// lie next to the hit's, whatever the size of the table.
class FingerprintTable
{
public:
    // Types are the indexes of `signatures`.
    explicit FingerprintTable(const QList<FileSignature> &signatures);

    void add(int signature, qint64 size, quint64 hash, quint32 path);
    // Makes the table ready for lookups; of entries with equal fingerprints
    // the one added last is kept.
    void seal();
    std::size_t size() const { return m_entries.size(); }

    // The path of the existing file that a hit of this type, size and header
    // hash matches: the exact fingerprint, else any entry within the size
    // tolerance. Absent when none does or the type is not among the
    // signatures.
    std::optional<quint32> match(const QString &signatureType, qint64 size, quint64 hash) const;

private:
    struct Entry {
        quint64 hash;
        qint64 size;
        quint32 path;
        quint32 type;
    };
    QHash<QString, quint32> m_types;
    std::vector<Entry> m_entries;
};

// What the matching decides for one hit.
struct HitFacts {
    QUuid id;
    bool hasData = false;
    QString sourcePath;
    QString signatureType;
    qint64 estimatedSize = 0;
    QByteArray head;
};

struct Verdict {
    enum class Mark { unchanged, existing, deleted } mark = Mark::unchanged;
    std::optional<QString> matchedPath; // for `existing`
};

Verdict judgeHit(const HitFacts &hit, const FingerprintTable &table, const PathTable &paths);
