#include "records.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace {
// Qt's long date format names the weekday ("Sunday, December 6, 2026"); the
// platform long style does not, and the medium style abbreviates the month.
QString dateFormatWithoutWeekday(const QLocale &locale)
{
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{4}[,\\s]*|[,\\s]*d{4}"));
    format.remove(weekday);
    return format.trimmed();
}

QString mediumDateFormat(const QLocale &locale)
{
    QString format = dateFormatWithoutWeekday(locale);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format;
}

// The locale's time with seconds but without the zone name.
QString mediumTimeFormat(const QLocale &locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?"));
    format.remove(zone);
    return format.trimmed();
}
} // namespace

QUuid newRecordId()
{
    thread_local QRandomGenerator64 generator = [] {
        quint32 seed[8];
        QRandomGenerator::system()->fillRange(seed);
        return QRandomGenerator64(seed, 8);
    }();
    quint64 high = generator.generate64();
    quint64 low = generator.generate64();
    // Version 4 (random) and the RFC 4122 variant, as createUuid() makes them.
    high = (high & ~quint64(0xF000)) | quint64(0x4000);
    low = (low & ~(quint64(0xC0) << 56)) | (quint64(0x80) << 56);
    uchar bytes[16];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = uchar(high >> (56 - 8 * i));
        bytes[8 + i] = uchar(low >> (56 - 8 * i));
    }
    return QUuid::fromRfc4122(QByteArrayView(reinterpret_cast<const char *>(bytes), 16));
}

QString TrashItem::formattedDeletedDate() const
{
    if (!deletedDate)
        return QStringLiteral("Unknown");
    const QLocale locale;
    return locale.toString(*deletedDate, mediumDateFormat(locale) + QStringLiteral(", ")
                                             + locale.timeFormat(QLocale::ShortFormat));
}

QString SnapshotInfo::formattedDate() const
{
    if (!date)
        return QStringLiteral("Unknown");
    const QLocale locale;
    return locale.toString(*date, dateFormatWithoutWeekday(locale) + QStringLiteral(" 'at' ") + mediumTimeFormat(locale));
}

QString CarvedFile::suggestedFileName() const
{
    QString name = QStringLiteral("recovered_") + signatureType.toLower() + QLatin1Char('_')
        + QString::asprintf("%08llX", static_cast<unsigned long long>(offset)) + QLatin1Char('.') + fileExtension;
    // The name is one path component: "ZIP/DOCX" would otherwise send the
    // saved file into a folder "recovered_zip" that does not exist, and every
    // such hit would fail to save.
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return name;
}

QString Verification::text() const
{
    switch (state) {
    case State::verified:
        return QStringLiteral("Verified");
    case State::unverified:
        return reason;
    case State::notChecked:
        break;
    }
    return QString();
}
