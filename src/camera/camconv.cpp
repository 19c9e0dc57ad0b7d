// Camera pixel conversions (see camconv.h).
#include "camconv.h"
#include "pixelrw.h"


namespace {

inline unsigned clamp255(int v)
{
    return v < 0 ? 0u : v > 255 ? 255u : (unsigned)v;
}

// One channel packed at its place in `f`; a shift past the word drops it.
inline Uint32 pack_channel(unsigned c, Uint8 loss, Uint8 shift)
{
    if (shift >= 32)
        return 0;
    return (Uint32)(c >> (loss > 31 ? 31 : loss)) << shift;
}

// Writes (r, g, b) packed for the destination; 3-byte pixels get the bytes
// b, g, r in memory whatever their masks say.
inline void put_rgb(Uint8 *p, const SDL_PixelFormat *f, unsigned r, unsigned g, unsigned b)
{
    switch (f->BytesPerPixel) {
    case 3:
        p[0] = (Uint8)b;
        p[1] = (Uint8)g;
        p[2] = (Uint8)r;
        return;
    default:
        break;
    }
    lm::px_store(p, f->BytesPerPixel,
                 pack_channel(r, f->Rloss, f->Rshift) | pack_channel(g, f->Gloss, f->Gshift) |
                     pack_channel(b, f->Bloss, f->Bshift));
}

// HSV: V to red, H to green, S to blue; 3-byte pixels get V, S, H in memory.
inline void put_hsv(Uint8 *p, const SDL_PixelFormat *f, unsigned h, unsigned s, unsigned v)
{
    if (f->BytesPerPixel == 3) {
        p[0] = (Uint8)v;
        p[1] = (Uint8)s;
        p[2] = (Uint8)h;
    }
    else {
        put_rgb(p, f, v, h, s);
    }
}

struct RGB {
    unsigned r, g, b;
};

inline RGB yuv_to_rgb(int y, int u, int v)
{
    return RGB{clamp255(y + ((3 * (v - 128)) >> 1)),
               clamp255(y - ((6 * (v - 128) + 3 * (u - 128)) >> 3)),
               clamp255(y + ((129 * u - 16512) >> 6))};
}

inline void rgb_to_yuv_px(RGB c, unsigned *y, unsigned *u, unsigned *v)
{
    int r = (int)c.r, g = (int)c.g, b = (int)c.b;
    *y = (unsigned)((77 * r + 150 * g + 29 * b + 128) >> 8);
    *u = (unsigned)(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128) & 0xFF;
    *v = (unsigned)(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128) & 0xFF;
}

inline void rgb_to_hsv_px(RGB c, unsigned *h, unsigned *s, unsigned *v)
{
    int r = (int)c.r, g = (int)c.g, b = (int)c.b;
    int mx = r > g ? (r > b ? r : b) : (g > b ? g : b);
    int mn = r < g ? (r < b ? r : b) : (g < b ? g : b);
    int delta = mx - mn;
    *v = (unsigned)mx;
    if (delta == 0) {
        *h = *s = 0;
        return;
    }
    *s = (unsigned)(delta * 255 / mx);
    int hue;
    if (r == mx)
        hue = (g - b) * 43 / delta;
    else if (g == mx)
        hue = 85 + (b - r) * 43 / delta;
    else
        hue = 170 + (r - g) * 43 / delta;
    *h = (unsigned)hue & 0xFF;
}

// Calls f(x, y, i, p) for every destination pixel: i is the pixel's index in
// a packed source frame, p its address in the destination.
template <typename F>
inline void each_pixel(const lmCamDest *d, F f)
{
    const int bpp = d->format->BytesPerPixel;
    for (int y = 0; y < d->h; ++y) {
        Uint8 *p = d->pixels + (ptrdiff_t)y * d->pitch;
        size_t i = (size_t)y * (size_t)d->w;
        for (int x = 0; x < d->w; ++x, p += bpp, ++i)
            f(x, y, i, p);
    }
}

// The source pixel i of a frame layout as RGB.
inline RGB frame_rgb(const Uint8 *s, size_t i, Uint32 code)
{
    if (code == LM_PIX_RGB3) {
        s += 3 * i;
        return RGB{s[0], s[1], s[2]};
    }
    if (code == LM_PIX_XR24) {
        s += 4 * i;
        return RGB{s[2], s[1], s[0]};
    }
    // R444: byte 0 = green | blue, byte 1 = (unused) | red.
    s += 2 * i;
    return RGB{(unsigned)(s[1] & 0x0F) << 4, (unsigned)(s[0] & 0xF0),
               (unsigned)(s[0] & 0x0F) << 4};
}

inline unsigned surface_channel(Uint32 v, Uint32 mask, Uint8 shift, Uint8 loss)
{
    return (((v & mask) >> shift) << loss) & 0xFF;
}

inline RGB surface_rgb(const lmCamSurfaceSrc *s, int x, int y)
{
    const SDL_PixelFormat *f = s->format;
    const Uint8 *p = s->pixels + (ptrdiff_t)y * s->pitch + (ptrdiff_t)x * f->BytesPerPixel;
    const Uint32 v = lm::px_load(p, f->BytesPerPixel);
    return RGB{surface_channel(v, f->Rmask, f->Rshift, f->Rloss),
               surface_channel(v, f->Gmask, f->Gshift, f->Gloss),
               surface_channel(v, f->Bmask, f->Bshift, f->Bloss)};
}

inline bool is_frame_layout(Uint32 code)
{
    return code == LM_PIX_RGB3 || code == LM_PIX_R444 || code == LM_PIX_XR24;
}

// Converts every pixel of a frame layout or a surface through `out`.
template <typename Out>
inline void from_rgb_source(const void *source, const lmCamDest *d, Uint32 code, Out out)
{
    const SDL_PixelFormat *f = d->format;
    if (is_frame_layout(code)) {
        const Uint8 *s = static_cast<const Uint8 *>(source);
        each_pixel(d, [&](int, int, size_t i, Uint8 *p) { out(p, f, frame_rgb(s, i, code)); });
    }
    else {
        const lmCamSurfaceSrc *s = static_cast<const lmCamSurfaceSrc *>(source);
        each_pixel(d, [&](int x, int y, size_t, Uint8 *p) { out(p, f, surface_rgb(s, x, y)); });
    }
}

// Luma and chroma of pixel i of a packed 4:2:2 frame: y0, y1 are the byte
// offsets of the two lumas in a 4-byte pair, u and v those of the chroma.
template <int Y0, int Y1, int U, int V, typename Out>
inline void packed422(const void *src, const lmCamDest *d, Out out)
{
    const Uint8 *s = static_cast<const Uint8 *>(src);
    const SDL_PixelFormat *f = d->format;
    each_pixel(d, [&](int, int, size_t i, Uint8 *p) {
        const Uint8 *pair = s + (i / 2) * 4;
        out(p, f, pair[(i & 1) ? Y1 : Y0], pair[U], pair[V]);
    });
}

template <typename Out>
inline void planar420(const void *src, const lmCamDest *d, Out out)
{
    const Uint8 *s = static_cast<const Uint8 *>(src);
    const SDL_PixelFormat *f = d->format;
    const size_t w = (size_t)d->w, cw = (w + 1) / 2, ch = ((size_t)d->h + 1) / 2;
    const Uint8 *up = s + w * (size_t)d->h, *vp = up + cw * ch;
    each_pixel(d, [&](int x, int y, size_t i, Uint8 *p) {
        size_t c = (size_t)(y / 2) * cw + (size_t)(x / 2);
        out(p, f, s[i], up[c], vp[c]);
    });
}

void put_yuv_as_rgb(Uint8 *p, const SDL_PixelFormat *f, int y, int u, int v)
{
    RGB c = yuv_to_rgb(y, u, v);
    put_rgb(p, f, c.r, c.g, c.b);
}

void put_yuv_copy(Uint8 *p, const SDL_PixelFormat *f, int y, int u, int v)
{
    put_rgb(p, f, (unsigned)y, (unsigned)u, (unsigned)v);
}

}  // namespace

int64_t lm_cam_frame_bytes(Uint32 pixelformat, int w, int h)
{
    if (w < 0 || h < 0)
        return -1;
    const int64_t n = (int64_t)w * h;  // both below 2^31: no overflow
    const int64_t cw = ((int64_t)w + 1) / 2, ch = ((int64_t)h + 1) / 2;
    if (pixelformat == LM_PIX_BA81)
        return n;
    if (pixelformat == LM_PIX_YU12)
        return n + 2 * cw * ch;
    if (pixelformat == LM_PIX_RGB3)
        return 3 * n;
    if (pixelformat == LM_PIX_XR24)
        return 4 * n;
    if (pixelformat == LM_PIX_R444)
        return 2 * n;
    if (pixelformat == LM_PIX_YUYV || pixelformat == LM_PIX_UYVY)
        return 4 * ((n + 1) / 2);  // a lone last pixel still reads its pair
    return 0;
}

LM_CAM_EXPORT void rgb24_to_rgb(const void *src, const lmCamDest *dst)
{
    from_rgb_source(src, dst, LM_PIX_RGB3,
                    [](Uint8 *p, const SDL_PixelFormat *f, RGB c) { put_rgb(p, f, c.r, c.g, c.b); });
}

LM_CAM_EXPORT void bgr32_to_rgb(const void *src, const lmCamDest *dst)
{
    from_rgb_source(src, dst, LM_PIX_XR24,
                    [](Uint8 *p, const SDL_PixelFormat *f, RGB c) { put_rgb(p, f, c.r, c.g, c.b); });
}

LM_CAM_EXPORT void rgb444_to_rgb(const void *src, const lmCamDest *dst)
{
    from_rgb_source(src, dst, LM_PIX_R444,
                    [](Uint8 *p, const SDL_PixelFormat *f, RGB c) { put_rgb(p, f, c.r, c.g, c.b); });
}

LM_CAM_EXPORT void yuyv_to_rgb(const void *src, const lmCamDest *dst)
{
    packed422<0, 2, 1, 3>(src, dst, put_yuv_as_rgb);
}

LM_CAM_EXPORT void uyvy_to_rgb(const void *src, const lmCamDest *dst)
{
    packed422<1, 3, 0, 2>(src, dst, put_yuv_as_rgb);
}

LM_CAM_EXPORT void yuyv_to_yuv(const void *src, const lmCamDest *dst)
{
    packed422<0, 2, 1, 3>(src, dst, put_yuv_copy);
}

LM_CAM_EXPORT void uyvy_to_yuv(const void *src, const lmCamDest *dst)
{
    packed422<1, 3, 0, 2>(src, dst, put_yuv_copy);
}

LM_CAM_EXPORT void yuv420_to_rgb(const void *src, const lmCamDest *dst)
{
    planar420(src, dst, put_yuv_as_rgb);
}

LM_CAM_EXPORT void yuv420_to_yuv(const void *src, const lmCamDest *dst)
{
    planar420(src, dst, put_yuv_copy);
}

// Bilinear demosaic of a BGGR mosaic: blue, green on even rows; green, red
// on odd rows.  Each missing colour is the integer mean of the neighbours
// that carry it and lie inside the frame.
LM_CAM_EXPORT void sbggr8_to_rgb(const void *src, const lmCamDest *dst)
{
    const Uint8 *s = static_cast<const Uint8 *>(src);
    const int w = dst->w, h = dst->h;
    const SDL_PixelFormat *f = dst->format;
    auto mean = [&](int x, int y, const int (*offs)[2], int n) {
        unsigned sum = 0, count = 0;
        for (int k = 0; k < n; ++k) {
            int nx = x + offs[k][0], ny = y + offs[k][1];
            if (nx >= 0 && nx < w && ny >= 0 && ny < h) {
                sum += s[(size_t)ny * (size_t)w + (size_t)nx];
                ++count;
            }
        }
        return count ? sum / count : 0u;
    };
    static const int orth[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    static const int diag[4][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
    static const int row[2][2] = {{-1, 0}, {1, 0}};
    static const int column[2][2] = {{0, -1}, {0, 1}};
    each_pixel(dst, [&](int x, int y, size_t i, Uint8 *p) {
        unsigned own = s[i], r, g, b;
        switch ((y & 1) * 2 + (x & 1)) {
        case 0:  // blue site
            b = own;
            g = mean(x, y, orth, 4);
            r = mean(x, y, diag, 4);
            break;
        case 1:  // green on a blue row
            g = own;
            b = mean(x, y, row, 2);
            r = mean(x, y, column, 2);
            break;
        case 2:  // green on a red row
            g = own;
            r = mean(x, y, row, 2);
            b = mean(x, y, column, 2);
            break;
        default:  // red site
            r = own;
            g = mean(x, y, orth, 4);
            b = mean(x, y, diag, 4);
            break;
        }
        put_rgb(p, f, r, g, b);
    });
}

LM_CAM_EXPORT void rgb_to_yuv(const void *source, const lmCamDest *dst, Uint32 code)
{
    from_rgb_source(source, dst, code, [](Uint8 *p, const SDL_PixelFormat *f, RGB c) {
        unsigned y, u, v;
        rgb_to_yuv_px(c, &y, &u, &v);
        put_rgb(p, f, y, u, v);
    });
}

LM_CAM_EXPORT void rgb_to_hsv(const void *source, const lmCamDest *dst, Uint32 code)
{
    from_rgb_source(source, dst, code, [](Uint8 *p, const SDL_PixelFormat *f, RGB c) {
        unsigned h, s, v;
        rgb_to_hsv_px(c, &h, &s, &v);
        put_hsv(p, f, h, s, v);
    });
}
