// The blend row kernel for x86 CPUs with AVX-512BW (the build gives this
// file -mavx512bw; pixels.cpp calls it only when the CPU reports it).
#if defined(__x86_64__) || defined(__i386__)
#include "pixels.h"

#define LM_BLEND_PX 8
#include "blendrows.h"

namespace lmpx {
LM_DEFINE_BLEND_ROWS(avx512)
}
#endif
