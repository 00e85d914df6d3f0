// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <filesystem>

// Opens the desktop's file manager with one file selected. Asks a file manager
// over D-Bus (org.freedesktop.FileManager1, which Nautilus, Dolphin, Nemo,
// Caja, Thunar and others implement); when none answers, opens the folder that
// holds the file instead. Returns at once; nothing is reported.
void revealInFileManager(const QString& path);
// The same for a path whose name need not be valid UTF-8.
void revealInFileManager(const std::filesystem::path& path);
