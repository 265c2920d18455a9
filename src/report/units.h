// Unit scaling of reported values. "MB" is 2^20 bytes, applied as two
// multiplications by 1/1024, which is exact for powers of two.
#pragma once

inline double ToMillions(double value) { return value / 1000000.0; }
inline double ToMegabytes(double value) { return value * 0.0009765625 * 0.0009765625; }
