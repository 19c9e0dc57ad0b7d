// Bitmask library: creation, whole-mask operations, two-mask operations at
// an offset, scaling and convolution.  See bitmask.h for the layout.

#include "bitmask.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

int64_t floor_div32(int64_t v)
{
    return v >= 0 ? v / 32 : -((-v + 31) / 32);
}

// The part of a that b, placed at (xo, yo), covers: pixel columns
// [x0, x1) and rows [y0, y1) of a.  False when they do not overlap (masks
// that merely touch do not).  64-bit, so offsets near the int limits are
// plain misses rather than overflow.
struct Span {
    int64_t x0, x1, y0, y1;
};

bool span_of(const bitmask_t *a, const bitmask_t *b, int64_t xo, int64_t yo,
             Span *s)
{
    if (a->w <= 0 || a->h <= 0 || b->w <= 0 || b->h <= 0)
        return false;
    if (xo >= a->w || yo >= a->h || xo <= -(int64_t)b->w ||
        yo <= -(int64_t)b->h)
        return false;
    s->x0 = std::max<int64_t>(0, xo);
    s->x1 = std::min<int64_t>(a->w, xo + b->w);
    s->y0 = std::max<int64_t>(0, yo);
    s->y1 = std::min<int64_t>(a->h, yo + b->h);
    return true;
}

// Calls f(n, word) for n in [0, rows) with the 32 pixels of b that meet a's
// word in that row: (lo[n] >> r) | (hi[n] << (32 - r)); lo or hi may be
// null (outside b), hi is null when r is 0.  The branches are hoisted out
// of the row loops.
template <typename F>
inline void for_b_words(const BITMASK_W *lo, const BITMASK_W *hi, unsigned r,
                        size_t rows, F f)
{
    if (lo && hi) {
        for (size_t n = 0; n < rows; ++n)
            f(n, (lo[n] >> r) | (hi[n] << (32 - r)));
    } else if (lo) {
        for (size_t n = 0; n < rows; ++n)
            f(n, lo[n] >> r);
    } else if (hi) {
        for (size_t n = 0; n < rows; ++n)
            f(n, hi[n] << (32 - r));
    }
}

// Walks the word columns of a that b covers.  For each, calls
// col(acol, lo, hi, r, rows, lastmask) where acol points at a's first
// overlapping row; lo and hi as for for_b_words.  `col` returns false to
// stop early; pairwise then returns false too.
template <typename C>
bool pairwise(const bitmask_t *a, const bitmask_t *b, int64_t xo, int64_t yo,
              C col)
{
    Span s;
    if (!span_of(a, b, xo, yo, &s))
        return true;
    const int64_t qoff = floor_div32(-xo);
    const unsigned r = (unsigned)(-xo - 32 * qoff);
    const int64_t bcols = (int64_t)bitmask_cols(b->w);
    const int64_t alast = (int64_t)bitmask_cols(a->w) - 1;
    const size_t rows = (size_t)(s.y1 - s.y0);
    const size_t brow = (size_t)(s.y0 - yo);
    const BITMASK_W last = bitmask_lastmask(a->w);
    for (int64_t i = s.x0 / 32; i <= (s.x1 - 1) / 32; ++i) {
        const int64_t q = i + qoff;
        const BITMASK_W *lo =
            q >= 0 && q < bcols ? bitmask_col(b, (size_t)q) + brow : nullptr;
        const BITMASK_W *hi = r != 0 && q + 1 >= 0 && q + 1 < bcols
                                  ? bitmask_col(b, (size_t)(q + 1)) + brow
                                  : nullptr;
        BITMASK_W *acol = bitmask_col(a, (size_t)i) + s.y0;
        if (!col(acol, lo, hi, r, rows, i == alast ? last : ~(BITMASK_W)0))
            return false;
    }
    return true;
}

// Position search in the documented order, for xo >= 0.
int overlap_pos_right(const bitmask_t *a, const bitmask_t *b, int64_t xo,
                      int64_t yo, int64_t *px, int64_t *py)
{
    Span s;
    if (!span_of(a, b, xo, yo, &s))
        return 0;
    const size_t k = (size_t)(xo / 32);
    const unsigned sh = (unsigned)(xo % 32);
    const size_t acols = bitmask_cols(a->w);
    const size_t bcols = bitmask_cols(b->w);
    const size_t rows = (size_t)(s.y1 - s.y0);
    const size_t brow = (size_t)(s.y0 - yo);
    for (size_t j = 0; j < bcols && k + j < acols; ++j) {
        const BITMASK_W *bc = bitmask_col(b, j) + brow;
        const BITMASK_W *ac = bitmask_col(a, k + j) + s.y0;
        for (size_t n = 0; n < rows; ++n) {
            BITMASK_W v = ac[n] & (bc[n] << sh);
            if (v) {
                *px = 32 * (int64_t)(k + j) + __builtin_ctz(v);
                *py = s.y0 + (int64_t)n;
                return 1;
            }
        }
        if (sh == 0 || k + j + 1 >= acols)
            continue;
        const BITMASK_W *an = bitmask_col(a, k + j + 1) + s.y0;
        for (size_t n = 0; n < rows; ++n) {
            BITMASK_W v = an[n] & (bc[n] >> (32 - sh));
            if (v) {
                *px = 32 * (int64_t)(k + j + 1) + __builtin_ctz(v);
                *py = s.y0 + (int64_t)n;
                return 1;
            }
        }
    }
    return 0;
}

// Writers: op(word of a, aligned word of b, padding mask of the column)
// for every overlapping word of a.
template <typename Op>
void write_words(const bitmask_t *a, const bitmask_t *b, int64_t xo, int64_t yo, Op op)
{
    pairwise(a, b, xo, yo,
             [&](BITMASK_W *ac, const BITMASK_W *lo, const BITMASK_W *hi,
                 unsigned r, size_t rows, BITMASK_W keep) {
                 for_b_words(lo, hi, r, rows, [&](size_t n, BITMASK_W w) {
                     op(ac + n, w, keep);
                 });
                 return true;
             });
}

void draw_at(bitmask_t *a, const bitmask_t *b, int64_t xo, int64_t yo)
{
    write_words(a, b, xo, yo,
                [](BITMASK_W *d, BITMASK_W w, BITMASK_W keep) { *d |= w & keep; });
}

}  // namespace

bool bitmask_bytes(int w, int h, size_t *out)
{
    if (w < 0 || h < 0)
        return false;
    size_t words, bytes;
    if (__builtin_mul_overflow(bitmask_cols(w), (size_t)h, &words) ||
        __builtin_mul_overflow(words, sizeof(BITMASK_W), &bytes) ||
        __builtin_add_overflow(bytes, sizeof(bitmask_t), out))
        return false;
    // Buffer views report the byte length as a signed size.
    return *out <= (size_t)PTRDIFF_MAX;
}

bitmask_t *bitmask_create(int w, int h)
{
    size_t bytes;
    if (!bitmask_bytes(w, h, &bytes))
        return nullptr;
    bitmask_t *m = static_cast<bitmask_t *>(calloc(1, bytes));
    if (!m)
        return nullptr;
    m->w = w;
    m->h = h;
    return m;
}

void bitmask_free(bitmask_t *m)
{
    free(m);
}

void bitmask_clear(bitmask_t *m)
{
    memset(m->bits, 0, bitmask_words(m) * sizeof(BITMASK_W));
}

void bitmask_fill(bitmask_t *m)
{
    size_t n = bitmask_words(m);
    if (!n)
        return;
    size_t lastcol = n - (size_t)m->h;
    memset(m->bits, 0xFF, lastcol * sizeof(BITMASK_W));
    std::fill(m->bits + lastcol, m->bits + n, bitmask_lastmask(m->w));
}

void bitmask_invert(bitmask_t *m)
{
    size_t n = bitmask_words(m);
    if (!n)
        return;
    size_t lastcol = n - (size_t)m->h;
    for (size_t i = 0; i < lastcol; ++i)
        m->bits[i] = ~m->bits[i];
    const BITMASK_W keep = bitmask_lastmask(m->w);
    for (size_t i = lastcol; i < n; ++i)
        m->bits[i] = ~m->bits[i] & keep;
}

bitmask_t *bitmask_copy(const bitmask_t *m)
{
    size_t bytes;
    if (!bitmask_bytes(m->w, m->h, &bytes))
        return nullptr;
    bitmask_t *c = static_cast<bitmask_t *>(malloc(bytes));
    if (c)
        memcpy(c, m, bytes);
    return c;
}

uint64_t bitmask_count(const bitmask_t *m)
{
    const size_t n = bitmask_words(m);
    const BITMASK_W *p = m->bits;
    // Four independent sums let the compiler vectorise the counting; a
    // 32-bit lane cannot wrap within one block of 2^24 words.
    uint64_t total = 0;
    size_t i = 0;
    while (i < n) {
        size_t end = std::min(n, i + ((size_t)1 << 24));
        uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        for (; i + 4 <= end; i += 4) {
            s0 += bitcount(p[i]);
            s1 += bitcount(p[i + 1]);
            s2 += bitcount(p[i + 2]);
            s3 += bitcount(p[i + 3]);
        }
        for (; i < end; ++i)
            s0 += bitcount(p[i]);
        total += (uint64_t)s0 + s1 + s2 + s3;
    }
    return total;
}

int bitmask_overlap(const bitmask_t *a, const bitmask_t *b, int xoffset,
                    int yoffset)
{
    bool none = pairwise(
        a, b, xoffset, yoffset,
        [](BITMASK_W *ac, const BITMASK_W *lo, const BITMASK_W *hi,
           unsigned r, size_t rows, BITMASK_W) {
            BITMASK_W any = 0;
            for_b_words(lo, hi, r, rows,
                        [&](size_t n, BITMASK_W w) { any |= ac[n] & w; });
            return any == 0;
        });
    return none ? 0 : 1;
}

int bitmask_overlap_pos(const bitmask_t *a, const bitmask_t *b, int xoffset,
                        int yoffset, int *x, int *y)
{
    int64_t px, py;
    if (xoffset >= 0) {
        if (!overlap_pos_right(a, b, xoffset, yoffset, &px, &py))
            return 0;
    } else {
        if (!overlap_pos_right(b, a, -(int64_t)xoffset, -(int64_t)yoffset,
                               &px, &py))
            return 0;
        px += xoffset;
        py += yoffset;
    }
    *x = (int)px;
    *y = (int)py;
    return 1;
}

uint64_t bitmask_overlap_area(const bitmask_t *a, const bitmask_t *b,
                              int xoffset, int yoffset)
{
    uint64_t total = 0;
    pairwise(a, b, xoffset, yoffset,
             [&](BITMASK_W *ac, const BITMASK_W *lo, const BITMASK_W *hi,
                 unsigned r, size_t rows, BITMASK_W) {
                 uint64_t sum = 0;
                 for_b_words(lo, hi, r, rows, [&](size_t n, BITMASK_W w) {
                     sum += bitcount(ac[n] & w);
                 });
                 total += sum;
                 return true;
             });
    return total;
}

void bitmask_overlap_mask(const bitmask_t *a, const bitmask_t *b,
                          bitmask_t *c, int xoffset, int yoffset)
{
    if (c->w != a->w || c->h != a->h)
        return;
    // c has a's shape: the same word index in both.
    write_words(a, b, xoffset, yoffset, [a, c](BITMASK_W *d, BITMASK_W w, BITMASK_W) {
        c->bits[d - a->bits] = *d & w;
    });
}

void bitmask_draw(bitmask_t *a, const bitmask_t *b, int xoffset, int yoffset)
{
    draw_at(a, b, xoffset, yoffset);
}

void bitmask_erase(bitmask_t *a, const bitmask_t *b, int xoffset,
                   int yoffset)
{
    write_words(a, b, xoffset, yoffset,
                [](BITMASK_W *d, BITMASK_W w, BITMASK_W) { *d &= ~w; });
}

bitmask_t *bitmask_scale(const bitmask_t *m, int w, int h)
{
    bitmask_t *d = bitmask_create(w, h);
    if (!d || m->w <= 0 || m->h <= 0 || w == 0 || h == 0)
        return d;
    // Destination row r reads source row floor(r * m.h / h); the products
    // are 64-bit (r * m.h overflows int for tall masks).
    uint32_t *rowmap = static_cast<uint32_t *>(malloc((size_t)h * sizeof(uint32_t)));
    if (!rowmap) {
        bitmask_free(d);
        return nullptr;
    }
    for (int r = 0; r < h; ++r)
        rowmap[r] = (uint32_t)((int64_t)r * m->h / h);
    for (int x = 0; x < w; ++x) {
        const int sx = (int)((int64_t)x * m->w / w);
        const BITMASK_W *src = bitmask_col(m, (size_t)sx / 32);
        const unsigned sbit = (unsigned)sx & 31;
        BITMASK_W *dst = bitmask_col(d, (size_t)x / 32);
        const BITMASK_W dbit = (BITMASK_W)1 << (x & 31);
        for (int r = 0; r < h; ++r)
            if ((src[rowmap[r]] >> sbit) & 1u)
                dst[r] |= dbit;
    }
    free(rowmap);
    return d;
}

void bitmask_convolve(const bitmask_t *a, const bitmask_t *b, bitmask_t *o,
                      int xoffset, int yoffset)
{
    if (a->w <= 0 || a->h <= 0 || b->w <= 0 || b->h <= 0 || o->w <= 0 ||
        o->h <= 0)
        return;
    const int64_t bx = (int64_t)xoffset + b->w - 1;
    const int64_t by = (int64_t)yoffset + b->h - 1;
    for (int i = 0; i < b->h; ++i)
        for (int j = 0; j < b->w; ++j)
            if (bitmask_getbit(b, j, i))
                draw_at(o, a, bx - j, by - i);
}

uint64_t bitmask_u128::div(uint64_t d) const
{
    if (hi == 0)
        return lo / d;
    uint64_t rem = 0, q = 0;
    for (int i = 127; i >= 0; --i) {
        uint64_t bit = i >= 64 ? (hi >> (i - 64)) & 1u : (lo >> i) & 1u;
        bool carry = rem >> 63;
        rem = (rem << 1) | bit;
        if (carry || rem >= d) {
            rem -= d;
            if (i < 64)
                q |= (uint64_t)1 << i;
        }
    }
    return q;
}

void bitmask_get_moments(const bitmask_t *m, bitmask_moments *out,
                         bool second_order)
{
    *out = bitmask_moments();
    const size_t cols = m->h > 0 ? bitmask_cols(m->w) : 0;
    for (size_t c = 0; c < cols; ++c) {
        const BITMASK_W *col = bitmask_col(m, c);
        for (int y = 0; y < m->h; ++y) {
            for (BITMASK_W v = col[y]; v; v &= v - 1) {
                const uint64_t x = 32 * (uint64_t)c + __builtin_ctz(v);
                const uint64_t yy = (uint64_t)y;
                out->n++;
                out->sx.add(x);
                out->sy.add(yy);
                if (second_order) {
                    out->sxx.add(x * x);
                    out->syy.add(yy * yy);
                    out->sxy.add(x * yy);
                }
            }
        }
    }
}
