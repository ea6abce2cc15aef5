#pragma once

#include <QString>

// A field of a tab-separated line (a volume list, a hit list, the save
// report): a tab, line feed or backslash inside a name or path is written
// \t, \n, \\ so that the columns stay intact and the text can be recovered.
inline QString tabSeparatedField(QString text)
{
    text.replace(u'\\', QStringLiteral("\\\\"));
    text.replace(u'\t', QStringLiteral("\\t"));
    text.replace(u'\n', QStringLiteral("\\n"));
    return text;
}
