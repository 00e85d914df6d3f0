// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QVariantMap>

#include <optional>

// The information dictionary compiled into the program and the rules that
// decide from it whether the update check exists at all. The decision is
// quiet: a bad configuration only means there is no updater.
namespace UpdateConfiguration {

inline constexpr auto feedURLKey = "SUFeedURL";
inline constexpr auto publicEDKeyKey = "SUPublicEDKey";
inline constexpr auto versionKey = "CFBundleVersion";

// The compiled-in dictionary; nothing when the resource is missing or broken.
std::optional<QVariantMap> informationDictionary();

// True when the dictionary carries a valid feed address and a 32-byte key.
bool hasSparkleConfiguration(const std::optional<QVariantMap>& dictionary);
bool hasSparkleConfiguration(const QJsonObject& dictionary);
// Reads the compiled-in dictionary afresh.
bool hasSparkleConfiguration();

bool isValidSparkleFeedURL(const QString& text);

// The key's bytes after trimming and strict base64 decoding; nothing when it
// does not decode.
std::optional<QByteArray> decodedPublicEDKey(const QString& text);

// The value of a key when it is text; values of any other kind count as missing.
std::optional<QString> text(const QVariantMap& dictionary, const char* key);

// The program's own version as the dictionary states it, else the built-in one.
QString programVersion(const QVariantMap& dictionary);

} // namespace UpdateConfiguration
