#pragma once

#include <QList>

#include <vector>

#include "carving/carver.h"

// The carving rules written out as plainly as possible: every position, every
// signature, footer searched backwards byte by byte. Slow; the engine in
// Carver must give exactly the same hits.
std::vector<CarveHit> referenceCarve(const QList<FileSignature> &signatures, const CarveInput &input);
