#pragma once

// Structure walkers: one per kind of file in the catalogue. Each reads a
// candidate from its first byte on, the way the format's published
// description lays it out, and says whether a whole file is there and how long it is.
//
// A walker trusts nothing: every size field is checked against the bytes
// that follow, so random data that happens to start with a signature is
// refused after a few bytes, and a real file cut short or overwritten is
// refused where the damage begins. The length of a verified file may be
// shorter or longer than the carve window; walks read past the window
// through HitBytes, never further than the type's largest size.
//
// Walks are pure: the same bytes give the same outcome.

#include <QString>
#include <QStringView>

#include <vector>

#include "carving/verify/hitbytes.h"

namespace Verify {

// What a walk may note for its caller besides the outcome.
struct WalkLog {
    // Frame walkers (MP3, AAC): the start of every frame the walk accepted,
    // ascending. A later candidate at one of them would repeat the walk.
    std::vector<quint64> frames;
};

using Walker = Outcome (*)(HitBytes &bytes, WalkLog *log);

Outcome walkJpeg(HitBytes &bytes, WalkLog *log = nullptr);
Outcome walkPng(HitBytes &bytes, WalkLog *log = nullptr);
Outcome walkGif(HitBytes &bytes, WalkLog *log = nullptr);
Outcome walkBmp(HitBytes &bytes, WalkLog *log = nullptr);
Outcome walkTiff(HitBytes &bytes, WalkLog *log = nullptr);
// RIFF forms: the form type decides what must be inside.
Outcome walkWebp(HitBytes &bytes, WalkLog *log = nullptr);
Outcome walkWav(HitBytes &bytes, WalkLog *log = nullptr);
Outcome walkAvi(HitBytes &bytes, WalkLog *log = nullptr);
// ISO base media files: the brand decides which boxes must be there.
Outcome walkIsoMedia(HitBytes &bytes, WalkLog *log = nullptr);
Outcome walkHeif(HitBytes &bytes, WalkLog *log = nullptr);
Outcome walkPdf(HitBytes &bytes, WalkLog *log = nullptr);
Outcome walkZip(HitBytes &bytes, WalkLog *log = nullptr);
Outcome walkSevenZip(HitBytes &bytes, WalkLog *log = nullptr);
Outcome walkRar(HitBytes &bytes, WalkLog *log = nullptr);
// MPEG audio frames, after an ID3v2 tag when there is one.
Outcome walkMp3(HitBytes &bytes, WalkLog *log = nullptr);
Outcome walkAdts(HitBytes &bytes, WalkLog *log = nullptr);
Outcome walkFlac(HitBytes &bytes, WalkLog *log = nullptr);

// The walker for a catalogue type name, or null for a type none knows.
Walker walkerFor(QStringView typeName);

// Types whose candidates nest inside each other's files: an MP3 frame is a
// "MP3" candidate inside a "MP3 (ID3)" file. Candidates of one family that
// start inside a verified file of that family are parts of it.
QString familyOf(QStringView typeName);

// Walkers whose candidates recur at every unit of a file (frames), so that a
// later candidate on a noted frame has the same outcome as the walk that
// noted it.
bool walksFrames(QStringView typeName);

} // namespace Verify
