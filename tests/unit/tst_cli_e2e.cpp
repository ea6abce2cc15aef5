// The whole road on a real file system: files are written into an ext4 image,
// some are deleted, and the image is scanned and saved both by the service and
// by quorvel-carve. Every deleted file must come back whole, byte for byte, as
// one saved file, and nothing but whole files is saved unless asked for.

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>

#include "carving/filecarvingservice.h"
#include "helpers/testsupport.h"

namespace {

QString tool(const QString &name)
{
    return QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                                 QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
}

QImage picture(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 7 + seed) % 256, (y * 5 + seed * 3) % 256, ((x ^ y) + seed) % 256));
    }
    return image;
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(90);
    return writer.write(image) ? bytes : QByteArray();
}

void put16(QByteArray &b, quint16 v) { b.append(char(v & 0xFF)).append(char(v >> 8)); }
void put32(QByteArray &b, quint32 v) { put16(b, quint16(v & 0xFFFF)); put16(b, quint16(v >> 16)); }

// A JPEG whose APP1 Exif segment carries a JPEG thumbnail in IFD1, the way
// cameras write them.
QByteArray jpegWithExifThumbnail(const QByteArray &main, const QByteArray &thumbnail)
{
    QByteArray tiff("II*\0", 4);
    put32(tiff, 8);   // IFD0 right after the header
    put16(tiff, 0);   // no entries
    put32(tiff, 14);  // IFD1 follows
    put16(tiff, 2);
    put16(tiff, 0x0201); put16(tiff, 4); put32(tiff, 1); put32(tiff, 14 + 2 + 2 * 12 + 4);
    put16(tiff, 0x0202); put16(tiff, 4); put32(tiff, 1); put32(tiff, quint32(thumbnail.size()));
    put32(tiff, 0);
    tiff += thumbnail;
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray app1 = QByteArray::fromHex("FFE1");
    app1.append(char((payload.size() + 2) >> 8)).append(char((payload.size() + 2) & 0xFF));
    return QByteArray::fromHex("FFD8") + app1 + payload + main.mid(2);
}

QByteArray gif()
{
    QByteArray b("GIF89a\x02\x00\x02\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00", 19);
    b += QByteArray("\x21\xfe", 2); // comment extension, in 255-byte sub-blocks
    for (int i = 0; i < 20; ++i)
        b += char(255) + QByteArray(255, char('a' + i % 26));
    b += QByteArray("\x00\x2c\x00\x00\x00\x00\x02\x00\x02\x00\x00\x02\x02\x44\x01\x00\x3b", 17);
    return b;
}

QByteArray pdf()
{
    QByteArray b("%PDF-1.4\n");
    QList<qsizetype> offsets;
    const auto object = [&](const QByteArray &body) {
        offsets.append(b.size());
        b += QByteArray::number(offsets.size()) + " 0 obj " + body + " endobj\n";
    };
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>");
    for (int i = 0; i < 200; ++i)
        b += "% padding line " + QByteArray::number(i) + " of a document that spans more than one block\n";
    const qsizetype xref = b.size();
    b += "xref\n0 4\n0000000000 65535 f \n";
    for (const qsizetype offset : offsets)
        b += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    b += "trailer << /Size 4 /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return b;
}

QByteArray wav()
{
    QByteArray samples;
    for (int i = 0; i < 22050; ++i)
        put16(samples, quint16(qint16(8000 * std::sin(i * 0.05))));
    QByteArray b("RIFF", 4);
    put32(b, quint32(36 + samples.size()));
    b += QByteArray("WAVEfmt ", 8);
    put32(b, 16); put16(b, 1); put16(b, 1); put32(b, 22050); put32(b, 44100); put16(b, 2); put16(b, 16);
    b += QByteArray("data", 4);
    put32(b, quint32(samples.size()));
    return b + samples;
}

QList<QByteArray> savedFiles(const QString &folder)
{
    QList<QByteArray> files;
    for (const QFileInfo &entry : QDir(folder).entryInfoList(QDir::Files))
        files.append(readFile(entry.filePath()));
    return files;
}

bool comesBack(const QByteArray &original, const QList<QByteArray> &saved)
{
    return saved.contains(original);
}

} // namespace

class TestCliEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        if (tool(QStringLiteral("mke2fs")).isEmpty() || tool(QStringLiteral("debugfs")).isEmpty())
            QSKIP("mke2fs and debugfs (e2fsprogs) are needed");
        QVERIFY(m_dir.isValid());

        const QByteArray thumbnail = encoded(picture(40, 30, 9), "jpeg");
        const QByteArray mainJpeg = encoded(picture(320, 240, 1), "jpeg");
        const QByteArray png = encoded(picture(200, 150, 4), "png");
        if (thumbnail.isEmpty() || mainJpeg.isEmpty() || png.isEmpty())
            QSKIP("Qt's JPEG and PNG writers are needed");
        m_deleted = {
            {QStringLiteral("camera.jpg"), jpegWithExifThumbnail(mainJpeg, thumbnail)},
            {QStringLiteral("chart.png"), png},
            {QStringLiteral("anim.gif"), gif()},
            {QStringLiteral("report.pdf"), pdf()},
            {QStringLiteral("voice.wav"), wav()},
        };
        const QString tree = m_dir.filePath(QStringLiteral("tree"));
        QVERIFY(QDir().mkpath(tree));
        for (auto it = m_deleted.cbegin(); it != m_deleted.cend(); ++it)
            QVERIFY(writeFile(tree + QLatin1Char('/') + it.key(), it.value()));
        QVERIFY(writeFile(tree + QStringLiteral("/kept.png"), encoded(picture(64, 64, 7), "png")));
        QVERIFY(writeFile(tree + QStringLiteral("/notes.txt"), QByteArray(9000, 'n')));

        m_image = m_dir.filePath(QStringLiteral("volume.img"));
        int status = -1;
        shellOutput(QStringLiteral("'%1' -q -F -t ext4 -b 4096 -d '%2' '%3' 8M").arg(tool(QStringLiteral("mke2fs")), tree, m_image), &status);
        QCOMPARE(status, 0);
        const QString debugfs = tool(QStringLiteral("debugfs"));
        for (auto it = m_deleted.cbegin(); it != m_deleted.cend(); ++it) {
            shellOutput(QStringLiteral("'%1' -w -R 'rm /%2' '%3'").arg(debugfs, it.key(), m_image), &status);
            QCOMPARE(status, 0);
        }
        // The names are gone from the file system.
        const QString names = shellOutput(QStringLiteral("'%1' -R 'ls -l /' '%2' 2>/dev/null").arg(debugfs, m_image));
        QVERIFY(names.contains(QStringLiteral("kept.png")));
        QVERIFY(!names.contains(QStringLiteral("camera.jpg")));
    }

    void serviceAndToolBringTheDeletedFilesBack()
    {
        FileCarvingService service;
        service.scanDiskImage(QUrl::fromLocalFile(m_image), std::nullopt);
        QTRY_VERIFY_WITH_TIMEOUT(!service.isScanning(), 60000);
        QVERIFY(!service.hasError());
        const qsizetype hitCount = service.carvedFiles()->rowCount();
        QVERIFY(hitCount >= m_deleted.size());
        QVERIFY(service.statusMessage().startsWith(QStringLiteral("Scan complete: ") + QString::number(hitCount)
                                                   + QStringLiteral(" files found • 8.4 MB scanned • ")));

        const QString serviceOut = m_dir.filePath(QStringLiteral("service-out"));
        QVERIFY(QDir().mkpath(serviceOut));
        const SaveCounts counts = service.saveAllCarvedFiles(serviceOut);
        QCOMPARE(counts.saved, int(service.verifiedCount()));
        QCOMPARE(counts.failed + counts.noData, 0);
        const QList<QByteArray> fromService = savedFiles(serviceOut);

        // The Exif thumbnail is a hit of its own, inside the camera file,
        // and part of it rather than a file to save again.
        int jpegHits = 0;
        for (const CarvedFile &hit : service.carvedFiles()->files())
            jpegHits += hit.signatureType == QLatin1String("JPEG") ? 1 : 0;
        QVERIFY(jpegHits >= 2);
        QCOMPARE(fromService.count(m_deleted.value(QStringLiteral("camera.jpg"))), 1);

        const QString toolOut = m_dir.filePath(QStringLiteral("tool-out"));
        QProcess carve;
        carve.start(QStringLiteral(QUORVEL_BINARY_DIR "/src/cli/quorvel-carve"),
                    {m_image, QStringLiteral("-o"), toolOut, QStringLiteral("--list")});
        QVERIFY(carve.waitForFinished(120000));
        const QString errors = QString::fromUtf8(carve.readAllStandardError());
        QVERIFY2(carve.exitCode() == 0, qPrintable(errors));
        const QStringList lines = QString::fromUtf8(carve.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), hitCount);
        for (qsizetype i = 0; i < hitCount; ++i) {
            const CarvedFile hit = service.carvedFiles()->at(i);
            const QString length =
                hit.verification.isVerified() ? QString::number(hit.verification.length) : QStringLiteral("-");
            QCOMPARE(lines.at(i), QString::number(hit.offset) + QLatin1Char('\t') + QString::asprintf("%08llX", hit.offset)
                                      + QLatin1Char('\t') + hit.signatureType + QLatin1Char('\t') + hit.fileExtension
                                      + QLatin1Char('\t') + QString::number(hit.estimatedSize) + QLatin1Char('\t')
                                      + rawValue(hit.health) + QLatin1Char('\t') + length + QLatin1Char('\t')
                                      + hit.verification.text());
        }
        QVERIFY2(errors.contains(QStringLiteral("\nScan complete: ")), qPrintable(errors));
        QCOMPARE(QDir(toolOut).entryList({QStringLiteral("recovered_*")}, QDir::Files), QDir(serviceOut).entryList(QDir::Files));
        const QList<QByteArray> fromTool = savedFiles(toolOut);

        qInfo("%lld hits, %d saved by the service, %lld by quorvel-carve", qlonglong(hitCount), counts.saved,
              qlonglong(fromTool.size()));
        for (auto it = m_deleted.cbegin(); it != m_deleted.cend(); ++it) {
            QVERIFY2(comesBack(it.value(), fromService), qPrintable(it.key() + QStringLiteral(" (service)")));
            QVERIFY2(comesBack(it.value(), fromTool), qPrintable(it.key() + QStringLiteral(" (quorvel-carve)")));
        }
    }

private:
    QTemporaryDir m_dir;
    QString m_image;
    QMap<QString, QByteArray> m_deleted;
};

QTEST_GUILESS_MAIN(TestCliEndToEnd)
#include "tst_cli_e2e.moc"
