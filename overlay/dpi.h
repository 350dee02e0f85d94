#pragma once

#include <cstdint>

namespace lumora {

// Every pixel size of the user interface is designed at this DPI and scaled
// to the window's DPI.
inline constexpr std::uint32_t kDesignDpi = 96;

// S(n): `design_pixels` at 96 DPI in physical pixels at `dpi`, computed as
// MulDiv(n, dpi, 96) does: the exact quotient rounded to nearest, halves away
// from zero, and -1 when the result does not fit. Portable, so that the
// overlay's geometry is the same on every platform that computes it.
constexpr std::int32_t ScaleForDpi(std::int32_t design_pixels, std::uint32_t dpi) {
  constexpr std::int64_t kHalf = kDesignDpi / 2;
  const std::int64_t product = static_cast<std::int64_t>(design_pixels) * dpi;
  const std::int64_t scaled = (product >= 0 ? product + kHalf : product - kHalf) / kDesignDpi;
  if (scaled > INT32_MAX || scaled < -INT32_MAX) {
    return -1;
  }
  return static_cast<std::int32_t>(scaled);
}

}  // namespace lumora
