#include "samplefiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <zlib.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs a shell command in `folder`; the sample is the file it leaves at `output`.
SampleFile make(const QString &folder, const QString &name, const QString &typeName, const QStringList &tools,
                const QString &command, const QString &output, bool endsByItself = true)
{
    SampleFile sample{name, typeName, {}, {}, endsByItself};
    for (const QString &tool : tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            sample.missing = tool + QStringLiteral(" is not installed");
            return sample;
        }
    }
    QProcess shell;
    shell.setWorkingDirectory(folder);
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    if (!shell.waitForFinished(60000) || shell.exitCode() != 0) {
        sample.missing = QStringLiteral("%1 failed: %2").arg(command, QString::fromLocal8Bit(shell.readAllStandardError()));
        return sample;
    }
    sample.bytes = readFile(QDir(folder).filePath(output));
    if (sample.bytes.isEmpty())
        sample.missing = command + QStringLiteral(" wrote nothing");
    return sample;
}

void putLe(QByteArray &bytes, quint64 value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes.append(char((value >> (8 * i)) & 0xFF));
}

quint32 crcOf(const QByteArray &bytes)
{
    return quint32(::crc32(0, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size())));
}

// RAR 4 block: CRC16 (low half of the CRC-32 of the rest), type, flags,
// size, then the type's fields.
QByteArray rar4Block(quint8 type, quint16 flags, const QByteArray &fields)
{
    QByteArray rest;
    rest.append(char(type));
    putLe(rest, flags, 2);
    putLe(rest, quint64(7 + fields.size()), 2);
    rest.append(fields);
    QByteArray block;
    putLe(block, crcOf(rest) & 0xFFFF, 2);
    return block + rest;
}

QByteArray vint(quint64 value)
{
    QByteArray bytes;
    do {
        quint8 b = value & 0x7F;
        value >>= 7;
        if (value)
            b |= 0x80;
        bytes.append(char(b));
    } while (value);
    return bytes;
}

// RAR 5 block: CRC-32 of the size and header, header size, header.
QByteArray rar5Block(const QByteArray &header)
{
    const QByteArray sized = vint(quint64(header.size())) + header;
    QByteArray block;
    putLe(block, crcOf(sized), 4);
    return block + sized;
}

} // namespace

QByteArray handmadeRar4(const QByteArray &content)
{
    QByteArray rar("Rar!\x1A\x07\x00", 7);
    rar += rar4Block(0x73, 0, QByteArray(6, '\0'));   // main header: two reserved fields
    const QByteArray name("hello.txt");
    QByteArray file;
    putLe(file, quint64(content.size()), 4);   // packed size
    putLe(file, quint64(content.size()), 4);   // unpacked size
    file.append(char(2));                      // host OS: Windows
    putLe(file, crcOf(content), 4);
    putLe(file, 0x5A8E3100, 4);                // DOS time
    file.append(char(29));                     // version needed 2.9
    file.append(char(0x30));                   // method: store
    putLe(file, quint64(name.size()), 2);
    putLe(file, 0x20, 4);                      // attributes
    file += name;
    rar += rar4Block(0x74, 0x8000, file) + content;
    rar += rar4Block(0x7B, 0x4000, QByteArray());   // end of archive
    return rar;
}

QByteArray handmadeRar5(const QByteArray &content)
{
    QByteArray rar("Rar!\x1A\x07\x01\x00", 8);
    rar += rar5Block(vint(1) + vint(0) + vint(0));   // main: type, flags, archive flags
    const QByteArray name("hello.txt");
    QByteArray file = vint(2) + vint(2) + vint(quint64(content.size()));   // type, flags (data), data size
    file += vint(0);                                  // file flags
    file += vint(quint64(content.size()));            // unpacked size
    file += vint(0x20);                               // attributes
    file += vint(0);                                  // compression: version 0, stored
    file += vint(1);                                  // host OS: Unix
    file += vint(quint64(name.size())) + name;
    rar += rar5Block(file) + content;
    rar += rar5Block(vint(5) + vint(0) + vint(0));   // end of archive
    return rar;
}

QList<SampleFile> makeSampleFiles(const QString &folder)
{
    const QString im = QStringLiteral("convert");
    const QString ff = QStringLiteral("ffmpeg -hide_banner -loglevel error -y ");
    const QString video = ff + QStringLiteral("-f lavfi -i testsrc=duration=0.6:size=96x64:rate=10 ");
    const QString tone = ff + QStringLiteral("-f lavfi -i sine=frequency=440:duration=0.6 ");
    // A small picture with some detail, so that compressed data is not trivial.
    const QString picture = QStringLiteral("convert -size 120x80 plasma:red-blue -seed 7 ");
    QList<SampleFile> samples;
    const auto add = [&](SampleFile sample) { samples.append(std::move(sample)); };
    add(make(folder, QStringLiteral("jpeg baseline"), QStringLiteral("JPEG"), {im},
             picture + QStringLiteral("-quality 85 base.jpg"), QStringLiteral("base.jpg")));
    add(make(folder, QStringLiteral("jpeg progressive"), QStringLiteral("JPEG"), {im},
             picture + QStringLiteral("-interlace Plane prog.jpg"), QStringLiteral("prog.jpg")));
    add(make(folder, QStringLiteral("jpeg grey restart"), QStringLiteral("JPEG"), {im},
             picture + QStringLiteral("-colorspace Gray -define jpeg:restart-interval=1 grey.jpg"),
             QStringLiteral("grey.jpg")));
    add(make(folder, QStringLiteral("png"), QStringLiteral("PNG"), {im}, picture + QStringLiteral("a.png"),
             QStringLiteral("a.png")));
    add(make(folder, QStringLiteral("png with text"), QStringLiteral("PNG"), {im},
             picture + QStringLiteral("-set comment hello b.png"), QStringLiteral("b.png")));
    add(make(folder, QStringLiteral("gif"), QStringLiteral("GIF"), {im}, picture + QStringLiteral("a.gif"),
             QStringLiteral("a.gif")));
    add(make(folder, QStringLiteral("gif animated"), QStringLiteral("GIF"), {im},
             QStringLiteral("convert -delay 10 -size 40x30 xc:red xc:blue xc:green anim.gif"), QStringLiteral("anim.gif")));
    add(make(folder, QStringLiteral("bmp v5"), QStringLiteral("BMP"), {im}, picture + QStringLiteral("a.bmp"),
             QStringLiteral("a.bmp")));
    add(make(folder, QStringLiteral("bmp v3 palette"), QStringLiteral("BMP"), {im},
             picture + QStringLiteral("-colors 16 -type Palette BMP3:b.bmp"), QStringLiteral("b.bmp")));
    add(make(folder, QStringLiteral("tiff"), QStringLiteral("TIFF"), {im},
             picture + QStringLiteral("-endian LSB a.tiff"), QStringLiteral("a.tiff")));
    add(make(folder, QStringLiteral("tiff lzw two pages"), QStringLiteral("TIFF"), {im},
             QStringLiteral("convert -size 64x48 plasma: -seed 3 -size 30x20 xc:blue -endian LSB -compress lzw b.tiff"),
             QStringLiteral("b.tiff")));
    add(make(folder, QStringLiteral("webp lossy"), QStringLiteral("WebP"), {im, QStringLiteral("cwebp")},
             picture + QStringLiteral("w.png && cwebp -quiet -q 70 w.png -o a.webp"), QStringLiteral("a.webp")));
    add(make(folder, QStringLiteral("webp lossless"), QStringLiteral("WebP"), {im, QStringLiteral("cwebp")},
             picture + QStringLiteral("w2.png && cwebp -quiet -lossless w2.png -o b.webp"), QStringLiteral("b.webp")));
    add(make(folder, QStringLiteral("heic"), QStringLiteral("HEIC"), {im, QStringLiteral("heif-enc")},
             picture + QStringLiteral("h.png && heif-enc -q 50 h.png -o a.heic"), QStringLiteral("a.heic")));
    add(make(folder, QStringLiteral("pdf"), QStringLiteral("PDF"), {QStringLiteral("gs")},
             QStringLiteral("printf '%%!PS\\n/Helvetica findfont 20 scalefont setfont 72 700 moveto (Quorvel) show "
                            "showpage\\n' > a.ps && gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -o a.pdf a.ps"),
             QStringLiteral("a.pdf")));
    add(make(folder, QStringLiteral("zip"), QStringLiteral("ZIP/DOCX"), {QStringLiteral("zip")},
             QStringLiteral("seq 1 3000 > n.txt && printf 'hi' > h.txt && zip -q a.zip n.txt h.txt"),
             QStringLiteral("a.zip")));
    add(make(folder, QStringLiteral("zip with comment"), QStringLiteral("ZIP/DOCX"), {QStringLiteral("zip")},
             QStringLiteral("seq 1 500 > c.txt && zip -q b.zip c.txt && echo 'a comment' | zip -q -z b.zip"),
             QStringLiteral("b.zip")));
    add(make(folder, QStringLiteral("zip streamed"), QStringLiteral("ZIP/DOCX"), {QStringLiteral("zip")},
             QStringLiteral("seq 1 2000 | zip -q - - > s.zip"), QStringLiteral("s.zip")));
    add(make(folder, QStringLiteral("7z"), QStringLiteral("7z"), {QStringLiteral("7z")},
             QStringLiteral("seq 1 4000 > z.txt && 7z a -bd -bso0 a.7z z.txt"), QStringLiteral("a.7z")));
    add(make(folder, QStringLiteral("mp4"), QStringLiteral("MP4"), {QStringLiteral("ffmpeg")},
             video + QStringLiteral("-c:v mpeg4 a.mp4"), QStringLiteral("a.mp4")));
    add(make(folder, QStringLiteral("mp4 faststart"), QStringLiteral("MP4"), {QStringLiteral("ffmpeg")},
             video + QStringLiteral("-c:v mpeg4 -movflags +faststart b.mp4"), QStringLiteral("b.mp4")));
    add(make(folder, QStringLiteral("mov"), QStringLiteral("MOV"), {QStringLiteral("ffmpeg")},
             video + QStringLiteral("-c:v mpeg4 a.mov"), QStringLiteral("a.mov")));
    add(make(folder, QStringLiteral("m4a"), QStringLiteral("M4A"), {QStringLiteral("ffmpeg")},
             tone + QStringLiteral("-c:a aac a.m4a"), QStringLiteral("a.m4a")));
    add(make(folder, QStringLiteral("avi"), QStringLiteral("AVI"), {QStringLiteral("ffmpeg")},
             video + QStringLiteral("-c:v mpeg4 a.avi"), QStringLiteral("a.avi")));
    add(make(folder, QStringLiteral("wav"), QStringLiteral("WAV"), {QStringLiteral("sox")},
             QStringLiteral("sox -n -r 8000 -c 1 a.wav synth 0.4 sine 440"), QStringLiteral("a.wav")));
    add(make(folder, QStringLiteral("wav odd chunk"), QStringLiteral("WAV"), {QStringLiteral("sox")},
             QStringLiteral("sox -n -r 8000 -b 8 -c 1 b.wav synth 0.40001 sine 440"), QStringLiteral("b.wav")));
    add(make(folder, QStringLiteral("mp3 with id3"), QStringLiteral("MP3 (ID3)"),
             {QStringLiteral("sox"), QStringLiteral("lame")},
             QStringLiteral("sox -n -r 44100 -c 2 m.wav synth 0.5 sine 440 && lame --quiet --add-id3v2 --tt Tone "
                            "--ta Quorvel m.wav a.mp3"),
             QStringLiteral("a.mp3")));
    add(make(folder, QStringLiteral("mp3 plain"), QStringLiteral("MP3"), {QStringLiteral("sox"), QStringLiteral("lame")},
             QStringLiteral("sox -n -r 44100 -c 1 p.wav synth 0.5 sine 330 && lame --quiet -b 128 p.wav b.mp3"),
             QStringLiteral("b.mp3"), false));
    add(make(folder, QStringLiteral("aac adts"), QStringLiteral("AAC"), {QStringLiteral("ffmpeg")},
             tone + QStringLiteral("-c:a aac -f adts a.aac"), QStringLiteral("a.aac"), false));
    add(make(folder, QStringLiteral("flac"), QStringLiteral("FLAC"), {QStringLiteral("sox"), QStringLiteral("flac")},
             QStringLiteral("sox -n -r 44100 -c 2 -b 16 f.wav synth 0.5 pinknoise && flac -s -f f.wav -o a.flac"),
             QStringLiteral("a.flac")));
    add(make(folder, QStringLiteral("flac 24 bit mono"), QStringLiteral("FLAC"), {QStringLiteral("sox"), QStringLiteral("flac")},
             QStringLiteral("sox -n -r 48000 -c 1 -b 24 g.wav synth 0.3 sine 1000 && flac -s -f -8 g.wav -o b.flac"),
             QStringLiteral("b.flac")));
    QByteArray text;
    for (int i = 0; i < 200; ++i)
        text += "line " + QByteArray::number(i) + '\n';
    add(SampleFile{QStringLiteral("rar 4"), QStringLiteral("RAR"), handmadeRar4(text), {}, true});
    add(SampleFile{QStringLiteral("rar 5"), QStringLiteral("RAR"), handmadeRar5(text), {}, true});
    return samples;
}
