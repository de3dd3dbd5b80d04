// Conversions of computed values to chip register words: truncate toward zero
// and saturate at the 32-bit limits instead of overflowing. A value that would
// saturate (or is not a number) does not fit: the calibration refuses it.
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

// Whether the value truncated toward zero is exactly the register's value.
// Not a number compares false and so never fits.
inline bool fitsRegisterS32(double dValue) {
    return dValue > -2147483649.0 && dValue < 2147483648.0;
}

inline bool fitsRegisterU32(double dValue) {
    return dValue > -1.0 && dValue < 4294967296.0;
}
