// SPDX-License-Identifier: GPL-3.0-or-later
#include "Models/OutputType.h"

#include <array>

namespace {

struct TypeRow {
    const char* extension;
    // Source extensions (lower case) whose own type this is.
    std::array<const char*, 3> sourceExtensions;
};

// In the order of OutputType.
constexpr std::array<TypeRow, 6> typeRows{{
    {"jpg", {"jpg", "jpeg", "jpe"}},
    {"png", {"png", nullptr, nullptr}},
    {"heic", {"heic", "heif", nullptr}},
    {"tif", {"tif", "tiff", nullptr}},
    // Sources of these two become JPEG under "same as original".
    {"webp", {nullptr, nullptr, nullptr}},
    {"avif", {nullptr, nullptr, nullptr}},
}};

const TypeRow& row(OutputType type) {
    return typeRows[size_t(type)];
}

} // namespace

namespace OutputTypes {

QString preferredFilenameExtension(OutputType type) {
    return QString::fromLatin1(row(type).extension);
}

std::optional<OutputType> forSourceExtension(const QString& extension) {
    const QString lower = extension.toLower();
    for (size_t i = 0; i < typeRows.size(); ++i) {
        for (const char* own : typeRows[i].sourceExtensions) {
            if (own && lower == QLatin1String(own))
                return OutputType(i);
        }
    }
    return std::nullopt;
}

} // namespace OutputTypes
