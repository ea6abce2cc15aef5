#pragma once

#include <QString>

// The names a file may take in a folder without replacing anything there, in
// the order to try them: its own name, then "stem (1).ext", "stem (2).ext"...
// The extension is what follows the last dot; a leading dot starts a hidden
// name, not an extension ("report (1).pdf", "archive.tar (1).gz",
// ".profile (1)", "notes (1)"). Callers create each candidate exclusively (or
// move onto it without replacing) and take the next one when it is taken, so
// nothing is overwritten even when another process takes a name meanwhile.
class CollisionFreeNames
{
public:
    CollisionFreeNames(QString folder, const QString &fileName);

    // The next candidate's full path.
    QString next();

    // The first candidate that does not exist now (for callers that can't
    // create exclusively, such as an administrator copy).
    QString firstFree();

private:
    QString m_folder;
    QString m_fileName;
    QString m_stem;
    QString m_extension;
    int m_next = 0;
};
