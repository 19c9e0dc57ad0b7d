// Shape analysis of bitmasks: 8-connected component labelling, component
// extraction, bounding boxes and boundary tracing.  Plain C++, no Python:
// callable with the interpreter lock released.
#pragma once

#include "bitmask.h"

// One raster pass of 8-connected labelling.  `image` holds w * h labels
// (row-major, 0 = unset pixel); `ufind` and `largest` hold one entry per
// label plus entry 0 (see cc_tables).  Returns the number of labels.
LM_EXPORT unsigned cc_label(const bitmask_t *m, uint32_t *image,
                            uint32_t *ufind, uint32_t *largest);

namespace lmmask {

// Working storage of the labelling, malloc'ed and freed on scope exit.
// ok() is false when the sizes overflow or an allocation failed.
class CcWork {
  public:
    explicit CcWork(const bitmask_t *m);
    CcWork(const CcWork &) = delete;
    CcWork &operator=(const CcWork &) = delete;
    ~CcWork();
    bool ok() const { return image && ufind && sizes; }

    uint32_t *image = nullptr;
    uint32_t *ufind = nullptr;
    uint32_t *sizes = nullptr;
    unsigned n = 0;  // labels after label()

    // Labels the mask, points every label at its root and sums the sizes
    // of each component onto its root.
    void label(const bitmask_t *m);
};

// The component containing (px, py) when has_pos, else the largest (ties:
// the first in raster order), set into `out` (same size, clear).  False
// when working storage cannot be allocated.
bool cc_pick(const bitmask_t *m, bitmask_t *out, bool has_pos, int px, int py);

// Every component of at least `minimum` pixels as its own record, in the
// raster order of their first pixels.  Returns the count and a malloc'ed
// array in *out (free each record and the array), or -1 when memory ran
// out (nothing to free).
long cc_split(const bitmask_t *m, uint32_t minimum, bitmask_t ***out);

struct Box {
    int x, y, w, h;
};
// Bounding boxes of the components in raster order of their first pixels:
// the count and a malloc'ed array in *out, or -1 when memory ran out.
long cc_boxes(const bitmask_t *m, Box **out);

// Traces the boundary of the first object (the first set pixel in raster
// order) clockwise, reporting every `every`-th point to emit(); emit
// returns false to abort.  `m` is the mask padded by one clear pixel on
// every side; points are reported in unpadded coordinates.
bool trace_outline(const bitmask_t *m, long every,
                   bool (*emit)(void *ctx, int x, int y), void *ctx);

}  // namespace lmmask
