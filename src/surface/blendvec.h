// Run-time choice among the builds of the 32-bit alpha-blend row kernel.
//
// The scalar kernel in pixels.cpp is the reference; the vector builds
// (blendrows.h compiled per instruction set) must give the same bytes.
// The best one this CPU runs is chosen when the module loads; tests switch
// between them through lumora.surface._set_blit_kernel().
#pragma once

#include "pixels.h"

namespace lmpx {

// Blends s onto d (same size; 32-bit pixels, the same byte layout, colour
// channels in whole bytes, the spare byte `ab` 0 or 3).  `pixel`: the
// alpha is the source's spare byte times mod / 255, else mod itself;
// `dalpha`: the spare byte is the destination's alpha.
typedef void (*BlendRowsFn)(const Area &s, const Area &d, bool pixel,
                            bool dalpha, int ab, unsigned mod);

// One channel of a 16- or 24-bit target: its mask, shift and loss there,
// and its shift in the 32-bit buffer (the source's layout).
struct LowChan {
    Uint32 mask;
    int shift, loss, wide;
};

// How a 32-bit source with whole-byte channels goes onto a 16- or 24-bit
// target: each chunk of a row is widened into a 32-bit buffer in the
// source's layout (the target's alpha, if any, in the spare byte), blended
// there and packed back.  Widening by bit replication and packing by
// truncation are the generic loop's decode and encode, so the pixels are
// the same.
struct LowPlan {
    LowChan ch[4];
    int nch = 0;
    int npack = 0;     // channels packed by an opaque copy
    Uint32 fixed = 0;  // or-ed into every pixel of an opaque copy
    int ab = 3;        // the source's spare byte
    bool dalpha = false;
    int mode = 0;      // 0 copy, 1 per-pixel alpha, 2 surface alpha
    unsigned mod = 255;
};

typedef void (*LowRowsFn)(const Area &s, const Area &d, int dbpp, const LowPlan &p);

#define LM_BLEND_BUILD(isa)                                                      \
    void blend_rows_##isa(const Area &, const Area &, bool, bool, int, unsigned); \
    void low_rows_##isa(const Area &, const Area &, int, const LowPlan &);
LM_BLEND_BUILD(base)
#if defined(__x86_64__) || defined(__i386__)
LM_BLEND_BUILD(avx2)
LM_BLEND_BUILD(avx512)
#endif
#if defined(__arm__)
LM_BLEND_BUILD(neon)
#endif
#undef LM_BLEND_BUILD

struct BlendKernel {
    const char *name;
    BlendRowsFn fn;  // null: the scalar reference
    LowRowsFn low;   // null: the generic loop
};

// The kernels this CPU can run, the scalar reference first; returns the
// count.
int blend_kernels(const BlendKernel **out);
const BlendKernel &blend_kernel();
// False when this CPU has no kernel of that name.
bool set_blend_kernel(const char *name);

}  // namespace lmpx
