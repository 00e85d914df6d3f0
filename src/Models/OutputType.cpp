// SPDX-License-Identifier: GPL-3.0-or-later
#include "Models/OutputType.h"

namespace OutputTypes {

QString identifier(OutputType type) {
    switch (type) {
    case OutputType::jpeg:
        return QStringLiteral("image/jpeg");
    case OutputType::png:
        return QStringLiteral("image/png");
    case OutputType::heic:
        return QStringLiteral("image/heif");
    case OutputType::tiff:
        return QStringLiteral("image/tiff");
    }
    Q_UNREACHABLE();
}

QString preferredFilenameExtension(OutputType type) {
    switch (type) {
    case OutputType::jpeg:
        return QStringLiteral("jpg");
    case OutputType::png:
        return QStringLiteral("png");
    case OutputType::heic:
        return QStringLiteral("heic");
    case OutputType::tiff:
        return QStringLiteral("tif");
    }
    Q_UNREACHABLE();
}

bool isLossy(OutputType type) {
    return type == OutputType::jpeg || type == OutputType::heic;
}

} // namespace OutputTypes
