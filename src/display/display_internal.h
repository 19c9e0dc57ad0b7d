// Shared state and helpers of the display module's translation units.
#pragma once

#include "frame.h"
#include "display_geom.h"

#include <SDL_syswm.h>

#define LM_EXPORT extern "C" __attribute__((visibility("default")))

// Flag bits of set_mode (values of the constants of the same names).
#define LMD_FULLSCREEN 0x80000000u
#define LMD_DOUBLEBUF 0x40000000u
#define LMD_OPENGL 0x2u
#define LMD_RESIZABLE 0x10u
#define LMD_NOFRAME 0x20u
#define LMD_SHOWN 0x40u
#define LMD_HIDDEN 0x80u
#define LMD_SCALED 0x200u

#define LMD_UNDEF(d) (int)(SDL_WINDOWPOS_UNDEFINED_MASK | (unsigned)(d))
#define LMD_CENTRE(d) (int)(SDL_WINDOWPOS_CENTERED_MASK | (unsigned)(d))

// The display's state.  There is one window per process, so this is one
// process-wide block; the window-event watcher gets a pointer to it.
struct DisplayModuleState {
    char *caption_text;       // malloc'ed copy of the title, or null
    PyObject *icon_surface;   // strong reference, or null
    Uint16 *gamma_table;      // 3 x 256 ramps, malloc'ed, or null
    SDL_GLContext gl_ctx;
    int restore_w, restore_h;
    Uint8 gl_mode;
    Uint8 gl_scaled;
    int gl_logical_w, gl_logical_h;
    int restore_x, restore_y;
    int autoresize_on;
};

extern DisplayModuleState g_state;
extern SDL_Renderer *g_scaled_renderer;
extern SDL_Texture *g_scaled_texture;

// Frees caption, icon, GL context and gamma ramps.
void release_display_state(DisplayModuleState *st);
// Destroys (and forgets) the SCALED texture and renderer.
void destroy_scaled(void);

// Python-level init(); nullptr with an exception on failure.
PyObject *display_init(PyObject *, PyObject *);

// Raise the SDL error type with a fixed text; returns nullptr.
static inline PyObject *lmd_raise(const char *msg)
{
    PyErr_SetString(lmExc_SDLError, msg);
    return nullptr;
}

#define LMD_WINDOW_OR_RAISE(win)                 \
    SDL_Window *win = lm_GetDefaultWindow();     \
    if (!win)                                    \
        return lmd_raise("No open window")

// Point `surfobj` at `surf` unless it already is (re-pointing at the same
// owned surface would free it).  0 on success, -1 with an exception.
int lmd_repoint(PyObject *surfobj, SDL_Surface *surf, int owner);

// Copy the window's current surface into the display surface object if SDL
// replaced it.  Call with the interpreter lock held.  0 or -1.
int lmd_sync_window_surface(SDL_Window *win);

// Present the display surface (flip).  nullptr with an exception.
PyObject *present_window(void);

// Install or remove the window-event watcher.
void lmd_add_watch(void);
void lmd_del_watch(void);

// OpenGL viewport through SDL's loader (no link against libGL).
void lmd_gl_viewport(int x, int y, int w, int h);

// Flag parsing for set_mode/list_modes/mode_ok: accepts the signed and the
// unsigned 32-bit reading of a flag word (FULLSCREEN is the sign bit).
int lmd_flags_conv(PyObject *o, void *out);

// Method tables of the other translation units, null-terminated.
extern PyMethodDef lmd_mode_methods[];
extern PyMethodDef lmd_wm_methods[];

// Exported C functions.
LM_EXPORT int _get_display(SDL_Window *win);
LM_EXPORT int _get_video_window_pos(int *x, int *y, int *center);
LM_EXPORT PyObject *lm_vidinfo_str(PyObject *self);

// Apply icon_surface to the window, loading the package's default icon when
// none was set.  Never fails: a missing icon leaves the window without one.
void lmd_apply_icon(SDL_Window *win);
