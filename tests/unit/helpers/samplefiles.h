#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Real files of the catalogue's types, made by the encoders Debian ships
// (ImageMagick, ffmpeg, lame, flac, sox, zip, 7z, Ghostscript, libheif,
// libwebp) in a folder of the caller's. RAR files, for which Debian has no
// free encoder, are put together from RARLAB's description of the format.
struct SampleFile {
    QString name;        // unique, for test rows
    QString typeName;    // the catalogue row that finds it
    QByteArray bytes;    // empty when its encoder is missing
    QString missing;     // why it could not be made
    // The format has an end of its own: two files back to back are told apart.
    bool endsByItself = true;
};

// Makes every sample it can in `folder`; slow encoders are run once each.
QList<SampleFile> makeSampleFiles(const QString &folder);

// RAR archives holding `content` as one stored file.
QByteArray handmadeRar4(const QByteArray &content);
QByteArray handmadeRar5(const QByteArray &content);
