// Surface flags and blend modes.
#include "constants.h"

// The constructor flag that asks for per-pixel alpha.
#define SRCALPHA 0x00010000

LM_CONSTANT_GROUP(surface,
    {"SWSURFACE", 0},
    {"HWSURFACE", 0},
    {"SRCALPHA", SRCALPHA},
    {"RLEACCEL", SDL_RLEACCEL},
    {"PREALLOC", SDL_PREALLOC},
    {"SRCCOLORKEY", 0x00001000},
    {"BLENDMODE_NONE", SDL_BLENDMODE_NONE},
    {"BLENDMODE_BLEND", SDL_BLENDMODE_BLEND},
    {"BLENDMODE_ADD", SDL_BLENDMODE_ADD},
    {"BLENDMODE_MOD", SDL_BLENDMODE_MOD},
    {"BLENDMODE_MUL", SDL_BLENDMODE_MUL});
