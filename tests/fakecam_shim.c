/* A fake Video4Linux2 capture device for the camera tests.
 *
 * Preloaded into a child interpreter, it takes over open/ioctl/mmap/munmap/
 * close for the one path named by FAKECAM_PATH and serves a capture device
 * from memory.  Everything else goes to the C library.
 *
 *   FAKECAM_FORMATS  comma-separated four-character codes it accepts
 *   FAKECAM_SIZE     "WxH" it grants instead of the requested size
 *   FAKECAM_FRAME    file whose bytes fill every buffer
 *   FAKECAM_BUFLEN   buffer length (default: the frame file's size)
 *   FAKECAM_BUFS     buffers granted (default 2)
 *   FAKECAM_FAIL     comma-separated steps that fail (see fail())
 *   FAKECAM_LOG      file that receives one line per device event
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#define MAXBUF 8

static int fake_fd = -1;
static int streaming;
static unsigned nbufs;
static struct { void *mem; size_t len; int queued; } bufs[MAXBUF];
static int ctrl_hflip, ctrl_vflip = 1, ctrl_brightness = 42;
static int eintr_done;

static const char *env(const char *name) { return getenv(name); }

static int fail(const char *step)
{
    const char *list = env("FAKECAM_FAIL");
    size_t n = strlen(step);
    for (const char *p = list; p && *p;) {
        const char *end = strchr(p, ',');
        size_t len = end ? (size_t)(end - p) : strlen(p);
        if (len == n && strncmp(p, step, n) == 0)
            return 1;
        p = end ? end + 1 : NULL;
    }
    return 0;
}

static void logf_(const char *fmt, ...)
{
    const char *path = env("FAKECAM_LOG");
    if (!path)
        return;
    FILE *f = fopen(path, "a");
    if (!f)
        return;
    va_list ap;
    va_start(ap, fmt);
    vfprintf(f, fmt, ap);
    va_end(ap);
    fputc('\n', f);
    fclose(f);
}

static int is_fake_path(const char *path)
{
    const char *p = env("FAKECAM_PATH");
    return p && path && strcmp(p, path) == 0;
}

static int (*real_open)(const char *, int, ...);
static int (*real_close)(int);
static int (*real_ioctl)(int, unsigned long, ...);
static void *(*real_mmap)(void *, size_t, int, int, int, off_t);
/* off64_t: on 32-bit targets off_t is 32 bits and mmap64 differs. */
static void *(*real_mmap64)(void *, size_t, int, int, int, off64_t);
static int (*real_munmap)(void *, size_t);

static void resolve(void)
{
    if (!real_open) {
        real_open = dlsym(RTLD_NEXT, "open");
        real_close = dlsym(RTLD_NEXT, "close");
        real_ioctl = dlsym(RTLD_NEXT, "ioctl");
        real_mmap = dlsym(RTLD_NEXT, "mmap");
        real_mmap64 = dlsym(RTLD_NEXT, "mmap64");
        real_munmap = dlsym(RTLD_NEXT, "munmap");
    }
}

static size_t frame_len(void)
{
    const char *l = env("FAKECAM_BUFLEN");
    if (l)
        return (size_t)strtoul(l, NULL, 10);
    FILE *f = env("FAKECAM_FRAME") ? fopen(env("FAKECAM_FRAME"), "rb") : NULL;
    if (!f)
        return 4096;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    fclose(f);
    return n > 0 ? (size_t)n : 4096;
}

static void fill(void *mem, size_t len)
{
    memset(mem, 0xEE, len);
    FILE *f = env("FAKECAM_FRAME") ? fopen(env("FAKECAM_FRAME"), "rb") : NULL;
    if (f) {
        size_t got = fread(mem, 1, len, f);
        (void)got;
        fclose(f);
    }
}

static int open_fake(const char *path, int flags)
{
    resolve();
    if (fail("open")) {
        errno = EACCES;
        return -1;
    }
    fake_fd = real_open("/dev/null", flags & O_ACCMODE);
    streaming = 0;
    nbufs = 0;
    logf_("open %s", path);
    return fake_fd;
}

/* open and open64: `extra` is what the 64-bit entry adds to the flags. */
static int open_either(const char *path, int flags, int extra, va_list ap)
{
    resolve();
    if (is_fake_path(path))
        return open_fake(path, flags);
    int mode = va_arg(ap, int);
    return real_open(path, flags | extra, mode);
}

int open(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    int fd = open_either(path, flags, 0, ap);
    va_end(ap);
    return fd;
}

int open64(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    int fd = open_either(path, flags, O_LARGEFILE, ap);
    va_end(ap);
    return fd;
}

int close(int fd)
{
    resolve();
    if (fd != -1 && fd == fake_fd) {
        fake_fd = -1;
        logf_("close");
        real_close(fd);
        if (fail("close")) {
            errno = EIO;
            return -1;
        }
        return 0;
    }
    return real_close(fd);
}

static int err(int e)
{
    errno = e;
    return -1;
}

static unsigned fourcc(const char *s)
{
    return (unsigned)s[0] | (unsigned)s[1] << 8 | (unsigned)s[2] << 16 | (unsigned)s[3] << 24;
}

static int accepts(unsigned pf)
{
    const char *list = env("FAKECAM_FORMATS");
    for (const char *p = list; p && strlen(p) >= 4; p += 5) {
        if (fourcc(p) == pf)
            return 1;
        if (p[4] != ',')
            break;
    }
    return 0;
}

/* The failures QUERYBUF and QBUF share: a failing step (the late one only
 * while streaming), then an index past the granted buffers. */
static int buffer_error(const struct v4l2_buffer *b, const char *step, const char *late)
{
    if (fail(step) || (streaming && fail(late)))
        return EIO;
    return b->index >= nbufs ? EINVAL : 0;
}

static int serve(unsigned long req, void *arg)
{
    switch (req) {
    case VIDIOC_QUERYCAP: {
        if (fail("eintr") && !eintr_done++)
            return err(EINTR);
        if (fail("querycap_einval"))
            return err(EINVAL);
        if (fail("querycap"))
            return err(EIO);
        struct v4l2_capability *c = arg;
        memset(c, 0, sizeof *c);
        strcpy((char *)c->driver, "fakecam");
        c->capabilities = 0;
        if (!fail("nocapture"))
            c->capabilities |= V4L2_CAP_VIDEO_CAPTURE;
        if (!fail("nostreaming"))
            c->capabilities |= V4L2_CAP_STREAMING;
        return 0;
    }
    case VIDIOC_S_FMT: {
        struct v4l2_format *f = arg;
        if (!accepts(f->fmt.pix.pixelformat)) {
            if (fail("substitute")) {  /* a driver that answers with its own format */
                f->fmt.pix.pixelformat = fourcc("MJPG");
                return 0;
            }
            return err(EINVAL);
        }
        const char *size = env("FAKECAM_SIZE");
        unsigned w, h;
        if (size && sscanf(size, "%ux%u", &w, &h) == 2) {
            f->fmt.pix.width = w;
            f->fmt.pix.height = h;
        }
        logf_("fmt %.4s %ux%u", (char *)&f->fmt.pix.pixelformat, f->fmt.pix.width,
              f->fmt.pix.height);
        return 0;
    }
    case VIDIOC_REQBUFS: {
        struct v4l2_requestbuffers *r = arg;
        if (fail("reqbufs_einval"))
            return err(EINVAL);
        if (fail("reqbufs"))
            return err(ENOMEM);
        const char *n = env("FAKECAM_BUFS");
        r->count = fail("fewbufs") ? 1 : n ? (unsigned)atoi(n) : 2;
        if (r->count > MAXBUF)
            r->count = MAXBUF;
        nbufs = r->count;
        return 0;
    }
    case VIDIOC_QUERYBUF: {
        struct v4l2_buffer *b = arg;
        int e = buffer_error(b, "querybuf", "querybuf_late");
        if (e)
            return err(e);
        b->length = (unsigned)frame_len();
        b->m.offset = b->index * 4096u;
        b->flags = 0;
        if (bufs[b->index].queued)
            b->flags |= V4L2_BUF_FLAG_QUEUED;
        if (bufs[b->index].queued && streaming && !fail("notready"))
            b->flags |= V4L2_BUF_FLAG_DONE;
        return 0;
    }
    case VIDIOC_QBUF: {
        struct v4l2_buffer *b = arg;
        int e = buffer_error(b, "qbuf", "qbuf_late");
        if (e)
            return err(e);
        bufs[b->index].queued = 1;
        return 0;
    }
    case VIDIOC_DQBUF: {
        struct v4l2_buffer *b = arg;
        if (fail("dqbuf") || !streaming)
            return err(EIO);
        for (unsigned i = 0; i < nbufs; ++i) {
            if (bufs[i].queued) {
                bufs[i].queued = 0;
                if (bufs[i].mem)
                    fill(bufs[i].mem, bufs[i].len);
                b->index = fail("badindex") ? 99 : i;
                b->bytesused = (unsigned)bufs[i].len;
                return 0;
            }
        }
        return err(EAGAIN);
    }
    case VIDIOC_STREAMON:
        if (fail("streamon"))
            return err(EIO);
        streaming = 1;
        logf_("streamon");
        return 0;
    case VIDIOC_STREAMOFF:
        if (fail("streamoff"))
            return err(EIO);
        streaming = 0;
        logf_("streamoff");
        return 0;
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL: {
        struct v4l2_control *c = arg;
        int *v = c->id == V4L2_CID_HFLIP ? &ctrl_hflip
               : c->id == V4L2_CID_VFLIP ? &ctrl_vflip
               : c->id == V4L2_CID_BRIGHTNESS ? &ctrl_brightness : NULL;
        if (!v || (req == VIDIOC_G_CTRL && fail("g_ctrl")))
            return err(EINVAL);
        if (req == VIDIOC_G_CTRL) {
            c->value = *v;
            return 0;
        }
        if (c->id == V4L2_CID_BRIGHTNESS && fail("s_brightness"))
            return err(ERANGE);
        *v = c->value;
        return 0;
    }
    default:
        return err(ENOTTY);
    }
}

int ioctl(int fd, unsigned long req, ...)
{
    resolve();
    va_list ap;
    va_start(ap, req);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (fd != -1 && fd == fake_fd)
        return serve(req, arg);
    return real_ioctl(fd, req, arg);
}

static void *map_fake(size_t len, off_t off)
{
    unsigned i = (unsigned)(off / 4096);
    if (fail("mmap") || i >= nbufs) {
        errno = ENOMEM;
        return MAP_FAILED;
    }
    void *p = real_mmap(NULL, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return p;
    fill(p, len);
    bufs[i].mem = p;
    bufs[i].len = len;
    logf_("mmap %u", i);
    return p;
}

void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off)
{
    resolve();
    if (fd != -1 && fd == fake_fd)
        return map_fake(len, off);
    return real_mmap(addr, len, prot, flags, fd, off);
}

void *mmap64(void *addr, size_t len, int prot, int flags, int fd, off64_t off)
{
    resolve();
    if (fd != -1 && fd == fake_fd)
        return map_fake(len, (off_t)off);
    return real_mmap64(addr, len, prot, flags, fd, off);
}

int munmap(void *addr, size_t len)
{
    resolve();
    for (unsigned i = 0; i < MAXBUF; ++i) {
        if (addr && bufs[i].mem == addr) {
            if (fail("munmap"))
                return err(EINVAL);
            bufs[i].mem = NULL;
            logf_("munmap %u", i);
            break;
        }
    }
    return real_munmap(addr, len);
}
