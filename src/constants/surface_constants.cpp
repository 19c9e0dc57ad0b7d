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

// Special flags of Surface.blit and Surface.fill.
LM_CONSTANT_GROUP(blend,
    {"BLEND_ADD", 1},
    {"BLEND_SUB", 2},
    {"BLEND_MULT", 3},
    {"BLEND_MIN", 4},
    {"BLEND_MAX", 5},
    {"BLEND_RGB_ADD", 1},
    {"BLEND_RGB_SUB", 2},
    {"BLEND_RGB_MULT", 3},
    {"BLEND_RGB_MIN", 4},
    {"BLEND_RGB_MAX", 5},
    {"BLEND_RGBA_ADD", 6},
    {"BLEND_RGBA_SUB", 7},
    {"BLEND_RGBA_MULT", 8},
    {"BLEND_RGBA_MIN", 9},
    {"BLEND_RGBA_MAX", 10},
    {"BLEND_PREMULTIPLIED", 0x11},
    {"BLEND_ALPHA_SDL2", 0x12});
