#include <QTemporaryDir>
#include <QTest>

#include "carving/carver.h"
#include "carving/verify/hitverifier.h"
#include "helpers/samplefiles.h"
#include "helpers/testsupport.h"
#include "model/bytesource.h"

namespace {

// Carves `disk` with the whole catalogue, as one in-buffer pass, and verifies
// the hits in batches of one offset each, the way the scans hand them over.
QList<CarvedFile> carveAndVerify(const QByteArray &disk, HitVerifier &verifier)
{
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t *>(disk.constData()), std::size_t(disk.size()));
    const auto source = std::make_shared<MemoryByteSource>(disk);
    const Carver carver(defaultSignatures());
    QList<CarvedFile> all;
    QList<CarvedFile> batch;
    const auto flush = [&] {
        verifier.verify(batch, {bytes, 0, source, quint64(disk.size())});
        all.append(batch);
        batch.clear();
    };
    carver.carve(CarveInput::inBuffer(bytes, bytes.size(), 0), [&](const CarveHit &hit) {
        if (!batch.isEmpty() && batch.last().offset != hit.position)
            flush();
        batch.append(makeCarvedFile(hit, carver.signatures().at(hit.signature), 0, QStringLiteral("disk"),
                                    carvedDataOf(hit, 0, bytes.data(), source)));
    });
    flush();
    return all;
}

} // namespace

class TestHitVerifier : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void oneVerifiedHitPerFile_data();
    void oneVerifiedHitPerFile();
    void partsNameTheirFile();
    void brokenStreamIsWalkedOnce();

private:
    QTemporaryDir m_folder;
    QList<SampleFile> m_samples;
};

void TestHitVerifier::initTestCase()
{
    QVERIFY(m_folder.isValid());
    m_samples = makeSampleFiles(m_folder.path());
}

void TestHitVerifier::oneVerifiedHitPerFile_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < m_samples.size(); ++i)
        QTest::addRow("%s", qPrintable(m_samples[i].name)) << i;
}

void TestHitVerifier::oneVerifiedHitPerFile()
{
    QFETCH(int, index);
    const SampleFile &sample = m_samples.at(index);
    if (sample.bytes.isEmpty())
        QSKIP(qPrintable(sample.missing));
    // A file among random bytes, as on a disk: whatever else its bytes make
    // the carver find (frames, thumbnails, a second row of its family),
    // exactly one hit is verified, at its start, with its length and type.
    const qsizetype at = 4096;
    const QByteArray disk = randomBytes(at, 1) + sample.bytes + QByteArray(1000, '\0') + randomBytes(20000, 2);
    HitVerifier verifier(defaultSignatures());
    const QList<CarvedFile> hits = carveAndVerify(disk, verifier);
    QList<const CarvedFile *> verified;
    for (const CarvedFile &hit : hits) {
        if (hit.verification.isVerified())
            verified.append(&hit);
    }
    QCOMPARE(verified.size(), 1);
    QCOMPARE(verified[0]->offset, quint64(at));
    QCOMPARE(verified[0]->verification.length, sample.bytes.size());
    QCOMPARE(verified[0]->signatureType, sample.typeName);
    // The carve's own fields are left as the carver made them.
    for (const CarvedFile &hit : hits)
        QVERIFY(hit.estimatedSize > 0 && hit.verification.state != Verification::State::notChecked);
}

void TestHitVerifier::partsNameTheirFile()
{
    const SampleFile *mp3 = nullptr;
    for (const SampleFile &s : std::as_const(m_samples)) {
        if (s.name == QLatin1String("mp3 with id3"))
            mp3 = &s;
    }
    QVERIFY(mp3);
    if (mp3->bytes.isEmpty())
        QSKIP(qPrintable(mp3->missing));
    HitVerifier verifier(defaultSignatures());
    const QList<CarvedFile> hits = carveAndVerify(QByteArray(512, '\0') + mp3->bytes, verifier);
    int parts = 0;
    for (const CarvedFile &hit : hits) {
        if (hit.offset > 512 && hit.signatureType == QLatin1String("MP3")) {
            QVERIFY(!hit.verification.isVerified());
            QVERIFY2(hit.verification.reason.contains(QLatin1String("0x200")), qPrintable(hit.verification.reason));
            ++parts;
        }
    }
    QVERIFY(parts > 5);
}

void TestHitVerifier::brokenStreamIsWalkedOnce()
{
    // A long run of frames cut off by the end of the data: every frame is a
    // candidate, and each would walk to the same end again.
    const SampleFile *mp3 = nullptr;
    for (const SampleFile &s : std::as_const(m_samples)) {
        if (s.name == QLatin1String("mp3 plain"))
            mp3 = &s;
    }
    QVERIFY(mp3);
    if (mp3->bytes.isEmpty())
        QSKIP(qPrintable(mp3->missing));
    const qsizetype firstFrame = mp3->bytes.indexOf("\xFF\xFB");
    QVERIFY(firstFrame >= 0);
    QByteArray frames;
    while (frames.size() < 4 * 1024 * 1024)
        frames += mp3->bytes.mid(firstFrame);   // whole frames: the run goes on across copies
    frames.chop(100);   // the last frame runs past the end

    // Read through a source only, counting what the walks fetch.
    const auto source = std::make_shared<MemoryByteSource>(frames);
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t *>(frames.constData()), std::size_t(frames.size()));
    const Carver carver(defaultSignatures());
    QList<CarvedFile> hits;
    carver.carve(CarveInput::inBuffer(bytes, bytes.size(), 0), [&](const CarveHit &hit) {
        hits.append(makeCarvedFile(hit, carver.signatures().at(hit.signature), 0, QStringLiteral("disk"),
                                   carvedDataOf(hit, 0, bytes.data(), source)));
    });
    QVERIFY(hits.size() > 1000);
    HitVerifier verifier(defaultSignatures());
    verifier.verify(hits, {{}, 0, source, quint64(frames.size())});
    for (const CarvedFile &hit : std::as_const(hits))
        QVERIFY(!hit.verification.isVerified());
    // A few passes' worth (stray sync words in frame data read a block
    // each), not one pass per frame: that would be a thousand times more.
    QVERIFY2(verifier.bytesFetched() < quint64(10 * frames.size()), qPrintable(QString::number(verifier.bytesFetched())));
}

QTEST_GUILESS_MAIN(TestHitVerifier)
#include "tst_hitverifier.moc"
