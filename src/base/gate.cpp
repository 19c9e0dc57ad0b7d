// The display gate.
//
// Flip, update and the event module's waits use the window, its surface
// and the SCALED renderer with the interpreter lock released; set_mode,
// toggle_fullscreen and the quits free them with it held.  So another
// thread could free what a released section is using.  The gate makes the
// two exclude each other: released sections are readers, teardown is the
// writer.  Readers also take turns among themselves: SDL's video and event
// code is not safe to enter from two threads at once (two event pumps of
// an X11 display, two presentations through one renderer).  A writer waits for the readers with the
// interpreter lock released, and readers never wait for the interpreter
// lock while inside, so the two locks cannot deadlock.  A thread holding
// the writer side may also read and write again (teardown runs Python,
// which may flip).  Every writer section bumps the generation, so a reader
// can tell that the pointers it read before entering went stale.
#include "base_internal.h"

namespace lmbase {
namespace {

SDL_mutex *g_mutex = nullptr;
SDL_cond *g_cond = nullptr;
int g_readers = 0;
int g_writers_waiting = 0;
int g_write_depth = 0;
SDL_threadID g_writer = 0;
int g_generation = 1;

bool writing_here() { return g_write_depth > 0 && g_writer == SDL_ThreadID(); }

}  // namespace

int gate_init()
{
    if (!g_mutex)
        g_mutex = SDL_CreateMutex();
    if (!g_cond)
        g_cond = SDL_CreateCond();
    return g_mutex && g_cond ? 0 : -1;
}

int display_gate(int op)
{
    SDL_LockMutex(g_mutex);
    int result = 0;
    switch (op) {
    case LM_GATE_READ:
        // Writers waiting go first, so a stream of waits cannot starve a quit.
        if (!writing_here())
            while (g_write_depth > 0 || g_writers_waiting > 0 || g_readers > 0)
                SDL_CondWait(g_cond, g_mutex);
        ++g_readers;
        result = g_generation;
        break;
    case LM_GATE_UNREAD:
        --g_readers;
        SDL_CondBroadcast(g_cond);
        break;
    case LM_GATE_WRITE:
        if (writing_here()) {
            ++g_write_depth;
            break;
        }
        ++g_writers_waiting;
        while (g_write_depth > 0 || g_readers > 0)
            SDL_CondWait(g_cond, g_mutex);
        --g_writers_waiting;
        g_write_depth = 1;
        g_writer = SDL_ThreadID();
        break;
    case LM_GATE_UNWRITE:
        if (--g_write_depth == 0) {
            g_writer = 0;
            if (++g_generation <= 0)
                g_generation = 1;
            SDL_CondBroadcast(g_cond);
        }
        break;
    default:
        result = g_generation;
        break;
    }
    SDL_UnlockMutex(g_mutex);
    return result;
}

}  // namespace lmbase
