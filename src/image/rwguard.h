// A buffered write-through stream that remembers failed writes.
//
// Some savers (SDL's BMP writer for its header fields, the JPEG writer for
// its buffer flushes) ignore what SDL_RWwrite returns, so a full disk or a
// failing file object would otherwise end in a truncated file reported as
// success.  Wrap the destination, save through the wrapper, call finish(),
// then ask failed().  Small writes (one per row, 4 KiB codec blocks) are
// gathered into larger ones on the way, which saves system calls and, for
// Python file objects, calls into Python.
// Header-only and Python-free; used by lumora.image and lumora.richload.
#pragma once

#include <SDL.h>

#include <cstdio>
#include <cstring>

namespace lmimg {

class WriteGuard {
  public:
    explicit WriteGuard(SDL_RWops *inner) : inner_(inner)
    {
        buf_ = static_cast<Uint8 *>(SDL_malloc(kBuf));
        rw_ = buf_ ? SDL_AllocRW() : nullptr;
        if (!rw_) {
            SDL_OutOfMemory();
            return;
        }
        rw_->hidden.unknown.data1 = this;
        rw_->size = [](SDL_RWops *c) -> Sint64 {
            WriteGuard *g = self(c);
            if (!g->flush())
                return -1;
            return SDL_RWsize(g->inner_);
        };
        rw_->seek = [](SDL_RWops *c, Sint64 off, int whence) -> Sint64 {
            WriteGuard *g = self(c);
            if (whence == RW_SEEK_CUR && off == 0) {
                Sint64 pos = SDL_RWtell(g->inner_);
                return pos < 0 ? pos : pos + (Sint64)g->used_;
            }
            if (!g->flush())
                return -1;
            return SDL_RWseek(g->inner_, off, whence);
        };
        rw_->read = [](SDL_RWops *c, void *p, size_t size, size_t n) -> size_t {
            WriteGuard *g = self(c);
            if (!g->flush())
                return 0;
            return SDL_RWread(g->inner_, p, size, n);
        };
        rw_->write = [](SDL_RWops *c, const void *p, size_t size, size_t n) -> size_t {
            WriteGuard *g = self(c);
            if (g->failed_ || size == 0)
                return 0;
            size_t total = size * n;
            if (n && total / n != size) {
                g->fail("write request too large");
                return 0;
            }
            if (g->used_ + total <= kBuf) {
                memcpy(g->buf_ + g->used_, p, total);
                g->used_ += total;
                return n;
            }
            if (!g->flush())
                return 0;
            if (total <= kBuf) {
                memcpy(g->buf_, p, total);
                g->used_ = total;
                return n;
            }
            if (SDL_RWwrite(g->inner_, p, 1, total) != total) {
                g->fail(nullptr);
                return 0;
            }
            return n;
        };
        // Closing the wrapper never closes the destination: its owner does.
        rw_->close = [](SDL_RWops *) { return 0; };
    }
    WriteGuard(const WriteGuard &) = delete;
    WriteGuard &operator=(const WriteGuard &) = delete;
    ~WriteGuard()
    {
        if (rw_)
            SDL_FreeRW(rw_);
        SDL_free(buf_);
    }

    // The stream to save through, or null when it could not be made (SDL's
    // error is set then).
    SDL_RWops *stream() const { return rw_; }

    // Writes out what is still buffered.  False on failure.
    bool finish() { return flush(); }

    // True when a write fell short; SDL's error then holds the first
    // failure's text again.
    bool failed() const
    {
        if (failed_)
            SDL_SetError("%s", msg_);
        return failed_;
    }

  private:
    static constexpr size_t kBuf = 256 * 1024;

    static WriteGuard *self(SDL_RWops *c)
    {
        return static_cast<WriteGuard *>(c->hidden.unknown.data1);
    }
    bool flush()
    {
        if (failed_)
            return false;
        if (!used_)
            return true;
        size_t n = used_;
        used_ = 0;
        if (SDL_RWwrite(inner_, buf_, 1, n) != n) {
            fail(nullptr);
            return false;
        }
        return true;
    }
    void fail(const char *why)
    {
        if (failed_)
            return;
        failed_ = true;
        const char *e = why ? why : SDL_GetError();
        snprintf(msg_, sizeof msg_, "%s", (e && *e) ? e : "Error writing the file");
        SDL_SetError("%s", msg_);
    }

    SDL_RWops *inner_;
    SDL_RWops *rw_ = nullptr;
    Uint8 *buf_ = nullptr;
    size_t used_ = 0;
    bool failed_ = false;
    char msg_[512] = {0};
};

}  // namespace lmimg
