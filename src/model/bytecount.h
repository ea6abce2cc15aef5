#pragma once

#include <QString>
#include <QtGlobal>

// The one byte-count formatter of the program. Sizes are written the way the
// macOS file style writes them: decimal units (1 KB = 1000 bytes), whole
// kilobytes, one decimal for megabytes, two for gigabytes and above, no
// trailing zeros, "Zero KB" for nothing and "1 byte" / "N bytes" below 1 KB.
// So 2,097,152 bytes is "2.1 MB" and 1,500,000,000 is "1.5 GB".
QString formatByteCount(qint64 bytes);
