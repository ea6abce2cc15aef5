#include "carvedfilemodel.h"

#include "carving/savecarved.h"
#include "model/bytecount.h"

CarvedFileModel::CarvedFileModel(QObject *parent, qsizetype unverifiedListLimit)
    : QAbstractListModel(parent)
    , m_hits(unverifiedListLimit)
{
}

int CarvedFileModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows);
}

namespace {
QString verificationIconOf(const Verification &verification)
{
    switch (verification.state) {
    case Verification::State::verified:
        return QStringLiteral("checkmark.shield.fill");
    case Verification::State::unverified:
        return QStringLiteral("questionmark.circle");
    case Verification::State::notChecked:
        break;
    }
    return QString();
}

QString verificationColorOf(const Verification &verification)
{
    switch (verification.state) {
    case Verification::State::verified:
        return paletteName(PaletteColor::neonGreen);
    case Verification::State::unverified:
        return paletteName(PaletteColor::textMuted);
    case Verification::State::notChecked:
        break;
    }
    return QString();
}
} // namespace

QVariant CarvedFileModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const CarvedFile file = m_hits.at(index.row());
    switch (Role(role)) {
    case Role::id:
        return file.id.toString(QUuid::WithoutBraces);
    case Role::signatureType:
        return file.signatureType;
    case Role::fileExtension:
        return file.fileExtension;
    case Role::offset:
        return QVariant::fromValue(file.offset);
    case Role::offsetText:
        return QString::asprintf("0x%012llX", static_cast<unsigned long long>(file.offset));
    case Role::estimatedSize:
        return QVariant::fromValue(file.estimatedSize);
    case Role::sizeText:
        return formatByteCount(file.estimatedSize);
    case Role::hasData:
        return file.data.has_value();
    case Role::health:
        return int(file.health);
    case Role::healthText:
        return rawValue(file.health);
    case Role::healthIcon:
        return icon(file.health);
    case Role::healthColor:
        return paletteName(color(file.health));
    case Role::sourcePath:
        return file.sourcePath;
    case Role::recoveryStatus:
        return int(file.recoveryStatus);
    case Role::recoveryStatusText:
        return rawValue(file.recoveryStatus);
    case Role::recoveryStatusIcon:
        return icon(file.recoveryStatus);
    case Role::recoveryStatusColor:
        return paletteName(color(file.recoveryStatus));
    case Role::matchedExistingPath:
        return file.matchedExistingPath.value_or(QString());
    case Role::canRecover:
        return canRecover(file);
    case Role::suggestedFileName:
        return file.suggestedFileName();
    case Role::originalPath:
        return file.originalPath.value_or(QString());
    case Role::isVerified:
        return file.verification.isVerified();
    case Role::verificationState:
        return int(file.verification.state);
    case Role::verifiedLength:
        return QVariant::fromValue(file.verification.length);
    case Role::verifiedSizeText:
        return file.verification.isVerified() ? formatByteCount(file.verification.length) : QString();
    case Role::verificationText:
        return file.verification.text();
    case Role::verificationIcon:
        return verificationIconOf(file.verification);
    case Role::verificationColor:
        return verificationColorOf(file.verification);
    case Role::sizeToSave:
        return QVariant::fromValue(file.savedLength());
    }
    return {};
}

QHash<int, QByteArray> CarvedFileModel::roleNames() const
{
    static const QHash<int, QByteArray> names = {
        {int(Role::id), "id"},
        {int(Role::signatureType), "signatureType"},
        {int(Role::fileExtension), "fileExtension"},
        {int(Role::offset), "offset"},
        {int(Role::offsetText), "offsetText"},
        {int(Role::estimatedSize), "estimatedSize"},
        {int(Role::sizeText), "sizeText"},
        {int(Role::hasData), "hasData"},
        {int(Role::health), "health"},
        {int(Role::healthText), "healthText"},
        {int(Role::healthIcon), "healthIcon"},
        {int(Role::healthColor), "healthColor"},
        {int(Role::sourcePath), "sourcePath"},
        {int(Role::recoveryStatus), "recoveryStatus"},
        {int(Role::recoveryStatusText), "recoveryStatusText"},
        {int(Role::recoveryStatusIcon), "recoveryStatusIcon"},
        {int(Role::recoveryStatusColor), "recoveryStatusColor"},
        {int(Role::matchedExistingPath), "matchedExistingPath"},
        {int(Role::canRecover), "canRecover"},
        {int(Role::suggestedFileName), "suggestedFileName"},
        {int(Role::originalPath), "originalPath"},
        {int(Role::isVerified), "isVerified"},
        {int(Role::verificationState), "verificationState"},
        {int(Role::verifiedLength), "verifiedLength"},
        {int(Role::verifiedSizeText), "verifiedSizeText"},
        {int(Role::verificationText), "verificationText"},
        {int(Role::verificationIcon), "verificationIcon"},
        {int(Role::verificationColor), "verificationColor"},
        {int(Role::sizeToSave), "sizeToSave"},
    };
    return names;
}

void CarvedFileModel::append(QList<CarvedFile> files, const QHash<QString, qint64> &notListed)
{
    if (files.isEmpty() && notListed.isEmpty())
        return;
    for (auto it = notListed.cbegin(); it != notListed.cend(); ++it)
        m_hits.addNotListed(it.key(), it.value());
    // The store decides which hits take a row; the views learn of the rows
    // only once it has, and until then rowCount() keeps the old number.
    const qsizetype added = m_hits.append(files);
    if (added > 0) {
        beginInsertRows(QModelIndex(), int(m_rows), int(m_rows + added - 1));
        m_rows += added;
        endInsertRows();
        Q_EMIT countChanged();
    }
    Q_EMIT tallyChanged();
}

void CarvedFileModel::reset(QList<CarvedFile> files)
{
    const qsizetype before = m_rows;
    beginResetModel();
    m_hits.clear();
    m_hits.append(files);
    m_rows = m_hits.size();
    endResetModel();
    if (m_rows != before)
        Q_EMIT countChanged();
    Q_EMIT tallyChanged();
}

void CarvedFileModel::setRecoveryStatus(qsizetype row, RecoveryStatus status, std::optional<QString> matchedExistingPath)
{
    if (row < 0 || row >= m_rows)
        return;
    m_hits.setRecoveryStatus(row, status, matchedExistingPath);
    const QModelIndex changed = index(int(row));
    Q_EMIT dataChanged(changed, changed,
                       {int(Role::recoveryStatus), int(Role::recoveryStatusText), int(Role::recoveryStatusIcon),
                        int(Role::recoveryStatusColor), int(Role::matchedExistingPath)});
}
