// Conversions of computed values to chip register words: truncate toward zero
// and saturate at the 32-bit limits instead of overflowing.
#pragma once

#include <cmath>
#include <cstdint>

inline int32_t toRegisterS32(double dValue) {
    if (std::isnan(dValue)) return 0;
    if (dValue >= 2147483647.0) return INT32_MAX;
    if (dValue <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(dValue);
}

inline uint32_t toRegisterU32(double dValue) {
    if (std::isnan(dValue) || dValue <= 0.0) return 0;
    if (dValue >= 4294967295.0) return UINT32_MAX;
    return static_cast<uint32_t>(dValue);
}
