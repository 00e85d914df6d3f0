// SPDX-License-Identifier: GPL-3.0-or-later
#include "Cli/CliOptions.h"

#include <QJsonValue>

#include <cmath>

namespace {

QString text(const std::string& bytes) {
    return QString::fromLocal8Bit(bytes);
}

std::optional<std::int64_t> wholeNumber(const QString& value) {
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return number;
}

// Bytes, or with a k or M suffix, 1000-based as file managers count; "off"
// or 0 for none.
std::optional<std::int64_t> byteCount(QString value) {
    if (value == u"off")
        return 0;
    std::int64_t unit = 1;
    if (value.endsWith(u'k') || value.endsWith(u'K'))
        unit = 1000;
    else if (value.endsWith(u'M'))
        unit = 1000 * 1000;
    if (unit > 1)
        value.chop(1);
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !(number >= 0) || number * double(unit) > 1e12 || !value.front().isDigit())
        return std::nullopt;
    return std::int64_t(std::llround(number * double(unit)));
}

} // namespace

SettingsValues CliOptions::applied(SettingsValues values) const {
    if (preset)
        values.preset = *preset;
    if (customLongEdge)
        values.customLongEdge = *customLongEdge;
    if (jpegQuality)
        values.jpegQuality = *jpegQuality;
    if (outputFormat)
        values.outputFormat = *outputFormat;
    if (preserveExif)
        values.preserveExif = *preserveExif;
    if (skipUpscale)
        values.skipUpscale = *skipUpscale;
    if (outputFolderName)
        values.outputFolderName = *outputFolderName;
    if (filenamePrefix)
        values.filenamePrefix = *filenamePrefix;
    if (maxFileBytes)
        values.maxFileBytes = *maxFileBytes;
    return values;
}

std::variant<CliOptions, CliUsageError> parseCliOptions(const std::vector<std::string>& arguments) {
    CliOptions options;
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            options.paths.emplace_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = argument;
        std::optional<std::string> inlineValue;
        if (const auto equals = argument.find('=');
            argument.starts_with("--") && equals != std::string::npos) {
            name = argument.substr(0, equals);
            inlineValue = argument.substr(equals + 1);
        }
        const auto value = [&]() -> std::optional<QString> {
            if (inlineValue)
                return text(*inlineValue);
            if (i + 1 < arguments.size())
                return text(arguments[++i]);
            return std::nullopt;
        };
        const auto flag = [&](bool& target) -> std::optional<CliUsageError> {
            if (inlineValue)
                return CliUsageError{QStringLiteral("%1 takes no value").arg(text(name))};
            target = true;
            return std::nullopt;
        };
        const auto missing = [&] {
            return CliUsageError{QStringLiteral("%1 needs a value").arg(text(name))};
        };

        if (name == "--size") {
            const auto v = value();
            if (!v)
                return missing();
            const auto edge = wholeNumber(*v);
            if (!edge || *edge < 1)
                return CliUsageError{
                    QStringLiteral("--size takes a whole number of pixels, not \"%1\"").arg(*v)};
            if (const auto preset = SizePresets::fromStorageValue(QString::number(*edge));
                preset && *preset != SizePreset::custom) {
                options.preset = *preset;
            } else {
                options.preset = SizePreset::custom;
                options.customLongEdge = *edge;
            }
        } else if (name == "--quality") {
            const auto v = value();
            if (!v)
                return missing();
            const auto q = wholeNumber(*v);
            if (!q || *q < 0 || *q > 100)
                return CliUsageError{
                    QStringLiteral("--quality takes a whole number from 0 to 100, not \"%1\"")
                        .arg(*v)};
            options.jpegQuality = double(*q) / 100.0;
        } else if (name == "--format") {
            const auto v = value();
            if (!v)
                return missing();
            const auto format = OutputFormats::fromStorageValue(*v);
            if (!format)
                return CliUsageError{
                    QStringLiteral("--format takes keep, jpeg, png, webp or avif, not \"%1\"")
                        .arg(*v)};
            options.outputFormat = *format;
        } else if (name == "--max-bytes") {
            const auto v = value();
            if (!v)
                return missing();
            const auto bytes = v->isEmpty() ? std::nullopt : byteCount(*v);
            if (!bytes)
                return CliUsageError{QStringLiteral("--max-bytes takes a size such as 250000, "
                                                    "250k or 1.5M, or off, not \"%1\"")
                                         .arg(*v)};
            options.maxFileBytes = SettingsDefaults::validMaxFileBytes(*bytes);
        } else if (name == "--folder" || name == "--prefix") {
            const auto v = value();
            if (!v)
                return missing();
            (name == "--folder" ? options.outputFolderName : options.filenamePrefix) = *v;
        } else if (name == "--keep-metadata" || name == "--strip-metadata") {
            bool set = false;
            if (auto error = flag(set))
                return *error;
            options.preserveExif = name == "--keep-metadata";
        } else if (name == "--upscale" || name == "--no-upscale") {
            bool set = false;
            if (auto error = flag(set))
                return *error;
            options.skipUpscale = name == "--no-upscale";
        } else if (name == "--json") {
            if (auto error = flag(options.json))
                return *error;
        } else if (name == "--show-settings") {
            if (auto error = flag(options.showSettings))
                return *error;
        } else if (name == "--help" || name == "-h") {
            if (auto error = flag(options.help))
                return *error;
        } else if (name == "--version") {
            if (auto error = flag(options.version))
                return *error;
        } else {
            return CliUsageError{QStringLiteral("unknown option %1 (see --help)").arg(text(name))};
        }
    }
    return options;
}

QString cliHelpText() {
    return QStringLiteral(
        "Usage: burisora-cli [options] PATH...\n"
        "Shrinks and re-encodes images as the Burisora window does: every image file\n"
        "among PATHs (folders are searched) is written into a folder beside it.\n"
        "Settings come from the window's settings file; options change them for\n"
        "this run only.\n"
        "\n"
        "  --size 640|800|1280|1920|2560|N   long edge in pixels\n"
        "  --quality 0-100                   JPEG, HEIC, WebP and AVIF quality\n"
        "  --format keep|jpeg|png|webp|avif  output format\n"
        "  --max-bytes N|Nk|NM|off           largest output file (k, M: 1000-based);\n"
        "                                    quality, then size, give way to fit\n"
        "  --keep-metadata, --strip-metadata keep or remove EXIF, GPS, IPTC and XMP\n"
        "  --upscale, --no-upscale           enlarge smaller images, or not\n"
        "  --folder NAME                     output folder name\n"
        "  --prefix TEXT                     output file-name prefix\n"
        "  --json                            one JSON object per finished file\n"
        "  --show-settings                   print the effective settings and exit\n"
        "  --help, --version\n"
        "\n"
        "SIGTERM, SIGINT, SIGHUP or SIGQUIT start no further file and give the files\n"
        "in flight a few seconds (a second signal: none); then the summary is\n"
        "printed. A reader of the output that goes away (`| head`) stops it alike.\n"
        "\n"
        "Exit status: 0 when no file failed, 1 when one did, 2 for a usage error,\n"
        "128 + the signal's number when stopped by one (143, 130, 129, 131), 141\n"
        "when the reader went away.\n");
}

QJsonObject settingsJson(const SettingsValues& values) {
    return QJsonObject{
        {QStringLiteral("preset"), SizePresets::storageValue(values.preset)},
        {QStringLiteral("customLongEdge"), qint64(values.customLongEdge)},
        {QStringLiteral("jpegQuality"), values.jpegQuality},
        {QStringLiteral("outputFormat"), OutputFormats::storageValue(values.outputFormat)},
        {QStringLiteral("preserveExif"), values.preserveExif},
        {QStringLiteral("skipUpscale"), values.skipUpscale},
        {QStringLiteral("outputFolderName"), values.outputFolderName},
        {QStringLiteral("filenamePrefix"), values.filenamePrefix},
        {QStringLiteral("maxFileBytes"), qint64(values.maxFileBytes)},
    };
}
