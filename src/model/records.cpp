#include "records.h"

#include <QLocale>
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
