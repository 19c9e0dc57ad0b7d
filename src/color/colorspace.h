// Colour-space conversions for Color, free of any Python dependency so the
// arithmetic can be reasoned about (and reused) on its own.
//
// Components are RGBA bytes; colour-space values are doubles in the ranges
// the attribute views use (H in degrees, S/V/L/A in percent, CMY and I1 in
// [0, 1], I2/I3 in [-0.5, 0.5]).  Setters assume their inputs were range
// checked by the caller, but every double-to-byte store still goes through
// clamp_u8 because combinations of in-range inputs can leave [0, 255].
#pragma once

#include <cstdint>

namespace lmcolor {

// Double to byte, truncating toward zero; NaN and negatives give 0, values
// of 255 and above give 255.  The only double->uint8 conversion used.
static inline uint8_t clamp_u8(double v)
{
    if (!(v > 0.0))  // also catches NaN
        return 0;
    if (v >= 255.0)
        return 255;
    return (uint8_t)v;
}

// True when lo <= v <= hi; NaN is never in range.
static inline bool in_range(double v, double lo, double hi)
{
    return v >= lo && v <= hi;
}

void rgb_to_hsva(const uint8_t rgba[4], double out[4]);
void rgb_to_hsla(const uint8_t rgba[4], double out[4]);
void rgb_to_i1i2i3(const uint8_t rgba[4], double out[3]);
void rgb_to_cmy(const uint8_t rgba[4], double out[3]);

// Write r, g, b into rgb[0..2] from checked inputs.
void hsv_to_rgb(double h, double s, double v, uint8_t rgb[3]);
void hsl_to_rgb(double h, double s, double l, uint8_t rgb[3]);
void i1i2i3_to_rgb(double i1, double i2, double i3, uint8_t rgb[3]);
void cmy_to_rgb(double c, double m, double y, uint8_t rgb[3]);

// Per-component helpers of the colour methods.
uint8_t gamma_byte(uint8_t x, double gamma);
uint8_t lerp_byte(uint8_t x, uint8_t y, double amount);
uint8_t gray_byte(uint8_t r, uint8_t g, uint8_t b);

}  // namespace lmcolor
