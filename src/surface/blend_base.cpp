// The blend row kernel at the target's baseline: SSE2 on x86-64, NEON on
// AArch64, plain code where vectors are not part of the baseline.
#include "pixels.h"

#define LM_BLEND_PX 2
#include "blendrows.h"

namespace lmpx {
LM_DEFINE_BLEND_ROWS(base)
}
