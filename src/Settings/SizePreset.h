// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// How large an output may be: one of five fixed long edges, or the user's own.
enum class SizePreset { px640, px800, px1280, px1920, px2560, custom };

namespace SizePresets {

inline constexpr std::array<SizePreset, 6> allCases{SizePreset::px640,  SizePreset::px800,
                                                    SizePreset::px1280, SizePreset::px1920,
                                                    SizePreset::px2560, SizePreset::custom};

// The text under which the case is kept in the settings file.
QString storageValue(SizePreset preset);
// Shown in the settings panel; "カスタム" is translated, the sizes are not.
QString displayName(SizePreset preset);
// Exact match on the storage value; no trimming or case folding.
std::optional<SizePreset> fromStorageValue(const std::optional<QString>& storageValue);
// The fixed long edge of a preset; nothing for `custom`.
std::optional<std::int64_t> fixedLongEdge(SizePreset preset);

} // namespace SizePresets
