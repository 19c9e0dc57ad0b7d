// The blend row kernel for x86 CPUs with AVX2 (the build gives this file
// -mavx2; pixels.cpp calls it only when the CPU reports AVX2).
#if defined(__x86_64__) || defined(__i386__)
#include "pixels.h"

#define LM_BLEND_PX 4
#include "blendrows.h"

namespace lmpx {
LM_DEFINE_BLEND_ROWS(avx2)
}
#endif
