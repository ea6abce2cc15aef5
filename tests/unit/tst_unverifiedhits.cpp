#include <QSet>
#include <QTest>

#include "carving/unverifiedhits.h"

namespace {

CarvedFile unverifiedHit(const QString &type, quint64 offset, const QString &reason,
                         const std::shared_ptr<ByteSource> &source)
{
    CarvedFile hit;
    hit.signatureType = type;
    hit.fileExtension = type.toLower();
    hit.offset = offset;
    hit.estimatedSize = qint64(offset % 5000) + 20;
    hit.health = offset % 2 ? CarvedFileHealth::good : CarvedFileHealth::partial;
    hit.sourcePath = QStringLiteral("disk.img");
    hit.data = CarvedData{source, offset, hit.estimatedSize, QByteArray::number(offset).repeated(8).left(32)};
    hit.verification.state = Verification::State::unverified;
    hit.verification.reason = reason;
    return hit;
}

} // namespace

class TestUnverifiedHits : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keepsWhatFitsAndCountsTheRest_data();
    void keepsWhatFitsAndCountsTheRest();
    void givesBackTheRecords();
    void idsAreStableAndFindTheirHit();
};

void TestUnverifiedHits::keepsWhatFitsAndCountsTheRest_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("added");
    QTest::addRow("under the limit") << 10 << 7;
    QTest::addRow("at the limit") << 10 << 10;
    QTest::addRow("past the limit") << 10 << 25;
    QTest::addRow("no room at all") << 0 << 4;
}

void TestUnverifiedHits::keepsWhatFitsAndCountsTheRest()
{
    QFETCH(int, limit);
    QFETCH(int, added);
    UnverifiedHits hits(limit);
    const auto source = std::make_shared<MemoryByteSource>(QByteArray(16, 'x'));
    int bmp = 0;
    for (int i = 0; i < added; ++i) {
        const QString type = i % 3 ? QStringLiteral("BMP") : QStringLiteral("MP3");
        const bool listed = hits.add(unverifiedHit(type, quint64(i) * 4096, QStringLiteral("invalid bitmap header"), source));
        QCOMPARE(listed, i < limit);
        if (i >= limit && type == QLatin1String("BMP"))
            ++bmp;
    }
    QCOMPARE(hits.listedCount(), std::min(limit, added));
    QCOMPARE(hits.totalCount(), qint64(added));
    QCOMPARE(hits.notListedCount(), qint64(std::max(0, added - limit)));
    QCOMPARE(hits.notListedByType().value(QStringLiteral("BMP")), qint64(bmp));
}

void TestUnverifiedHits::givesBackTheRecords()
{
    UnverifiedHits hits;
    const auto first = std::make_shared<MemoryByteSource>(QByteArray(16, 'a'));
    const auto second = std::make_shared<MemoryByteSource>(QByteArray(16, 'b'));
    QList<CarvedFile> added;
    for (int i = 0; i < 50; ++i) {
        added.append(unverifiedHit(i % 2 ? QStringLiteral("JPEG") : QStringLiteral("AAC"), quint64(i) * 7919 + 3,
                                   QStringLiteral("reason %1").arg(i % 4), i < 25 ? first : second));
        QVERIFY(hits.add(added.last()));
    }
    for (int i = 0; i < added.size(); ++i) {
        const CarvedFile back = hits.at(i);
        const CarvedFile &original = added[i];
        QCOMPARE(back.signatureType, original.signatureType);
        QCOMPARE(back.fileExtension, original.fileExtension);
        QCOMPARE(back.offset, original.offset);
        QCOMPARE(back.estimatedSize, original.estimatedSize);
        QCOMPARE(back.health, original.health);
        QCOMPARE(back.sourcePath, original.sourcePath);
        QCOMPARE(back.verification.state, Verification::State::unverified);
        QCOMPARE(back.verification.reason, original.verification.reason);
        QVERIFY(back.data && back.data->source == original.data->source);
        QCOMPARE(back.data->offset, original.data->offset);
        QCOMPARE(back.data->length, original.data->length);
        QCOMPARE(back.data->head, original.data->head);
        QCOMPARE(back.recoveryStatus, RecoveryStatus::unknown);
    }

    // The existing-file matching marks listed hits.
    hits.setRecoveryStatus(7, RecoveryStatus::existing, QStringLiteral("/home/u/x.jpg"));
    hits.setRecoveryStatus(8, RecoveryStatus::deleted, std::nullopt);
    QCOMPARE(hits.at(7).recoveryStatus, RecoveryStatus::existing);
    QCOMPARE(hits.at(7).matchedExistingPath, std::optional<QString>(QStringLiteral("/home/u/x.jpg")));
    QCOMPARE(hits.recoveryStatusAt(8), RecoveryStatus::deleted);
    QCOMPARE(hits.at(8).matchedExistingPath, std::nullopt);
    QCOMPARE(hits.at(9).recoveryStatus, RecoveryStatus::unknown);
}

void TestUnverifiedHits::idsAreStableAndFindTheirHit()
{
    UnverifiedHits hits;
    const auto source = std::make_shared<MemoryByteSource>(QByteArray(16, 'x'));
    for (int i = 0; i < 1000; ++i)
        hits.add(unverifiedHit(QStringLiteral("BMP"), quint64(i), QStringLiteral("r"), source));
    QSet<QUuid> seen;
    for (int i = 0; i < 1000; ++i) {
        const QUuid id = hits.at(i).id;
        QCOMPARE(hits.at(i).id, id);
        QCOMPARE(hits.indexOf(id), qsizetype(i));
        seen.insert(id);
    }
    QCOMPARE(seen.size(), 1000);
    QCOMPARE(hits.indexOf(newRecordId()), qsizetype(-1));
    // A new scan's hits never take an old id.
    const QUuid old = hits.at(0).id;
    hits.clear();
    hits.add(unverifiedHit(QStringLiteral("BMP"), 0, QStringLiteral("r"), source));
    QVERIFY(hits.at(0).id != old);
    QCOMPARE(hits.indexOf(old), qsizetype(-1));
}

QTEST_GUILESS_MAIN(TestUnverifiedHits)
#include "tst_unverifiedhits.moc"
