// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Models/OutputType.h"

#include <QString>

#include <filesystem>

// Decides where an output goes and claims the name. Stateless; safe on any
// thread, also for several files of one folder at once.
namespace OutputPathResolver {

inline constexpr auto defaultFolderName = "Resized";
inline constexpr qsizetype maximumFolderNameCharacters = 100;
inline constexpr qsizetype maximumPrefixCharacters = 50;
inline constexpr qint64 nameByteBudget = 240;
inline constexpr int maximumCollisionNumber = 9998;

// Creates the output folder beside the source, checks it is really inside the
// source's folder, and creates an empty file under the first free name of
// prefix + base name [+ "-N"] + "." + extension. Returns that file.
// Throws OutputPathError, or SystemError when the folder cannot be made.
std::filesystem::path resolve(const std::filesystem::path& source, OutputType outputType,
                              const QString& folderName, const QString& filenamePrefix);

// A single safe path component; never empty.
QString sanitizedFolderName(const QString& name);
// Safe to put in front of a file name; may be empty.
QString sanitizeFilenamePrefix(const QString& prefix);

// Whether `outputFolder` is `parent` itself or lies below it (both standardized,
// links resolved). "/" contains "/Resized".
bool isContained(const std::filesystem::path& parent, const std::filesystem::path& outputFolder);

// Every symbolic link in the path replaced by its target; a link that cannot
// be resolved stays as it is.
std::filesystem::path resolvingSymlinksInPath(const std::filesystem::path& path);

} // namespace OutputPathResolver
