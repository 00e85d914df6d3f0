// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Settings/SettingsValues.h"

// Everything one batch needs to know, fixed when the batch starts. A plain
// value: safe to copy to worker threads.
struct ResizeSettingsSnapshot : OutputChoices {
    std::int64_t longEdgePx = SettingsDefaults::longEdgePx;

    friend bool operator==(const ResizeSettingsSnapshot&, const ResizeSettingsSnapshot&) = default;
};
