#include "options.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>

#include <cmath>

#include "carving/filecarvingservice.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QString afterword = uR"(
Modes:
  SOURCE                Read a device node or disk-image file from start to end.
  --directory FOLDER    Look inside the files of a folder and its subfolders,
                        then tell deleted files from files that still exist.
  --volume MOUNTPOINT   Read the device of a mounted volume, then tell deleted
                        files from files that still exist on it.
  --deleted MOUNTPOINT  Find the whole files in the Trash folders of the volume
                        mounted at MOUNTPOINT (and your own Trash), and the
                        deleted files the search index still names (names
                        only: saving counts them as no data).

Recovering: unmount the damaged volume first (it stays in --list-volumes) and
save onto another disk; saving onto the scanned one overwrites the very free
space the deleted files lie in, so it is refused unless --allow-same-device is
given. -o writes each file under a temporary name and renames it once it is
complete, and adds quorvel-report.tsv: saved name, type, offset (decimal and
as in the names), length, verification, SHA-256, status and reason.

Ctrl-C stops the scan ("Scan cancelled") or stops saving after the current file.
Exit status: 0 done, 1 failed or not everything saved, 2 bad usage, 130 stopped.
)"_s;

} // namespace

std::optional<QList<FileSignature>> signaturesForTypes(const QString &list, QString *problem)
{
    QStringList wanted;
    for (const QString &word : list.split(u',', Qt::SkipEmptyParts)) {
        const QString name = word.trimmed();
        if (name.isEmpty())
            continue;
        bool known = false;
        for (const FileSignature &signature : defaultSignatures()) {
            const QStringList parts = signature.typeName.split(u'/');
            const bool matches = signature.typeName.compare(name, Qt::CaseInsensitive) == 0
                || signature.fileExtension.compare(name, Qt::CaseInsensitive) == 0
                || parts.contains(name, Qt::CaseInsensitive);
            if (matches) {
                known = true;
                if (!wanted.contains(signature.typeName))
                    wanted.append(signature.typeName);
            }
        }
        if (!known) {
            QStringList names;
            QStringList extensions;
            for (const FileSignature &signature : defaultSignatures()) {
                names.append(signature.typeName);
                if (!extensions.contains(signature.fileExtension))
                    extensions.append(signature.fileExtension);
            }
            *problem = u"unknown file type '"_s + name + u"'; known types: "_s + names.join(u", "_s)
                + u"; or their extensions: "_s + extensions.join(u", "_s);
            return std::nullopt;
        }
    }
    if (wanted.isEmpty()) {
        *problem = u"--types names no file type"_s;
        return std::nullopt;
    }
    return FileCarvingService::signaturesNamed(wanted);
}

std::optional<qint64> parseByteCount(const QString &text)
{
    static const QRegularExpression pattern(u"^\\s*(\\d+(?:\\.\\d+)?)\\s*([KMGT]?)(i?B)?\\s*$"_s,
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const double value = match.captured(1).toDouble();
    const QString prefix = match.captured(2).toUpper();
    const QString unit = match.captured(3);
    if (prefix.isEmpty() && !unit.isEmpty() && unit.compare(u"B"_s, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    // "KB" counts in thousands; "K" and "KiB" in 1024s.
    const double base = unit.compare(u"B"_s, Qt::CaseInsensitive) == 0 ? 1000.0 : 1024.0;
    const int power = prefix.isEmpty() ? 0 : int(u"KMGT"_s.indexOf(prefix)) + 1;
    const double bytes = value * std::pow(base, power);
    if (!std::isfinite(bytes) || bytes > 9.0e18)
        return std::nullopt;
    return qint64(std::llround(bytes));
}

bool parseCarveOptions(const QStringList &arguments, CarveOptions *options, QString *problem)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Finds files by their signatures in a device, disk image, folder or volume and saves them. "
        "What is scanned is only read."_s);
    const QCommandLineOption helpOption({u"h"_s, u"help"_s}, u"Show this help and exit."_s);
    const QCommandLineOption versionOption({u"v"_s, u"version"_s}, u"Show the version and exit."_s);
    parser.addPositionalArgument(u"SOURCE"_s, u"Device node or disk-image file to scan."_s, u"[SOURCE]"_s);
    const QCommandLineOption directoryOption(u"directory"_s, u"Scan the files in FOLDER (Directory Scan)."_s, u"FOLDER"_s);
    const QCommandLineOption volumeOption(u"volume"_s,
                                          u"Scan the device of the volume mounted at MOUNTPOINT and match the hits "
                                          "against its files (Volume Scan)."_s,
                                          u"MOUNTPOINT"_s);
    const QCommandLineOption deletedOption(u"deleted"_s,
                                           u"Find the deleted files still whole in the Trash folders of the volume mounted "
                                           "at MOUNTPOINT, and those its search index names (Deleted Files)."_s,
                                           u"MOUNTPOINT"_s);
    const QCommandLineOption outputOption({u"o"_s, u"output"_s},
                                          u"Save the verified hits (whole files, at their true length) and the whole files of "
                                          "--directory, --volume and --deleted into FOLDER (created when saving begins), with a report."_s,
                                          u"FOLDER"_s);
    const QCommandLineOption allOption(
        u"all"_s, u"With -o, also save the unverified hits, each as the bytes carved at its offset."_s);
    const QCommandLineOption typesOption(
        u"types"_s, u"Look only for these types: names or extensions, comma-separated, any case (see --list-types)."_s,
        u"TYPES"_s);
    const QCommandLineOption listOption(
        u"list"_s, u"Print each hit on stdout: offset, offset as in the saved names, type, extension, size, health, and "
                   "the whole file's length (or -), the structure check, and with --directory, --volume or --deleted the recovery status "
                   "and matched path (tab-separated)."_s);
    const QCommandLineOption maxBytesOption(
        u"max-bytes"_s, u"Save hits in order while they fit in SIZE bytes (500M, 2G; K/M/G count in 1024s, KB/MB/GB "
                        "in 1000s); the rest are listed in the report as left out."_s,
        u"SIZE"_s);
    const QCommandLineOption allowSameDeviceOption(
        u"allow-same-device"_s, u"Save even when FOLDER lies on the scanned device, overwriting its free space."_s);
    const QCommandLineOption listTypesOption(u"list-types"_s, u"Print the file types and exit."_s);
    const QCommandLineOption listVolumesOption(
        u"list-volumes"_s, u"Print the volumes and devices that can be scanned and exit: name, mount point, device, "
                           "file system, space, flags, kind, model or image, label (lined up under a header on a terminal, "
                           "tab-separated without one when piped)."_s);
    parser.addOptions({helpOption, versionOption, directoryOption, volumeOption, deletedOption, outputOption, allOption, typesOption,
                       listOption, maxBytesOption, allowSameDeviceOption, listTypesOption, listVolumesOption});
    options->helpText = parser.helpText() + afterword;

    if (!parser.parse(arguments)) {
        *problem = parser.errorText() + u" (see --help)"_s;
        return false;
    }
    if (parser.isSet(helpOption)) {
        options->action = CarveAction::help;
        return true;
    }
    if (parser.isSet(versionOption)) {
        options->action = CarveAction::version;
        return true;
    }
    if (parser.isSet(listTypesOption)) {
        options->action = CarveAction::listTypes;
        return true;
    }
    if (parser.isSet(listVolumesOption)) {
        options->action = CarveAction::listVolumes;
        return true;
    }

    // The parser keeps the last of repeated values; a script that says -o
    // twice has a bug worth hearing about.
    for (const QCommandLineOption &option : {directoryOption, volumeOption, deletedOption, outputOption, typesOption, maxBytesOption}) {
        if (parser.values(option).size() > 1) {
            *problem = u"--"_s + option.names().constLast() + u" is given more than once"_s;
            return false;
        }
    }

    const QStringList positional = parser.positionalArguments();
    const int sources = int(positional.size()) + (parser.isSet(directoryOption) ? 1 : 0)
        + (parser.isSet(volumeOption) ? 1 : 0) + (parser.isSet(deletedOption) ? 1 : 0);
    if (sources == 0) {
        *problem = u"no SOURCE given (see --help)"_s;
        return false;
    }
    if (sources > 1) {
        *problem = u"give exactly one SOURCE, --directory, --volume or --deleted (see --help)"_s;
        return false;
    }
    if (parser.isSet(directoryOption)) {
        options->mode = ScanMode::directory;
        options->source = parser.value(directoryOption);
    } else if (parser.isSet(volumeOption)) {
        options->mode = ScanMode::volume;
        options->source = parser.value(volumeOption);
    } else if (parser.isSet(deletedOption)) {
        options->mode = ScanMode::deleted;
        options->source = parser.value(deletedOption);
    } else {
        options->source = positional.first();
    }
    if (options->source.isEmpty()) {
        *problem = u"the source is an empty text"_s;
        return false;
    }

    if (parser.isSet(typesOption)) {
        const auto chosen = signaturesForTypes(parser.value(typesOption), problem);
        if (!chosen)
            return false;
        options->signatures = *chosen;
    }
    if (parser.isSet(outputOption)) {
        options->outputFolder = QDir::cleanPath(parser.value(outputOption));
        if (parser.value(outputOption).isEmpty()) {
            *problem = u"-o names no folder"_s;
            return false;
        }
    }
    if (parser.isSet(maxBytesOption)) {
        options->maxBytes = parseByteCount(parser.value(maxBytesOption));
        if (!options->maxBytes) {
            *problem = u"--max-bytes takes a size such as 500M or 2G, not '"_s + parser.value(maxBytesOption) + u"'"_s;
            return false;
        }
        if (!parser.isSet(outputOption)) {
            *problem = u"--max-bytes limits what -o saves; give -o FOLDER too"_s;
            return false;
        }
    }
    options->listHits = parser.isSet(listOption);
    options->allowSameDevice = parser.isSet(allowSameDeviceOption);
    options->saveUnverified = parser.isSet(allOption);
    return true;
}
