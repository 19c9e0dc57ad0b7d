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

void blend_rows_base(const Area &, const Area &, bool, bool, int, unsigned);
#if defined(__x86_64__) || defined(__i386__)
void blend_rows_avx2(const Area &, const Area &, bool, bool, int, unsigned);
void blend_rows_avx512(const Area &, const Area &, bool, bool, int, unsigned);
#endif
#if defined(__arm__)
void blend_rows_neon(const Area &, const Area &, bool, bool, int, unsigned);
#endif

struct BlendKernel {
    const char *name;
    BlendRowsFn fn;  // null: the scalar reference
};

// The kernels this CPU can run, the scalar reference first; returns the
// count.
int blend_kernels(const BlendKernel **out);
const BlendKernel &blend_kernel();
// False when this CPU has no kernel of that name.
bool set_blend_kernel(const char *name);

}  // namespace lmpx
