// The blend row kernel for 32-bit ARM CPUs with NEON (the build gives this
// file -mfpu=neon; pixels.cpp calls it only when the kernel reports NEON
// in AT_HWCAP, since armhf does not promise it).
#if defined(__arm__)
#include "pixels.h"

#define LM_BLEND_PX 2
#include "blendrows.h"

namespace lmpx {
LM_DEFINE_BLEND_ROWS(neon)
}
#endif
