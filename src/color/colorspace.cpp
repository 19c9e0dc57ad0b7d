#include "colorspace.h"

#include <cmath>

namespace lmcolor {

namespace {

struct Rgb01 {
    double r, g, b, mx, mn;
};

Rgb01 unit_rgb(const uint8_t rgba[4])
{
    Rgb01 c;
    c.r = rgba[0] / 255.0;
    c.g = rgba[1] / 255.0;
    c.b = rgba[2] / 255.0;
    c.mx = std::fmax(c.r, std::fmax(c.g, c.b));
    c.mn = std::fmin(c.r, std::fmin(c.g, c.b));
    return c;
}

// Hue in degrees [0, 360) for a colour with a non-zero chroma d.
double hue_of(const Rgb01 &c, double d)
{
    double h;
    if (c.r == c.mx)
        h = std::fmod((c.g - c.b) / d * 60.0, 360.0);
    else if (c.g == c.mx)
        h = 120.0 + (c.b - c.r) / d * 60.0;
    else
        h = 240.0 + (c.r - c.g) / d * 60.0;
    if (h < 0.0)
        h += 360.0;
    return h;
}

// One channel of the HSL reconstruction; x is wrapped into [0, 1] first.
double hsl_channel(double p, double q, double x)
{
    if (x < 0.0)
        x += 1.0;
    if (x > 1.0)
        x -= 1.0;
    if (x < 1.0 / 6.0)
        return p + (q - p) * 6.0 * x;
    if (x < 0.5)
        return q;
    if (x < 2.0 / 3.0)
        return p + (q - p) * (2.0 / 3.0 - x) * 6.0;
    return p;
}

}  // namespace

void rgb_to_hsva(const uint8_t rgba[4], double out[4])
{
    Rgb01 c = unit_rgb(rgba);
    double d = c.mx - c.mn;
    out[3] = rgba[3] / 255.0 * 100.0;
    out[2] = c.mx * 100.0;
    if (d == 0.0) {
        out[0] = out[1] = 0.0;
        return;
    }
    double s = d * 100.0 / c.mx;
    out[1] = s < 0.0 ? 0.0 : (s > 100.0 ? 100.0 : s);
    out[0] = hue_of(c, d);
}

void rgb_to_hsla(const uint8_t rgba[4], double out[4])
{
    Rgb01 c = unit_rgb(rgba);
    double d = c.mx - c.mn;
    double l = (c.mx + c.mn) * 50.0;
    out[3] = rgba[3] / 255.0 * 100.0;
    out[2] = l;
    if (d == 0.0) {
        out[0] = out[1] = 0.0;
        return;
    }
    double den = l <= 50.0 ? c.mx + c.mn : 2.0 - c.mx - c.mn;
    out[1] = d / den * 100.0;
    out[0] = hue_of(c, d);
}

void rgb_to_i1i2i3(const uint8_t rgba[4], double out[3])
{
    Rgb01 c = unit_rgb(rgba);
    out[0] = (c.r + c.g + c.b) / 3.0;
    out[1] = (c.r - c.b) / 2.0;
    out[2] = (2.0 * c.g - c.r - c.b) / 4.0;
}

void rgb_to_cmy(const uint8_t rgba[4], double out[3])
{
    Rgb01 c = unit_rgb(rgba);
    out[0] = 1.0 - c.r;
    out[1] = 1.0 - c.g;
    out[2] = 1.0 - c.b;
}

void hsv_to_rgb(double h, double s, double v, uint8_t rgb[3])
{
    s /= 100.0;
    v /= 100.0;
    double hf = std::floor(h / 60.0);
    double f = h / 60.0 - hf;
    double p = (1.0 - s) * v * 255.0;
    double q = (1.0 - s * f) * v * 255.0;
    double t = (1.0 - (1.0 - f) * s) * v * 255.0;
    double vv = v * 255.0;
    double r, g, b;
    switch ((int)hf) {
    case 1: r = q; g = vv; b = p; break;
    case 2: r = p; g = vv; b = t; break;
    case 3: r = p; g = q; b = vv; break;
    case 4: r = t; g = p; b = vv; break;
    case 5: r = vv; g = p; b = q; break;
    default: r = vv; g = t; b = p; break;  // 0, and 6 for H = 360
    }
    rgb[0] = clamp_u8(r);
    rgb[1] = clamp_u8(g);
    rgb[2] = clamp_u8(b);
}

void hsl_to_rgb(double h, double s, double l, uint8_t rgb[3])
{
    s /= 100.0;
    l /= 100.0;
    if (s == 0.0) {
        rgb[0] = rgb[1] = rgb[2] = clamp_u8(l * 255.0);
        return;
    }
    double q = l < 0.5 ? l * (1.0 + s) : l + s - l * s;
    double p = 2.0 * l - q;
    h /= 360.0;
    rgb[0] = clamp_u8(hsl_channel(p, q, h + 1.0 / 3.0) * 255.0);
    rgb[1] = clamp_u8(hsl_channel(p, q, h) * 255.0);
    rgb[2] = clamp_u8(hsl_channel(p, q, h - 1.0 / 3.0) * 255.0);
}

void i1i2i3_to_rgb(double i1, double i2, double i3, uint8_t rgb[3])
{
    double b = i1 - i2 - 2.0 * i3 / 3.0;
    double r = 2.0 * i2 + b;
    double g = 3.0 * i1 - r - b;
    rgb[0] = clamp_u8(r * 255.0);
    rgb[1] = clamp_u8(g * 255.0);
    rgb[2] = clamp_u8(b * 255.0);
}

void cmy_to_rgb(double c, double m, double y, uint8_t rgb[3])
{
    rgb[0] = clamp_u8((1.0 - c) * 255.0);
    rgb[1] = clamp_u8((1.0 - m) * 255.0);
    rgb[2] = clamp_u8((1.0 - y) * 255.0);
}

uint8_t gamma_byte(uint8_t x, double gamma)
{
    // pow(0, nan) and friends are NaN; clamp_u8 turns that into 0.
    double v = std::pow(x / 255.0, gamma);
    if (v > 1.0)
        return 255;
    return clamp_u8(v * 255.0 + 0.5);
}

uint8_t lerp_byte(uint8_t x, uint8_t y, double amount)
{
    return clamp_u8(std::round(y * amount + x * (1.0 - amount)));
}

uint8_t gray_byte(uint8_t r, uint8_t g, uint8_t b)
{
    return clamp_u8(g * 0.587 + r * 0.299 + b * 0.114);
}

}  // namespace lmcolor
