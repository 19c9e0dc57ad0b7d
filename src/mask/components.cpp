// Connected components, bounding boxes and outlines of bitmasks.

#include "components.h"

#include <algorithm>
#include <cstdlib>

namespace {

// Root of `e`, then e and f joined under the smaller root; every entry on
// the two chains above that root is pointed straight at it.
uint32_t unite(uint32_t *t, uint32_t e, uint32_t f)
{
    uint32_t re = e;
    while (t[re] < re)
        re = t[re];
    if (e == f)
        return re;
    uint32_t rf = f;
    while (t[rf] < rf)
        rf = t[rf];
    const uint32_t l = std::min(re, rf);
    for (uint32_t x : {f, e}) {
        for (;;) {
            const uint32_t next = t[x];
            if (next > l)
                t[x] = l;
            if (next == x)
                break;
            x = next;
        }
    }
    return l;
}

// Sizes of the label image and the tables, or false when not representable.
bool cc_sizes(const bitmask_t *m, size_t *pixels, size_t *entries)
{
    const size_t hw = ((size_t)m->w + 1) / 2, hh = ((size_t)m->h + 1) / 2;
    size_t bytes;
    return !__builtin_mul_overflow((size_t)m->w, (size_t)m->h, pixels) &&
           !__builtin_mul_overflow(*pixels, sizeof(uint32_t), &bytes) &&
           !__builtin_mul_overflow(hw, hh, entries) &&
           !__builtin_add_overflow(*entries, (size_t)1, entries) &&
           !__builtin_mul_overflow(*entries, sizeof(uint32_t), &bytes) &&
           *entries <= UINT32_MAX;
}

uint32_t *alloc_words(size_t n)
{
    return static_cast<uint32_t *>(malloc(std::max<size_t>(n, 1) * sizeof(uint32_t)));
}

}  // namespace

unsigned cc_label(const bitmask_t *m, uint32_t *image, uint32_t *ufind,
                  uint32_t *largest)
{
    const int w = m->w, h = m->h;
    uint32_t next = 1;
    auto fresh = [&]() {
        ufind[next] = next;
        largest[next] = 0;
        return next++;
    };
    for (int y = 0; y < h; ++y) {
        uint32_t *row = image + (size_t)y * (size_t)w;
        const uint32_t *up = row - (y > 0 ? (size_t)w : 0);
        BITMASK_W word = 0;
        for (int x = 0; x < w; ++x) {
            if ((x & 31) == 0) {
                word = *(bitmask_col(m, (size_t)x / 32) + y);
                if (!word) {  // 32 clear pixels at once
                    const int n = std::min(32, w - x);
                    std::fill(row + x, row + x + n, 0u);
                    x += n - 1;
                    continue;
                }
            }
            if (!((word >> (x & 31)) & 1u)) {
                row[x] = 0;
                continue;
            }
            uint32_t lab;
            if (y == 0) {
                lab = x > 0 && row[x - 1] ? row[x - 1] : fresh();
            } else if (x == 0) {
                lab = up[0] ? up[0] : (w > 1 && up[1]) ? up[1] : fresh();
            } else if (x == w - 1) {
                lab = up[x] ? up[x] : up[x - 1] ? up[x - 1]
                                    : row[x - 1] ? row[x - 1] : fresh();
            } else if (up[x]) {
                lab = up[x];
            } else {
                const uint32_t e = up[x + 1], f = up[x - 1], left = row[x - 1];
                if (e && f)
                    lab = unite(ufind, e, f);
                else if (e && left)
                    lab = unite(ufind, e, left);
                else if (e)
                    lab = e;
                else if (f)
                    lab = f;
                else if (left)
                    lab = left;
                else
                    lab = fresh();
            }
            row[x] = lab;
            largest[lab]++;
        }
    }
    return next - 1;
}

namespace lmmask {

CcWork::CcWork(const bitmask_t *m)
{
    size_t pixels, entries;
    if (!cc_sizes(m, &pixels, &entries))
        return;
    image = alloc_words(pixels);
    ufind = alloc_words(entries);
    sizes = alloc_words(entries);
}

CcWork::~CcWork()
{
    free(image);
    free(ufind);
    free(sizes);
}

void CcWork::label(const bitmask_t *m)
{
    n = cc_label(m, image, ufind, sizes);
    // Parents are smaller labels, so one increasing walk finalises them.
    for (uint32_t i = 1; i <= n; ++i) {
        if (ufind[i] < i) {
            ufind[i] = ufind[ufind[i]];
            sizes[ufind[i]] += sizes[i];
        }
    }
}

bool cc_pick(const bitmask_t *m, bitmask_t *out, bool has_pos, int px, int py)
{
    CcWork work(m);
    if (!work.ok())
        return false;
    work.label(m);
    uint32_t root = 1;
    if (has_pos) {
        root = work.ufind[work.image[(size_t)py * (size_t)m->w + (size_t)px]];
    } else {
        uint32_t best = 0;
        for (uint32_t i = 1; i <= work.n; ++i)
            if (work.ufind[i] == i && work.sizes[i] > best) {
                best = work.sizes[i];
                root = i;
            }
    }
    if (!work.n)
        return true;
    for (int y = 0; y < m->h; ++y) {
        const uint32_t *row = work.image + (size_t)y * (size_t)m->w;
        for (int x = 0; x < m->w; ++x)
            if (row[x] && work.ufind[row[x]] == root)
                bitmask_setbit(out, x, y);
    }
    return true;
}

long cc_split(const bitmask_t *m, uint32_t minimum, bitmask_t ***out)
{
    *out = nullptr;
    CcWork work(m);
    if (!work.ok())
        return -1;
    work.label(m);
    // sizes[] becomes the output number of each label (0: dropped).
    uint32_t count = 0;
    for (uint32_t i = 1; i <= work.n; ++i) {
        if (work.ufind[i] == i)
            work.sizes[i] = work.sizes[i] >= minimum ? ++count : 0;
        else
            work.sizes[i] = work.sizes[work.ufind[i]];
    }
    bitmask_t **recs = static_cast<bitmask_t **>(
        calloc(std::max<size_t>(count, 1), sizeof(bitmask_t *)));
    if (!recs)
        return -1;
    for (uint32_t k = 0; k < count; ++k) {
        recs[k] = bitmask_create(m->w, m->h);
        if (!recs[k]) {
            for (uint32_t j = 0; j < k; ++j)
                bitmask_free(recs[j]);
            free(recs);
            return -1;
        }
    }
    for (int y = 0; y < m->h; ++y) {
        const uint32_t *row = work.image + (size_t)y * (size_t)m->w;
        for (int x = 0; x < m->w; ++x)
            if (row[x] && work.sizes[row[x]])
                bitmask_setbit(recs[work.sizes[row[x]] - 1], x, y);
    }
    *out = recs;
    return (long)count;
}

long cc_boxes(const bitmask_t *m, Box **out)
{
    *out = nullptr;
    CcWork work(m);
    if (!work.ok())
        return -1;
    work.label(m);
    uint32_t count = 0;
    for (uint32_t i = 1; i <= work.n; ++i)
        work.sizes[i] = work.ufind[i] == i ? ++count : work.sizes[work.ufind[i]];
    // Per component: x0, y0, x1, y1 (inclusive), first seen in raster order.
    Box *boxes = static_cast<Box *>(calloc(std::max<size_t>(count, 1), sizeof(Box)));
    if (!boxes)
        return -1;
    for (int y = 0; y < m->h; ++y) {
        const uint32_t *row = work.image + (size_t)y * (size_t)m->w;
        for (int x = 0; x < m->w; ++x) {
            if (!row[x])
                continue;
            Box &b = boxes[work.sizes[row[x]] - 1];
            if (b.h == 0) {
                b = {x, y, x, y + 1};
            } else {
                b.x = std::min(b.x, x);
                b.w = std::max(b.w, x);
                b.h = y + 1;
            }
        }
    }
    for (uint32_t k = 0; k < count; ++k) {
        boxes[k].w = boxes[k].w - boxes[k].x + 1;
        boxes[k].h -= boxes[k].y;
    }
    *out = boxes;
    return (long)count;
}

bool trace_outline(const bitmask_t *m, long every,
                   bool (*emit)(void *, int, int), void *ctx)
{
    // East, south-east, south, ... north-east, repeated so that a start
    // index up to 7 runs on without wrapping (y grows downward).
    static const int dx[14] = {1, 1, 0, -1, -1, -1, 0, 1, 1, 1, 0, -1, -1, -1};
    static const int dy[14] = {0, 1, 1, 1, 0, -1, -1, -1, 0, 1, 1, 1, 0, -1};
    int fx = -1, fy = -1;
    for (int y = 0; y < m->h && fx < 0; ++y)
        for (int x = 0; x < m->w; ++x)
            if (bitmask_getbit(m, x, y)) {
                fx = x;
                fy = y;
                break;
            }
    if (fx < 0)
        return true;
    if (!emit(ctx, fx - 1, fy - 1))
        return false;
    int d = 0;
    while (d < 8 && !bitmask_getbit(m, fx + dx[d], fy + dy[d]))
        ++d;
    if (d == 8)
        return true;
    const int sx = fx + dx[d], sy = fy + dy[d];
    if (every == 1 && !emit(ctx, sx - 1, sy - 1))
        return false;
    int64_t counter = every == 1 ? 1 : (int64_t)every - 1;
    int cx = sx, cy = sy;
    // Each (point, direction) state occurs at most once per lap; the bound
    // only guards against a trace that never returns.
    uint64_t steps = 8 * bitmask_count(m) + 8;
    while (steps--) {
        // The point we came from is the last of the seven tried.
        int e = (d + 6) % 8;
        const int stop = e + 6;
        while (e < stop && !bitmask_getbit(m, cx + dx[e], cy + dy[e]))
            ++e;
        const int nx = cx + dx[e], ny = cy + dy[e];
        d = e % 8;
        const bool closing = cx == fx && cy == fy && nx == sx && ny == sy;
        if (counter == 1) {
            if (closing)
                break;
            counter = every;
            if (!emit(ctx, nx - 1, ny - 1))
                return false;
        } else {
            --counter;
        }
        if (closing)
            break;
        cx = nx;
        cy = ny;
    }
    return true;
}

}  // namespace lmmask
