// SPDX-License-Identifier: GPL-3.0-or-later
#include "Models/ByteSizes.h"

#include <cmath>

namespace ByteSizes {

QString text(std::int64_t bytes) {
    static constexpr const char* units[] = {"B", "KB", "MB", "GB", "TB"};
    double value = double(std::max<std::int64_t>(bytes, 0));
    int unit = 0;
    // Rounded first, so that 999,999 bytes reads "1 MB", not "1000 KB".
    const auto rounded = [](double v) { return v < 10 ? std::round(v * 10) / 10 : std::round(v); };
    while (unit < 4 && rounded(value) >= 1000) {
        value /= 1000;
        ++unit;
    }
    value = unit == 0 ? value : rounded(value);
    return QString::number(value, 'g', 3) + u' ' + QLatin1String(units[unit]);
}

} // namespace ByteSizes
