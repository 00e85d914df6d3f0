// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>

// File sizes as people read them, 1000-based as file managers count:
// "840 B", "312 KB", "3.4 MB", "1.2 GB". Three significant digits at most,
// no trailing ".0".
namespace ByteSizes {

QString text(std::int64_t bytes);

} // namespace ByteSizes
