// Bitmask library of lumora.mask: 1-bit-per-pixel masks in 32-bit words.
//
// Plain C++ with no Python in it: the module layer may call every function
// here with the interpreter lock released.
//
// Layout: the words form ceil(w / 32) word columns of h words each, stored
// one column after another; pixel (x, y) is bit (x % 32) of word
// (x / 32) * h + y.  Bits of the last column beyond w are always 0 (counting
// and overlap rely on it).
//
// Two-mask functions take the position of b's (0, 0) in a's coordinates and
// touch only the overlapping rectangle; offsets anywhere in the int range
// are fine.  a and b (or o and an input of convolve) must be different
// records: the writers read b while writing a.  The module copies first.
#pragma once

#include <cstddef>
#include <cstdint>

#define LM_EXPORT extern "C" __attribute__((visibility("default")))

typedef uint32_t BITMASK_W;
#define BITMASK_W_LEN 32

struct bitmask_t {
    int w;
    int h;
    BITMASK_W bits[];
};

// Word columns of a w-pixel-wide mask, without int overflow.
static inline size_t bitmask_cols(int w)
{
    return w > 0 ? ((size_t)(unsigned)w + 31u) / 32u : 0;
}
// Total words, or 0 when w or h is 0 (the caller checked the product fits:
// bitmask_create refuses sizes whose byte count overflows).
static inline size_t bitmask_words(const bitmask_t *m)
{
    return m->h > 0 ? bitmask_cols(m->w) * (size_t)m->h : 0;
}
static inline BITMASK_W *bitmask_col(const bitmask_t *m, size_t col)
{
    return const_cast<BITMASK_W *>(m->bits) + col * (size_t)m->h;
}
static inline int bitmask_getbit(const bitmask_t *m, int x, int y)
{
    return (int)((*(bitmask_col(m, (size_t)x / 32) + y) >> (x & 31)) & 1u);
}
static inline void bitmask_setbit(bitmask_t *m, int x, int y)
{
    *(bitmask_col(m, (size_t)x / 32) + y) |= (BITMASK_W)1 << (x & 31);
}
static inline void bitmask_clearbit(bitmask_t *m, int x, int y)
{
    *(bitmask_col(m, (size_t)x / 32) + y) &= ~((BITMASK_W)1 << (x & 31));
}
// Pixels of the last word column that lie inside the width.
static inline BITMASK_W bitmask_lastmask(int w)
{
    return 0xFFFFFFFFu >> ((32 - w % 32) % 32);
}

// Population count by shifts and masks (no popcount instruction is assumed).
static inline unsigned bitcount(BITMASK_W n)
{
    n = n - ((n >> 1) & 0x55555555u);
    n = (n & 0x33333333u) + ((n >> 2) & 0x33333333u);
    n = (n + (n >> 4)) & 0x0F0F0F0Fu;
    return (n * 0x01010101u) >> 24;
}

// Byte size of a w x h record, false when it cannot be represented.
bool bitmask_bytes(int w, int h, size_t *out);

LM_EXPORT bitmask_t *bitmask_create(int w, int h);
LM_EXPORT void bitmask_free(bitmask_t *m);
LM_EXPORT void bitmask_clear(bitmask_t *m);
LM_EXPORT void bitmask_fill(bitmask_t *m);
LM_EXPORT void bitmask_invert(bitmask_t *m);
LM_EXPORT bitmask_t *bitmask_copy(const bitmask_t *m);
LM_EXPORT uint64_t bitmask_count(const bitmask_t *m);
LM_EXPORT int bitmask_overlap(const bitmask_t *a, const bitmask_t *b,
                              int xoffset, int yoffset);
LM_EXPORT int bitmask_overlap_pos(const bitmask_t *a, const bitmask_t *b,
                                  int xoffset, int yoffset, int *x, int *y);
LM_EXPORT uint64_t bitmask_overlap_area(const bitmask_t *a,
                                        const bitmask_t *b, int xoffset,
                                        int yoffset);
LM_EXPORT void bitmask_overlap_mask(const bitmask_t *a, const bitmask_t *b,
                                    bitmask_t *c, int xoffset, int yoffset);
LM_EXPORT void bitmask_draw(bitmask_t *a, const bitmask_t *b, int xoffset,
                            int yoffset);
LM_EXPORT void bitmask_erase(bitmask_t *a, const bitmask_t *b, int xoffset,
                             int yoffset);
LM_EXPORT bitmask_t *bitmask_scale(const bitmask_t *m, int w, int h);
LM_EXPORT void bitmask_convolve(const bitmask_t *a, const bitmask_t *b,
                                bitmask_t *o, int xoffset, int yoffset);

// Unsigned 128-bit accumulator: moment sums of a large mask (x*x summed
// over 2^30 pixels) exceed 64 bits, and their quotients by the count fit.
struct bitmask_u128 {
    uint64_t hi = 0, lo = 0;
    void add(uint64_t v)
    {
        lo += v;
        hi += lo < v;
    }
    // Quotient by d > 0, which must fit in 64 bits (it does for a mean).
    uint64_t div(uint64_t d) const;
};

// Moments of the set pixels: count and sums of x, y, x*x, y*y, x*y.
struct bitmask_moments {
    uint64_t n = 0;
    bitmask_u128 sx, sy, sxx, syy, sxy;
};
void bitmask_get_moments(const bitmask_t *m, bitmask_moments *out,
                         bool second_order);
