// lumora._camera: frame capture from Video4Linux2 devices through
// memory-mapped streaming buffers, and colour-space conversion of surfaces.
#include "frame.h"
#include "camconv.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#define LM_EXPORT extern "C" __attribute__((visibility("default")))

struct lmCamBuffer {
    void *start;
    size_t length;
};

struct lmCameraObject {
    PyObject_HEAD
    char *device_name;
    int camera_type;
    unsigned long pixelformat;
    unsigned int color_out;
    lmCamBuffer *buffers;
    unsigned int n_buffers;
    int width, height;
    int size;
    int hflip, vflip, brightness;
    int fd;
};

LM_EXPORT PyTypeObject lmCamera_Type;
LM_EXPORT PyMethodDef cameraobj_builtins[];
LM_EXPORT PyMethodDef camera_builtins[];
PyTypeObject lmCamera_Type = lm_blank_type();

namespace {

// errno and its text for the messages below.
#define ERRNO_ARGS errno, strerror(errno)

// Each format the conversions understand, in order of preference.
const Uint32 k_yuv_order[] = {LM_PIX_YUYV, LM_PIX_YU12, LM_PIX_UYVY,
                              LM_PIX_RGB3, LM_PIX_R444, LM_PIX_BA81};
const Uint32 k_rgb_order[] = {LM_PIX_RGB3, LM_PIX_R444, LM_PIX_YUYV,
                              LM_PIX_BA81, LM_PIX_YU12, LM_PIX_UYVY};

// A memory-mapped capture buffer record for `index`.
void mmap_buffer(struct v4l2_buffer *buf, unsigned int index)
{
    memset(buf, 0, sizeof *buf);
    buf->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buf->memory = V4L2_MEMORY_MMAP;
    buf->index = index;
}

void unmap_buffers_quietly(lmCameraObject *c)
{
    for (unsigned int i = 0; i < c->n_buffers; ++i)
        if (c->buffers[i].start != MAP_FAILED)
            munmap(c->buffers[i].start, c->buffers[i].length);
    free(c->buffers);
    c->buffers = nullptr;
    c->n_buffers = 0;
}

// Undoes whatever start() did, reporting nothing: for failed starts and for
// cameras that die while streaming.
void camera_release_quietly(lmCameraObject *c)
{
    if (c->fd != -1) {
        enum v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (c->buffers)
            ioctl(c->fd, VIDIOC_STREAMOFF, &type);
    }
    unmap_buffers_quietly(c);
    if (c->fd != -1) {
        close(c->fd);
        c->fd = -1;
    }
}

}  // namespace

LM_EXPORT int v4l2_xioctl(int fd, unsigned long request, void *arg)
{
    int r;
    do
        r = ioctl(fd, request, arg);
    while (r == -1 && errno == EINTR);
    return r;
}

LM_EXPORT int v4l2_open_device(lmCameraObject *self)
{
    struct stat st;
    const char *path = self->device_name;
    if (stat(path, &st) == -1) {
        PyErr_Format(PyExc_SystemError, "Cannot identify '%s': %d, %s", path, ERRNO_ARGS);
        return 0;
    }
    if (!S_ISCHR(st.st_mode)) {
        PyErr_Format(PyExc_SystemError, "%s is no device", path);
        return 0;
    }
    self->fd = open(path, O_RDWR);
    if (self->fd == -1) {
        PyErr_Format(PyExc_SystemError, "Cannot open '%s': %d, %s", path, ERRNO_ARGS);
        return 0;
    }
    return 1;
}

LM_EXPORT int v4l2_init_mmap(lmCameraObject *self)
{
    struct v4l2_requestbuffers req;
    memset(&req, 0, sizeof req);
    req.count = 2;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (v4l2_xioctl(self->fd, VIDIOC_REQBUFS, &req) == -1) {
        if (errno == EINVAL)
            PyErr_Format(PyExc_MemoryError, "%s does not support memory mapping",
                         self->device_name);
        else
            PyErr_Format(PyExc_MemoryError, "ioctl(VIDIOC_REQBUFS) failure : %d, %s",
                         ERRNO_ARGS);
        return 0;
    }
    if (req.count < 2) {
        PyErr_Format(PyExc_MemoryError, "Insufficient buffer memory on %s\n",
                     self->device_name);
        return 0;
    }
    self->buffers = static_cast<lmCamBuffer *>(calloc(req.count, sizeof(lmCamBuffer)));
    if (!self->buffers) {
        PyErr_SetString(PyExc_MemoryError, "Out of memory");
        return 0;
    }
    for (unsigned int i = 0; i < req.count; ++i)
        self->buffers[i].start = MAP_FAILED;
    self->n_buffers = req.count;
    for (unsigned int i = 0; i < req.count; ++i) {
        struct v4l2_buffer buf;
        mmap_buffer(&buf, i);
        if (v4l2_xioctl(self->fd, VIDIOC_QUERYBUF, &buf) == -1) {
            PyErr_Format(PyExc_MemoryError, "ioctl(VIDIOC_QUERYBUF) failure : %d, %s",
                         ERRNO_ARGS);
            return 0;
        }
        void *p = mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED,
                       self->fd, buf.m.offset);
        if (p == MAP_FAILED) {
            PyErr_Format(PyExc_MemoryError, "mmap failure : %d, %s", ERRNO_ARGS);
            return 0;
        }
        self->buffers[i].start = p;
        self->buffers[i].length = buf.length;
    }
    return 1;
}

LM_EXPORT int v4l2_init_device(lmCameraObject *self)
{
    struct v4l2_capability cap;
    memset(&cap, 0, sizeof cap);
    if (v4l2_xioctl(self->fd, VIDIOC_QUERYCAP, &cap) == -1) {
        if (errno == EINVAL)
            PyErr_Format(PyExc_SystemError, "%s is not a V4L2 device", self->device_name);
        else
            PyErr_Format(PyExc_SystemError, "ioctl(VIDIOC_QUERYCAP) failure : %d, %s",
                         ERRNO_ARGS);
        return 0;
    }
    if (!(cap.capabilities & V4L2_CAP_VIDEO_CAPTURE)) {
        PyErr_Format(PyExc_SystemError, "%s is not a video capture device", self->device_name);
        return 0;
    }
    if (!(cap.capabilities & V4L2_CAP_STREAMING)) {
        PyErr_Format(PyExc_SystemError, "%s does not support streaming i/o", self->device_name);
        return 0;
    }

    const Uint32 *order = self->color_out == LM_CAM_YUV ? k_yuv_order : k_rgb_order;
    bool agreed = false;
    struct v4l2_format fmt;
    for (size_t k = 0; k < sizeof k_yuv_order / sizeof k_yuv_order[0] && !agreed; ++k) {
        memset(&fmt, 0, sizeof fmt);
        fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        fmt.fmt.pix.width = (Uint32)self->width;
        fmt.fmt.pix.height = (Uint32)self->height;
        fmt.fmt.pix.pixelformat = order[k];
        if (v4l2_xioctl(self->fd, VIDIOC_S_FMT, &fmt) == -1 ||
            fmt.fmt.pix.pixelformat != order[k])
            continue;
        // Sizes that do not fit the surface calls count as a refusal.
        int64_t n = (int64_t)fmt.fmt.pix.width * fmt.fmt.pix.height;
        agreed = fmt.fmt.pix.width <= 0x7FFF && fmt.fmt.pix.height <= 0x7FFF && n <= INT_MAX;
    }
    if (!agreed) {
        PyErr_SetString(PyExc_SystemError, "ioctl(VIDIOC_S_FMT) failure: no supported formats");
        return 0;
    }
    self->pixelformat = fmt.fmt.pix.pixelformat;
    self->width = (int)fmt.fmt.pix.width;
    self->height = (int)fmt.fmt.pix.height;
    self->size = self->width * self->height;
    return v4l2_init_mmap(self);
}

LM_EXPORT int v4l2_start_capturing(lmCameraObject *self)
{
    for (unsigned int i = 0; i < self->n_buffers; ++i) {
        struct v4l2_buffer buf;
        mmap_buffer(&buf, i);
        if (v4l2_xioctl(self->fd, VIDIOC_QBUF, &buf) == -1) {
            PyErr_Format(PyExc_OSError, "ioctl(VIDIOC_QBUF) failure : %d, %s", ERRNO_ARGS);
            return 0;
        }
    }
    enum v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (v4l2_xioctl(self->fd, VIDIOC_STREAMON, &type) == -1) {
        PyErr_Format(PyExc_OSError, "ioctl(VIDIOC_STREAMON) failure : %d, %s", ERRNO_ARGS);
        return 0;
    }
    return 1;
}

LM_EXPORT PyObject *camera_start(lmCameraObject *self, PyObject *)
{
    if (self->fd != -1)
        Py_RETURN_NONE;  // already capturing
    if (!v4l2_open_device(self))
        return nullptr;
    self->camera_type = 2;
    if (!v4l2_init_device(self) || !v4l2_start_capturing(self)) {
        lm::ErrorStash keep;
        camera_release_quietly(self);
        return nullptr;
    }
    Py_RETURN_NONE;
}

LM_EXPORT PyObject *camera_stop(lmCameraObject *self, PyObject *)
{
    if (self->fd == -1)
        Py_RETURN_NONE;  // nothing is open
    enum v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (v4l2_xioctl(self->fd, VIDIOC_STREAMOFF, &type) == -1) {
        PyErr_Format(PyExc_SystemError, "ioctl(VIDIOC_STREAMOFF) failure : %d, %s", ERRNO_ARGS);
        return nullptr;
    }
    for (unsigned int i = 0; i < self->n_buffers; ++i) {
        if (self->buffers[i].start == MAP_FAILED)
            continue;
        if (munmap(self->buffers[i].start, self->buffers[i].length) == -1) {
            PyErr_Format(PyExc_MemoryError, "munmap failure: %d, %s", ERRNO_ARGS);
            return nullptr;
        }
        self->buffers[i].start = MAP_FAILED;
    }
    free(self->buffers);
    self->buffers = nullptr;
    self->n_buffers = 0;
    int fd = self->fd;
    self->fd = -1;  // a failed close() still releases the descriptor
    if (close(fd) == -1) {
        PyErr_Format(PyExc_SystemError, "Cannot close '%s': %d, %s", self->device_name,
                     ERRNO_ARGS);
        return nullptr;
    }
    Py_RETURN_NONE;
}

// Converts one captured buffer into `surf`.  Runs without the interpreter
// lock.  Returns 1, or 0 when the surface cannot be locked or the buffer is
// shorter than a frame.
LM_EXPORT int v4l2_process_image(lmCameraObject *self, const void *data, size_t length,
                                 SDL_Surface *surf)
{
    if (SDL_LockSurface(surf) < 0)
        return 0;
    const Uint32 pf = (Uint32)self->pixelformat;
    const int64_t need = lm_cam_frame_bytes(pf, self->width, self->height);
    if (need < 0 || (uint64_t)need > (uint64_t)length || surf->w != self->width ||
        surf->h != self->height) {
        SDL_UnlockSurface(surf);
        return 0;
    }
    lmCamDest dst = {static_cast<Uint8 *>(surf->pixels), surf->pitch, surf->w, surf->h,
                     surf->format};
    lmCamSurfaceSrc self_src = {dst.pixels, dst.pitch, surf->format};
    const unsigned out = self->color_out;
    bool then_hsv = false, then_yuv = false;
    if (pf == LM_PIX_RGB3 || pf == LM_PIX_R444) {
        if (out == LM_CAM_YUV)
            rgb_to_yuv(data, &dst, pf);
        else if (out == LM_CAM_HSV)
            rgb_to_hsv(data, &dst, pf);
        else if (pf == LM_PIX_RGB3)
            rgb24_to_rgb(data, &dst);
        else
            rgb444_to_rgb(data, &dst);
    }
    else if (pf == LM_PIX_BA81) {
        sbggr8_to_rgb(data, &dst);
        then_yuv = out == LM_CAM_YUV;
        then_hsv = out == LM_CAM_HSV;
    }
    else if (pf == LM_PIX_YU12 || pf == LM_PIX_YUYV || pf == LM_PIX_UYVY) {
        void (*to_rgb)(const void *, const lmCamDest *) =
            pf == LM_PIX_YU12 ? yuv420_to_rgb : pf == LM_PIX_YUYV ? yuyv_to_rgb : uyvy_to_rgb;
        void (*to_yuv)(const void *, const lmCamDest *) =
            pf == LM_PIX_YU12 ? yuv420_to_yuv : pf == LM_PIX_YUYV ? yuyv_to_yuv : uyvy_to_yuv;
        if (out == LM_CAM_YUV)
            to_yuv(data, &dst);
        else
            to_rgb(data, &dst);
        then_hsv = out == LM_CAM_HSV;
    }
    if (then_yuv)
        rgb_to_yuv(&self_src, &dst, 0);
    if (then_hsv)
        rgb_to_hsv(&self_src, &dst, 0);
    SDL_UnlockSurface(surf);
    return 1;
}

namespace {

// Dequeues a filled buffer; 0 with errno set on failure.
int dequeue(lmCameraObject *self, struct v4l2_buffer *buf)
{
    mmap_buffer(buf, 0);
    if (v4l2_xioctl(self->fd, VIDIOC_DQBUF, buf) == -1)
        return 0;
    if (buf->index >= self->n_buffers) {
        errno = EINVAL;
        return 0;
    }
    return 1;
}

enum ReadStatus { READ_OK, READ_DQBUF_FAILED, READ_QBUF_FAILED, READ_CONVERT_FAILED };

}  // namespace

// Reads one frame into `surf`; runs without the interpreter lock.  `*err`
// receives errno of a failed ioctl.
LM_EXPORT int v4l2_read_frame(lmCameraObject *self, SDL_Surface *surf, int *err)
{
    struct v4l2_buffer buf;
    if (!dequeue(self, &buf)) {
        *err = errno;
        return READ_DQBUF_FAILED;
    }
    const lmCamBuffer &b = self->buffers[buf.index];
    int converted = v4l2_process_image(self, b.start, b.length, surf);
    if (v4l2_xioctl(self->fd, VIDIOC_QBUF, &buf) == -1) {
        *err = errno;
        return READ_QBUF_FAILED;
    }
    return converted ? READ_OK : READ_CONVERT_FAILED;
}

LM_EXPORT PyObject *v4l2_read_raw(lmCameraObject *self)
{
    struct v4l2_buffer buf;
    if (!dequeue(self, &buf)) {
        PyErr_Format(PyExc_SystemError, "ioctl(VIDIOC_DQBUF) failure : %d, %s", ERRNO_ARGS);
        return nullptr;
    }
    const lmCamBuffer &b = self->buffers[buf.index];
    if (b.length > (size_t)PY_SSIZE_T_MAX) {
        PyErr_NoMemory();
        return nullptr;
    }
    lm::Ref raw(PyBytes_FromStringAndSize(static_cast<const char *>(b.start),
                                          (Py_ssize_t)b.length));
    if (v4l2_xioctl(self->fd, VIDIOC_QBUF, &buf) == -1) {
        PyErr_Format(PyExc_SystemError, "ioctl(VIDIOC_QBUF) failure : %d, %s", ERRNO_ARGS);
        return nullptr;
    }
    return raw.release();
}

LM_EXPORT PyObject *v4l2_list_cameras(void)
{
    lm::Ref list(PyList_New(0));
    if (!list)
        return nullptr;
    for (int n = -1; n < 64; ++n) {
        char name[14];
        if (n < 0)
            PyOS_snprintf(name, sizeof name, "/dev/video");
        else
            PyOS_snprintf(name, sizeof name, "/dev/video%d", n);
        int fd = open(name, O_RDONLY | O_NONBLOCK);
        if (fd == -1)
            continue;
        if (close(fd) == -1)
            break;
        lm::Ref s(PyUnicode_FromString(name));
        if (!s || PyList_Append(list.get(), s.get()) < 0)
            return nullptr;
    }
    return list.release();
}

// ---------------------------------------------------------------------------
// Camera type
// ---------------------------------------------------------------------------
namespace {

int cam_init(PyObject *self_, PyObject *args, PyObject *kwds)
{
    lmCameraObject *self = (lmCameraObject *)self_;
    const char *dev;
    const char *format = nullptr;
    int w = 640, h = 480;
    if (kwds && PyDict_GET_SIZE(kwds)) {
        PyErr_SetString(PyExc_TypeError, "Camera() takes no keyword arguments");
        return -1;
    }
    if (!PyArg_ParseTuple(args, "s|(ii)s", &dev, &w, &h, &format))
        return -1;
    if (w < 0 || h < 0) {
        PyErr_SetString(PyExc_ValueError, "Invalid camera size");
        return -1;
    }
    if (self->fd != -1) {
        PyErr_SetString(PyExc_RuntimeError, "Camera is capturing: stop() it first");
        return -1;
    }
    char *copy = strdup(dev);
    if (!copy) {
        PyErr_NoMemory();
        return -1;
    }
    free(self->device_name);
    self->device_name = copy;
    self->camera_type = 0;
    self->pixelformat = 0;
    if (format && strcmp(format, "YUV") == 0)
        self->color_out = LM_CAM_YUV;
    else if (format && strcmp(format, "HSV") == 0)
        self->color_out = LM_CAM_HSV;
    else
        self->color_out = LM_CAM_RGB;
    self->buffers = nullptr;
    self->n_buffers = 0;
    self->width = w;
    self->height = h;
    self->size = 0;
    self->hflip = self->vflip = self->brightness = 0;
    self->fd = -1;
    return 0;
}

PyObject *cam_new(PyTypeObject *type, PyObject *args, PyObject *kwds)
{
    PyObject *o = PyType_GenericNew(type, args, kwds);
    if (o)
        ((lmCameraObject *)o)->fd = -1;
    return o;
}

void cam_dealloc(PyObject *self_)
{
    lmCameraObject *self = (lmCameraObject *)self_;
    camera_release_quietly(self);  // a camera dropped while capturing
    free(self->device_name);
    Py_TYPE(self_)->tp_free(self_);
}

int get_control(int fd, Uint32 id, int *value)
{
    struct v4l2_control c;
    memset(&c, 0, sizeof c);
    c.id = id;
    if (v4l2_xioctl(fd, VIDIOC_G_CTRL, &c) == -1)
        return 0;
    *value = c.value;
    return 1;
}

void set_control(int fd, Uint32 id, int value, int *stored)
{
    struct v4l2_control c;
    memset(&c, 0, sizeof c);
    c.id = id;
    c.value = value;
    if (v4l2_xioctl(fd, VIDIOC_S_CTRL, &c) != -1)
        *stored = value;
}

PyObject *stored_controls(lmCameraObject *self)
{
    return Py_BuildValue("(NNi)", PyBool_FromLong(self->hflip), PyBool_FromLong(self->vflip),
                         self->brightness);
}

PyObject *controls_tuple(lmCameraObject *self)
{
    get_control(self->fd, V4L2_CID_HFLIP, &self->hflip);
    get_control(self->fd, V4L2_CID_VFLIP, &self->vflip);
    get_control(self->fd, V4L2_CID_BRIGHTNESS, &self->brightness);
    return stored_controls(self);
}

PyObject *cam_start(PyObject *self, PyObject *args)
{
    return camera_start((lmCameraObject *)self, args);
}

PyObject *cam_stop(PyObject *self, PyObject *args)
{
    return camera_stop((lmCameraObject *)self, args);
}

PyObject *cam_get_controls(PyObject *self, PyObject *)
{
    return controls_tuple((lmCameraObject *)self);
}

PyObject *cam_set_controls(PyObject *self_, PyObject *args, PyObject *kwds)
{
    lmCameraObject *self = (lmCameraObject *)self_;
    lm::Ref refreshed(controls_tuple(self));
    if (!refreshed)
        return nullptr;
    int hflip = self->hflip, vflip = self->vflip, brightness = self->brightness;
    static const char *kwlist[] = {"hflip", "vflip", "brightness", nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|iii", (char **)kwlist, &hflip, &vflip,
                                     &brightness))
        return nullptr;
    set_control(self->fd, V4L2_CID_HFLIP, hflip, &self->hflip);
    set_control(self->fd, V4L2_CID_VFLIP, vflip, &self->vflip);
    set_control(self->fd, V4L2_CID_BRIGHTNESS, brightness, &self->brightness);
    return stored_controls(self);
}

PyObject *cam_get_size(PyObject *self_, PyObject *)
{
    lmCameraObject *self = (lmCameraObject *)self_;
    return Py_BuildValue("(ii)", self->width, self->height);
}

PyObject *cam_query_image(PyObject *self_, PyObject *)
{
    lmCameraObject *self = (lmCameraObject *)self_;
    for (unsigned int i = 0; i < self->n_buffers; ++i) {
        struct v4l2_buffer buf;
        mmap_buffer(&buf, i);
        if (v4l2_xioctl(self->fd, VIDIOC_QUERYBUF, &buf) == -1) {
            PyErr_Format(PyExc_MemoryError, "ioctl(VIDIOC_QUERYBUF) failure : %d, %s",
                         ERRNO_ARGS);
            return nullptr;
        }
        if (buf.flags & V4L2_BUF_FLAG_DONE)
            Py_RETURN_TRUE;
    }
    Py_RETURN_FALSE;
}

PyObject *cam_get_image(PyObject *self_, PyObject *args)
{
    lmCameraObject *self = (lmCameraObject *)self_;
    PyObject *given = nullptr;
    if (!PyArg_ParseTuple(args, "|O!", &lmSurface_Type, &given))
        return nullptr;
    if (given == Py_None)
        given = nullptr;
    SDL_Surface *surf;
    if (given) {
        surf = lmSurface_AsSurface(given);
        if (!surf) {
            PyErr_SetString(lmExc_SDLError, "display Surface quit");
            return nullptr;
        }
    }
    else {
        surf = SDL_CreateRGBSurface(0, self->width, self->height, 24, 0xFF0000, 0x00FF00,
                                    0x0000FF, 0);
        if (!surf)
            return lm_RaiseSDLError();
    }
    if (surf->w != self->width || surf->h != self->height) {
        PyErr_SetString(PyExc_ValueError, "Destination surface not the correct width or height.");
        return nullptr;  // only a given surface can differ
    }
    int status, err = 0;
    {
        lm::GilRelease nogil;
        status = v4l2_read_frame(self, surf, &err);
    }
    if (status != READ_OK) {
        if (status == READ_CONVERT_FAILED)
            PyErr_SetString(PyExc_SystemError, "image processing error");
        else
            PyErr_Format(PyExc_SystemError, "ioctl(VIDIOC_%s) failure : %d, %s",
                         status == READ_QBUF_FAILED ? "QBUF" : "DQBUF", err, strerror(err));
        if (!given)
            SDL_FreeSurface(surf);
        return nullptr;
    }
    if (given) {
        Py_INCREF(given);
        return given;
    }
    return lmSurface_New2(surf, 1);
}

PyObject *cam_get_raw(PyObject *self, PyObject *)
{
    return v4l2_read_raw((lmCameraObject *)self);
}

#define CF(f) ((PyCFunction)(void (*)(void))(f))

PyObject *cammod_list_cameras(PyObject *, PyObject *)
{
    return v4l2_list_cameras();
}

PyObject *cammod_colorspace(PyObject *, PyObject *args)
{
    PyObject *srcobj, *dstobj = nullptr;
    const char *space;
    if (!PyArg_ParseTuple(args, "O!s|O!", &lmSurface_Type, &srcobj, &space, &lmSurface_Type,
                          &dstobj))
        return nullptr;
    int kind;
    if (strcmp(space, "YUV") == 0)
        kind = LM_CAM_YUV;
    else if (strcmp(space, "HSV") == 0)
        kind = LM_CAM_HSV;
    else {
        PyErr_SetString(PyExc_ValueError, "Incorrect colorspace value");
        return nullptr;
    }
    LM_SURF_OR_RAISE(srcobj, src);
    lm::Ref made;
    if (!dstobj) {
        const SDL_PixelFormat *f = src->format;
        SDL_Surface *s = SDL_CreateRGBSurface(0, src->w, src->h, f->BitsPerPixel, f->Rmask,
                                              f->Gmask, f->Bmask, f->Amask);
        if (!s)
            return lm_RaiseSDLError();
        made.reset(lmSurface_New2(s, 1));
        if (!made)
            return nullptr;
        dstobj = made.get();
    }
    LM_SURF_OR_RAISE(dstobj, dst);
    if (dst->w != src->w || dst->h != src->h) {
        PyErr_SetString(PyExc_ValueError, "Surfaces not the same width and height.");
        return nullptr;
    }
    if (dst->format->BitsPerPixel != src->format->BitsPerPixel) {
        PyErr_SetString(PyExc_ValueError, "Surfaces not the same depth");
        return nullptr;
    }
    if (SDL_LockSurface(dst) < 0)
        return lm_RaiseSDLError();
    if (!lmSurface_Lock(srcobj)) {
        SDL_UnlockSurface(dst);
        return nullptr;
    }
    {
        lm::GilRelease nogil;
        // Both are written in the source's own format: same depth, and the
        // source's masks decide where each result channel goes.
        lmCamSurfaceSrc s = {static_cast<const Uint8 *>(src->pixels), src->pitch, src->format};
        lmCamDest d = {static_cast<Uint8 *>(dst->pixels), dst->pitch, dst->w, dst->h,
                       src->format};
        if (kind == LM_CAM_YUV)
            rgb_to_yuv(&s, &d, 0);
        else
            rgb_to_hsv(&s, &d, 0);
    }
    int unlocked = lmSurface_Unlock(srcobj);
    SDL_UnlockSurface(dst);
    if (!unlocked)
        return nullptr;
    if (made)
        return made.release();
    Py_INCREF(dstobj);
    return dstobj;
}

}  // namespace

PyMethodDef cameraobj_builtins[] = {
    {"start", cam_start, METH_NOARGS, "start() -> None\nopens, initializes, and starts capturing"},
    {"stop", cam_stop, METH_NOARGS, "stop() -> None\nstops, uninitializes, and closes the camera"},
    {"get_controls", cam_get_controls, METH_NOARGS,
     "get_controls() -> (hflip = bool, vflip = bool, brightness)\n"
     "gets current values of user controls"},
    {"set_controls", CF(cam_set_controls), METH_VARARGS | METH_KEYWORDS,
     "set_controls(hflip = bool, vflip = bool, brightness) -> "
     "(hflip = bool, vflip = bool, brightness)\n"
     "changes camera settings if supported by the camera"},
    {"get_size", cam_get_size, METH_NOARGS,
     "get_size() -> (width, height)\nreturns the dimensions of the images being recorded"},
    {"query_image", cam_query_image, METH_NOARGS,
     "query_image() -> bool\nchecks if a frame is ready"},
    {"get_image", cam_get_image, METH_VARARGS,
     "get_image(Surface = None) -> Surface\ncaptures an image as a Surface"},
    {"get_raw", cam_get_raw, METH_NOARGS, "get_raw() -> bytes\nreturns an unmodified image as bytes"},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef camera_builtins[] = {
    {"colorspace", cammod_colorspace, METH_VARARGS,
     "colorspace(Surface, format, DestSurface = None) -> Surface\nSurface colorspace conversion"},
    {"list_cameras", cammod_list_cameras, METH_NOARGS,
     "list_cameras() -> [cameras]\nreturns a list of available cameras"},
    {nullptr, nullptr, 0, nullptr},
};

static LM_MODULE_DEF(camera_module, "_camera", "lumora module for camera use",
                     camera_builtins);

PyMODINIT_FUNC PyInit__camera(void)
{
    LM_IMPORT(base);
    LM_IMPORT_SURFACE();

    PyTypeObject &t = lmCamera_Type;
    t.tp_name = "lumora.camera.Camera";
    t.tp_basicsize = sizeof(lmCameraObject);
    t.tp_dealloc = cam_dealloc;
    t.tp_flags = Py_TPFLAGS_DEFAULT;
    t.tp_doc = "Camera(device, (width, height), format) -> Camera\nload a camera";
    t.tp_methods = cameraobj_builtins;
    t.tp_init = cam_init;
    t.tp_new = cam_new;
    return lm_module_with_type(&camera_module, "Camera", &lmCamera_Type);
}
