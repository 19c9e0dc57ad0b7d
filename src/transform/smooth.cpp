// Smooth-scaling passes and their driver (see smooth.h).
//
// Setup arithmetic is 64-bit: source lengths times 65536 and the
// interpolation positions pass 32 bits for lengths of 32768 and more.  The
// area passes keep 32-bit accumulators, so shrinking by more than 256:1
// still averages (16-bit ones would wrap); below that ratio the sums never
// exceed 16 bits and the results are the same.

#include "smooth.h"

#include <cstdlib>
#include <memory>

namespace lmxf {

namespace {

struct FreeDeleter {
    void operator()(void *p) const { free(p); }
};
template <typename T> using Buf = std::unique_ptr<T[], FreeDeleter>;

// n * m entries (m defaults to 1), or null when the size does not fit.
template <typename T> Buf<T> alloc(size_t n, size_t m = 1)
{
    size_t bytes;
    if (__builtin_mul_overflow(n, m, &bytes) ||
        __builtin_mul_overflow(bytes, sizeof(T), &bytes))
        return Buf<T>();
    return Buf<T>(static_cast<T *>(malloc(bytes ? bytes : 1)));
}

// The mean of `space` (16.16) source samples, `acc` holding the whole ones
// and `part` the weighted last one.  `recip` is 2^32 / space; past 2^32
// (a shrink of more than 65536:1) it would be 0 and a division keeps the
// precision.  Recip selects the case once per pass, so the loops have no
// branch on it.
struct Averager {
    int64_t space;
    uint32_t recip;

    explicit Averager(int srclen, int dstlen)
        : space((int64_t)srclen * 65536 / dstlen),
          recip((uint32_t)((1ull << 32) / (uint64_t)space))
    {
    }
    template <bool Recip> uint8_t mean(uint32_t acc, uint32_t part) const
    {
        if (Recip)
            return (uint8_t)(((uint32_t)(acc + part) * recip) >> 16);
        return (uint8_t)((((uint64_t)acc + part) << 16) / (uint64_t)space);
    }
};

// Linear interpolation position of destination index k: source index and
// the weight (16.16) of the sample after it.
struct Step {
    int64_t index;
    int32_t w1;
};
static inline Step step_of(int64_t k, int srclen, int dstlen)
{
    const int64_t t = k * (srclen - 1);
    return {t / dstlen, (int32_t)(((t % dstlen) * 65536) / dstlen)};
}

}  // namespace

template <bool Recip>
void shrink_x_rows(const uint8_t *src, uint8_t *dst, int extent, int srcpitch,
                   int dstpitch, int srclen, int dstlen, const Averager &av)
{
    for (int y = 0; y < extent; ++y) {
        const uint8_t *s = src + (ptrdiff_t)y * srcpitch;
        uint8_t *d = dst + (ptrdiff_t)y * dstpitch;
        uint8_t *const dend = d + (size_t)dstlen * 4;
        uint32_t a0 = 0, a1 = 0, a2 = 0, a3 = 0;
        int64_t counter = av.space;
        for (int x = 0; x < srclen && d < dend; ++x, s += 4) {
            if (counter > 65536) {
                a0 += s[0];
                a1 += s[1];
                a2 += s[2];
                a3 += s[3];
                counter -= 65536;
                continue;
            }
            const uint32_t c = (uint32_t)counter, f = 65536 - c;
            d[0] = av.template mean<Recip>(a0, (c * s[0]) >> 16);
            d[1] = av.template mean<Recip>(a1, (c * s[1]) >> 16);
            d[2] = av.template mean<Recip>(a2, (c * s[2]) >> 16);
            d[3] = av.template mean<Recip>(a3, (c * s[3]) >> 16);
            d += 4;
            a0 = (f * s[0]) >> 16;
            a1 = (f * s[1]) >> 16;
            a2 = (f * s[2]) >> 16;
            a3 = (f * s[3]) >> 16;
            counter = av.space - f;
        }
    }
}

// Whole-number ratios k (up to 65536): the walk then never splits a
// source pixel, and each destination pixel is the plain sum of k source
// pixels times the reciprocal, the same value.  K is k when fixed at
// compile time (halving, thirds), else 0.
template <int K>
static void shrink_x_blocks(const uint8_t *src, uint8_t *dst, int extent,
                            int srcpitch, int dstpitch, int dstlen, int k,
                            uint32_t recip)
{
    if (K)
        k = K;
    for (int y = 0; y < extent; ++y) {
        const uint8_t *__restrict s = src + (ptrdiff_t)y * srcpitch;
        uint8_t *__restrict d = dst + (ptrdiff_t)y * dstpitch;
        for (int x = 0; x < dstlen; ++x, d += 4) {
            uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
            for (int i = 0; i < k; ++i, s += 4) {
                s0 += s[0];
                s1 += s[1];
                s2 += s[2];
                s3 += s[3];
            }
            d[0] = (uint8_t)((s0 * recip) >> 16);
            d[1] = (uint8_t)((s1 * recip) >> 16);
            d[2] = (uint8_t)((s2 * recip) >> 16);
            d[3] = (uint8_t)((s3 * recip) >> 16);
        }
    }
}

bool shrink_x(const uint8_t *src, uint8_t *dst, int extent, int srcpitch,
              int dstpitch, int srclen, int dstlen)
{
    const Averager av(srclen, dstlen);
    const int k = srclen / dstlen;
    if (av.recip && srclen % dstlen == 0) {
        if (k == 2)
            shrink_x_blocks<2>(src, dst, extent, srcpitch, dstpitch, dstlen,
                               k, av.recip);
        else if (k == 3)
            shrink_x_blocks<3>(src, dst, extent, srcpitch, dstpitch, dstlen,
                               k, av.recip);
        else
            shrink_x_blocks<0>(src, dst, extent, srcpitch, dstpitch, dstlen,
                               k, av.recip);
    }
    else if (av.recip)
        shrink_x_rows<true>(src, dst, extent, srcpitch, dstpitch, srclen,
                            dstlen, av);
    else
        shrink_x_rows<false>(src, dst, extent, srcpitch, dstpitch, srclen,
                             dstlen, av);
    return true;
}

static void add_row(uint32_t *__restrict a, const uint8_t *__restrict s,
                    size_t n)
{
    for (size_t i = 0; i < n; ++i)
        a[i] += s[i];
}

static void blend_rows(uint8_t *__restrict d, const uint8_t *__restrict r0,
                       const uint8_t *__restrict r1, size_t n, int32_t m0,
                       int32_t m1)
{
    for (size_t i = 0; i < n; ++i)
        d[i] = (uint8_t)((m0 * r0[i] + m1 * r1[i]) >> 16);
}

// One destination row of the vertical area pass; the accumulators start
// the next one with the rest of the last source row.
template <bool Recip>
static void emit_row(uint8_t *__restrict d, uint32_t *__restrict a,
                     const uint8_t *__restrict s, size_t n, uint32_t c,
                     uint32_t f, const Averager &av)
{
    for (size_t i = 0; i < n; ++i) {
        d[i] = av.template mean<Recip>(a[i], (c * s[i]) >> 16);
        a[i] = (f * s[i]) >> 16;
    }
}

bool shrink_y(const uint8_t *src, uint8_t *dst, int extent, int srcpitch,
              int dstpitch, int srclen, int dstlen)
{
    const size_t n = (size_t)extent * 4;
    Buf<uint32_t> acc = alloc<uint32_t>(n);
    if (!acc)
        return false;
    uint32_t *a = acc.get();
    memset(a, 0, n * sizeof(uint32_t));
    const Averager av(srclen, dstlen);
    if (av.recip && srclen % dstlen == 0) {
        // Whole-number ratio: sums of k rows (see shrink_x_blocks).
        const int k = srclen / dstlen;
        for (int j = 0; j < dstlen; ++j) {
            memset(a, 0, n * sizeof(uint32_t));
            for (int i = 0; i < k; ++i)
                add_row(a, src + (ptrdiff_t)(j * k + i) * srcpitch, n);
            uint8_t *__restrict d = dst + (ptrdiff_t)j * dstpitch;
            for (size_t i = 0; i < n; ++i)
                d[i] = (uint8_t)((a[i] * av.recip) >> 16);
        }
        return true;
    }
    int64_t counter = av.space;
    int written = 0;
    for (int y = 0; y < srclen && written < dstlen; ++y) {
        const uint8_t *s = src + (ptrdiff_t)y * srcpitch;
        if (counter > 65536) {
            add_row(a, s, n);
            counter -= 65536;
            continue;
        }
        const uint32_t c = (uint32_t)counter, f = 65536 - c;
        uint8_t *d = dst + (ptrdiff_t)written * dstpitch;
        if (av.recip)
            emit_row<true>(d, a, s, n, c, f, av);
        else
            emit_row<false>(d, a, s, n, c, f, av);
        ++written;
        counter = av.space - f;
    }
    return true;
}

bool expand_x(const uint8_t *src, uint8_t *dst, int extent, int srcpitch,
              int dstpitch, int srclen, int dstlen)
{
    Buf<uint32_t> idx = alloc<uint32_t>((size_t)dstlen);
    Buf<int32_t> w1 = alloc<int32_t>((size_t)dstlen);
    if (!idx || !w1)
        return false;
    for (int x = 0; x < dstlen; ++x) {
        Step st = step_of(x, srclen, dstlen);
        idx[x] = (uint32_t)st.index * 4;
        w1[x] = st.w1;
    }
    for (int y = 0; y < extent; ++y) {
        const uint8_t *s = src + (ptrdiff_t)y * srcpitch;
        uint8_t *d = dst + (ptrdiff_t)y * dstpitch;
        for (int x = 0; x < dstlen; ++x, d += 4) {
            const uint8_t *p = s + idx[x];
            const int32_t m1 = w1[x], m0 = 65536 - m1;
            if (!m1) {
                // The sample after has no weight (and may lie past the row).
                memcpy(d, p, 4);
                continue;
            }
            for (int c = 0; c < 4; ++c)
                d[c] = (uint8_t)((m0 * p[c] + m1 * p[c + 4]) >> 16);
        }
    }
    return true;
}

bool expand_y(const uint8_t *src, uint8_t *dst, int extent, int srcpitch,
              int dstpitch, int srclen, int dstlen)
{
    const size_t n = (size_t)extent * 4;
    for (int y = 0; y < dstlen; ++y) {
        Step st = step_of(y, srclen, dstlen);
        const uint8_t *r0 = src + (ptrdiff_t)st.index * srcpitch;
        uint8_t *d = dst + (ptrdiff_t)y * dstpitch;
        if (!st.w1) {
            memcpy(d, r0, n);
            continue;
        }
        const uint8_t *r1 = r0 + srcpitch;
        const int32_t m1 = st.w1, m0 = 65536 - m1;
        blend_rows(d, r0, r1, n, m0, m1);
    }
    return true;
}

bool smooth_scale(const SmoothPasses &p, const Image &src, const Image &dst)
{
    const int sw = src.w, sh = src.h, dw = dst.w, dh = dst.h;
    if (sw == dw && sh == dh) {
        for (int y = 0; y < sh; ++y)
            memcpy(dst.row(y), src.row(y), (size_t)dw * src.bpp);
        return true;
    }
    // 24-bit pixels are filtered as 4-byte ones with a filler byte.
    const bool packed = src.bpp == 3;
    Buf<uint8_t> src32, dst32, mid;
    const uint8_t *in = src.pixels;
    uint8_t *out = dst.pixels;
    int inpitch = src.pitch, outpitch = dst.pitch;
    if (packed) {
        src32 = alloc<uint8_t>((size_t)sw * 4, (size_t)sh);
        dst32 = alloc<uint8_t>((size_t)dw * 4, (size_t)dh);
        if (!src32 || !dst32)
            return false;
        for (int y = 0; y < sh; ++y) {
            const uint8_t *s = src.row(y);
            uint8_t *d = src32.get() + (size_t)y * sw * 4;
            for (int x = 0; x < sw; ++x, s += 3, d += 4) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
                d[3] = 255;
            }
        }
        in = src32.get();
        out = dst32.get();
        inpitch = sw * 4;
        outpitch = dw * 4;
    }
    const SmoothPass hpass = dw < sw ? p.shrink_x : p.expand_x;
    const SmoothPass vpass = dh < sh ? p.shrink_y : p.expand_y;
    bool ok;
    if (sw != dw && sh != dh) {
        mid = alloc<uint8_t>((size_t)dw * 4, (size_t)sh);
        ok = mid && hpass(in, mid.get(), sh, inpitch, dw * 4, sw, dw) &&
             vpass(mid.get(), out, dw, dw * 4, outpitch, sh, dh);
    }
    else if (sw != dw) {
        ok = hpass(in, out, sh, inpitch, outpitch, sw, dw);
    }
    else {
        ok = vpass(in, out, sw, inpitch, outpitch, sh, dh);
    }
    if (ok && packed) {
        for (int y = 0; y < dh; ++y) {
            const uint8_t *s = out + (size_t)y * dw * 4;
            uint8_t *d = dst.row(y);
            for (int x = 0; x < dw; ++x, s += 4, d += 3)
                memcpy(d, s, 3);
        }
    }
    return ok;
}

}  // namespace lmxf
