// lumora.streamwrap: Python paths and file objects as SDL streams.
//
// Loaders and savers hand any "file" argument to lmStream_FromObject; a path
// becomes an ordinary SDL file stream, anything else is wrapped by the
// adapter below, whose callbacks call the object's read/write/seek/tell/close
// methods.  SDL, SDL_image, SDL_ttf and SDL_mixer may call those callbacks
// on any thread (loaders release the interpreter lock, the mixer reads on its
// audio thread), so every callback that touches Python takes the lock itself.
#define LUMORA_MODULE_STREAMWRAP
#include "frame.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

PyObject *os_module = nullptr;  // only the wording of not-found errors needs it

// Exact types whose fileno() really is the data read() returns.  A wrapper
// that merely forwards fileno() (a decompressing file, a subclass overriding
// read) must be read through its methods, or we would hand SDL raw bytes.
PyObject *fd_types = nullptr;

struct lmPyStream {
    PyObject *read;
    PyObject *write;
    PyObject *seek;
    PyObject *tell;
    PyObject *close;
    PyObject *file;
    // Our own duplicate of the object's descriptor for the read/seek
    // shortcut, -1 when unused.  A duplicate shares the file position but
    // not the number: if the caller closes the file and the number is
    // reused for another file, the stream still reads its own.
    int fd;
    int fd_moved;  // the descriptor moved since the file object last knew
};

inline lmPyStream *rec_of(SDL_RWops *rw)
{
    return static_cast<lmPyStream *>(rw->hidden.unknown.data1);
}

// True when a callback must not wait for the interpreter lock: Python is
// shutting down or gone (SDL may close a stream from its own exit handlers)
// and the lock is not this thread's, so it would never be handed over.  The
// thread running the shutdown holds it (a Font freed with its module) and
// goes on normally.  Safe to call without the lock.
bool is_finalizing()
{
#if PY_VERSION_HEX >= 0x030D0000
    if (PyThreadState_GetUnchecked())
        return false;
    return !Py_IsInitialized() || Py_IsFinalizing();
#else
    if (_PyThreadState_UncheckedGet())
        return false;
    return !Py_IsInitialized() || _Py_IsFinalizing();
#endif
}

// Whether a callback may go on to call the object's method: false, with
// SDL's error set, when the object has none (`missing` says which) or the
// interpreter lock cannot be had (see is_finalizing).
bool may_call(bool has_method, const char *missing)
{
    if (!has_method) {
        SDL_SetError("%s", missing);
        return false;
    }
    if (is_finalizing()) {
        SDL_SetError("interpreter shutting down");
        return false;
    }
    return true;
}

// The interpreter lock for one callback; released on scope exit.
class Gil {
  public:
    Gil() : st_(lm::gil_ensure()) {}
    Gil(const Gil &) = delete;
    Gil &operator=(const Gil &) = delete;
    ~Gil() { PyGILState_Release(st_); }

  private:
    PyGILState_STATE st_;
};

// A Python error inside a callback: keep its text as SDL's error so the
// loader or saver that failed reports something useful, then print it.
void report_callback_error()
{
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    const char *tname = type ? ((PyTypeObject *)type)->tp_name : "error";
    PyObject *text = value ? PyObject_Str(value) : nullptr;
    const char *msg = text ? PyUnicode_AsUTF8(text) : nullptr;
    if (msg && *msg)
        SDL_SetError("%s: %s", tname, msg);
    else
        SDL_SetError("%s in a file object method", tname);
    Py_XDECREF(text);
    PyErr_Clear();
    if (type && PyErr_GivenExceptionMatches(type, PyExc_SystemExit)) {
        // PyErr_Print would end the process here, from inside SDL and
        // perhaps on a thread of SDL's: show it and fail the call instead.
        PyErr_Display(type, value, tb);
        Py_XDECREF(type);
        Py_XDECREF(value);
        Py_XDECREF(tb);
        return;
    }
    PyErr_Restore(type, value, tb);
    PyErr_Print();
}

// Make the file object's own position agree with the descriptor's again,
// after the shortcut read or seeked behind its back.  Seeking to the end
// first makes a buffered object drop its read-ahead, which would otherwise
// satisfy the second seek from stale data.  Needs the interpreter lock.
int sync_object_to_fd(lmPyStream *r)
{
    if (r->fd < 0 || !r->fd_moved)
        return 0;
    off64_t pos = lseek64(r->fd, 0, SEEK_CUR);
    if (pos < 0)
        return -1;
    if (!r->seek)
        return -1;
    PyObject *res = PyObject_CallFunction(r->seek, "ii", 0, 2);
    if (!res)
        return -1;
    Py_DECREF(res);
    res = PyObject_CallFunction(r->seek, "Li", (long long)pos, 0);
    if (!res)
        return -1;
    Py_DECREF(res);
    r->fd_moved = 0;
    return 0;
}

// Make the descriptor start where the file object's user thinks the file
// is: write out anything buffered and put the descriptor at tell(), with the
// object's read-ahead dropped.  0 when the shortcut may be used.
int sync_fd_to_object(lmPyStream *r)
{
    if (PyObject_HasAttrString(r->file, "flush")) {
        PyObject *res = PyObject_CallMethod(r->file, "flush", nullptr);
        if (!res)
            return -1;
        Py_DECREF(res);
    }
    if (!r->seek || !r->tell)
        return -1;
    PyObject *pos = PyObject_CallNoArgs(r->tell);
    if (!pos)
        return -1;
    long long p = PyLong_AsLongLong(pos);
    if (p == -1 && PyErr_Occurred()) {
        Py_DECREF(pos);
        return -1;
    }
    PyObject *res = PyObject_CallFunction(r->seek, "ii", 0, 2);
    if (res) {
        Py_DECREF(res);
        res = PyObject_CallOneArg(r->seek, pos);
    }
    Py_DECREF(pos);
    if (!res)
        return -1;
    Py_DECREF(res);
    if (lseek64(r->fd, (off64_t)p, SEEK_SET) != (off64_t)p)
        return -1;
    return 0;
}

void drop_fd(lmPyStream *r)
{
    if (r->fd >= 0) {
        ::close(r->fd);
        r->fd = -1;
    }
}

void drop_record(lmPyStream *r)
{
    drop_fd(r);
    Py_CLEAR(r->seek);
    Py_CLEAR(r->tell);
    Py_CLEAR(r->write);
    Py_CLEAR(r->read);
    Py_CLEAR(r->close);
    Py_CLEAR(r->file);
    PyMem_Free(r);
}

Sint64 SDLCALL cb_size(SDL_RWops *rw)
{
    lmPyStream *r = rec_of(rw);
    if (r->fd >= 0) {
        off64_t cur = lseek64(r->fd, 0, SEEK_CUR);
        if (cur < 0)
            return -1;
        off64_t end = lseek64(r->fd, 0, SEEK_END);
        if (lseek64(r->fd, cur, SEEK_SET) != cur || end < 0)
            return -1;
        return (Sint64)end;
    }
    if (!may_call(r->seek && r->tell, "file object cannot seek"))
        return -1;
    Gil gil;
    PyObject *pos = PyObject_CallNoArgs(r->tell);
    if (!pos) {
        report_callback_error();
        return -1;
    }
    PyObject *res = PyObject_CallFunction(r->seek, "ii", 0, 2);
    if (!res) {
        Py_DECREF(pos);
        report_callback_error();
        return -1;
    }
    Py_DECREF(res);
    res = PyObject_CallNoArgs(r->tell);
    if (!res) {
        Py_DECREF(pos);
        report_callback_error();
        return -1;
    }
    long long size = PyLong_AsLongLong(res);
    Py_DECREF(res);
    if (size == -1 && PyErr_Occurred()) {
        Py_DECREF(pos);
        report_callback_error();
        return -1;
    }
    res = PyObject_CallOneArg(r->seek, pos);
    Py_DECREF(pos);
    if (!res) {
        report_callback_error();
        return -1;
    }
    Py_DECREF(res);
    return (Sint64)size;
}

Sint64 SDLCALL cb_seek(SDL_RWops *rw, Sint64 offset, int whence)
{
    lmPyStream *r = rec_of(rw);
    if (r->fd >= 0) {
        if (offset != 0 || whence != RW_SEEK_CUR)
            r->fd_moved = 1;
        off64_t res = lseek64(r->fd, (off64_t)offset, whence);
        if (res < 0)
            SDL_SetError("seek failed: %s", strerror(errno));
        return (Sint64)res;
    }
    if (!may_call(r->seek && r->tell, "file object cannot seek"))
        return -1;
    Gil gil;
    if (offset != 0 || whence != RW_SEEK_CUR) {
        PyObject *res = PyObject_CallFunction(r->seek, "Li", (long long)offset,
                                              whence);
        if (!res) {
            report_callback_error();
            return -1;
        }
        Py_DECREF(res);
    }
    PyObject *pos = PyObject_CallNoArgs(r->tell);
    if (!pos) {
        report_callback_error();
        return -1;
    }
    long long p = PyLong_AsLongLong(pos);
    Py_DECREF(pos);
    if (p == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return -1;
    }
    return (Sint64)p;
}

// Reads return the number of whole objects read; 0 means error or end of
// file (a count of (size_t)-1 would be taken for success by SDL's callers).
size_t SDLCALL cb_read(SDL_RWops *rw, void *ptr, size_t size, size_t maxnum)
{
    lmPyStream *r = rec_of(rw);
    size_t total;
    if (size == 0 || maxnum == 0)
        return 0;
    if (!lm::checked_mul(size, maxnum, &total)) {
        SDL_SetError("read request too large");
        return 0;
    }
    char *out = static_cast<char *>(ptr);
    if (r->fd >= 0) {
        size_t done = 0;
        r->fd_moved = 1;
        while (done < total) {
            ssize_t n = ::read(r->fd, out + done, total - done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                SDL_SetError("read failed: %s", strerror(errno));
                return 0;
            }
            if (n == 0)
                break;
            done += (size_t)n;
        }
        return done / size;
    }
    if (!may_call(r->read, "file object cannot read"))
        return 0;
    Gil gil;
    size_t done = 0;
    // A raw stream may hand back less than asked; keep asking until the
    // request is filled or the object reports the end.
    while (done < total) {
        PyObject *res = PyObject_CallFunction(
            r->read, "K", (unsigned long long)(total - done));
        if (!res) {
            report_callback_error();
            return 0;
        }
        if (res == Py_None) {  // non-blocking stream with nothing ready
            Py_DECREF(res);
            break;
        }
        Py_buffer view;
        if (PyObject_GetBuffer(res, &view, PyBUF_SIMPLE) < 0) {
            Py_DECREF(res);
            PyErr_Clear();
            PyErr_SetString(PyExc_TypeError,
                            "read() of a file object must return bytes");
            report_callback_error();
            return 0;
        }
        size_t n = (size_t)view.len;
        if (n > total - done) {
            PyBuffer_Release(&view);
            Py_DECREF(res);
            PyErr_SetString(PyExc_ValueError,
                            "read() returned more bytes than requested");
            report_callback_error();
            return 0;
        }
        memcpy(out + done, view.buf, n);
        PyBuffer_Release(&view);
        Py_DECREF(res);
        if (n == 0)
            break;
        done += n;
    }
    return done / size;
}

// Writes return the number of whole objects written; fewer than `num`
// tells SDL the write failed.
size_t SDLCALL cb_write(SDL_RWops *rw, const void *ptr, size_t size, size_t num)
{
    lmPyStream *r = rec_of(rw);
    size_t total;
    if (size == 0 || num == 0)
        return 0;
    if (!lm::checked_mul(size, num, &total) || total > (size_t)PY_SSIZE_T_MAX) {
        SDL_SetError("write request too large");
        return 0;
    }
    if (!may_call(r->write, "file object cannot write"))
        return 0;
    Gil gil;
    if (r->fd >= 0) {
        // Writes go through the object and its buffer, so from here on the
        // descriptor's position means nothing: seek and tell through the
        // object too, starting from wherever the shortcut left the file.
        if (sync_object_to_fd(r) < 0) {
            report_callback_error();
            return 0;
        }
        drop_fd(r);
    }
    const char *in = static_cast<const char *>(ptr);
    size_t done = 0;
    while (done < total) {
        PyObject *chunk = PyBytes_FromStringAndSize(in + done,
                                                    (Py_ssize_t)(total - done));
        if (!chunk) {
            report_callback_error();
            break;
        }
        PyObject *res = PyObject_CallOneArg(r->write, chunk);
        Py_DECREF(chunk);
        if (!res) {
            report_callback_error();
            break;
        }
        if (res == Py_None) {  // objects that do not count: all was taken
            Py_DECREF(res);
            done = total;
            break;
        }
        long long n = PyLong_AsLongLong(res);
        Py_DECREF(res);
        if (n == -1 && PyErr_Occurred()) {
            // A result that is no count: the write itself went through.
            PyErr_Clear();
            done = total;
            break;
        }
        if (n < 0 || (unsigned long long)n > total - done) {
            PyErr_Format(PyExc_ValueError,
                         "write() returned an invalid count %lld", n);
            report_callback_error();
            break;
        }
        if (n == 0) {
            SDL_SetError("file object wrote nothing (short write)");
            break;
        }
        done += (size_t)n;
    }
    return done / size;
}

int SDLCALL cb_close(SDL_RWops *rw)
{
    lmPyStream *r = rec_of(rw);
    int ret = 0;
    if (is_finalizing()) {
        // Python objects cannot be touched any more: the record and its
        // references are left behind, only our descriptor is ours to close.
        drop_fd(r);
        SDL_SetError("interpreter shutting down");
        SDL_FreeRW(rw);
        return -1;
    }
    {
        Gil gil;
        if (r->close) {
            PyObject *res = PyObject_CallNoArgs(r->close);
            if (!res) {
                report_callback_error();
                ret = -1;
            }
            Py_XDECREF(res);
        }
        drop_record(r);
    }
    SDL_FreeRW(rw);
    return ret;
}

PyObject *encode_object(PyObject *obj, PyObject *str, const char *encoding,
                        const char *errors, bool defaults, bool fsencode,
                        PyObject *etype)
{
    PyObject *res = fsencode ? PyUnicode_EncodeFSDefault(str)
                             : PyUnicode_AsEncodedString(str, encoding, errors);
    (void)obj;
    if (res)
        return res;
    if (PyErr_ExceptionMatches(PyExc_MemoryError))
        return nullptr;
    if (!etype) {
        if (defaults) {
            PyErr_SetString(PyExc_SystemError,
                            "Lumora bug (in lm_EncodeString): "
                            "unexpected encoding error");
            return nullptr;
        }
        PyErr_Clear();
        Py_RETURN_NONE;
    }
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    if (!value) {
        PyErr_SetString(etype, "Unicode encoding error");
        return nullptr;
    }
    PyObject *text = PyObject_Str(value);
    Py_DECREF(value);
    if (!text) {
        PyErr_Clear();
        PyErr_SetNone(etype);
        return nullptr;
    }
    PyErr_SetObject(etype, text);
    Py_DECREF(text);
    return nullptr;
}

// os.fspath(obj), or `obj` itself when it is no path-like object (or its
// __fspath__ fails); a new reference.
PyObject *fspath_or_self(PyObject *obj)
{
    PyObject *path = PyOS_FSPath(obj);
    if (!path) {
        PyErr_Clear();
        path = obj;
        Py_INCREF(path);
    }
    return path;
}

PyObject *encode_common(PyObject *obj, const char *encoding, const char *errors,
                        bool fsencode, PyObject *etype)
{
    if (!obj)
        return nullptr;
    bool defaults = !encoding && !errors;
    if (!encoding)
        encoding = "unicode_escape";
    if (!errors)
        errors = "backslashreplace";
    lm::Ref hold(fspath_or_self(obj));
    PyObject *path = hold.get();
    if (PyUnicode_Check(path))
        return encode_object(obj, path, encoding, errors, defaults, fsencode,
                             etype);
    if (PyBytes_Check(path)) {
        Py_INCREF(path);
        return path;
    }
    Py_RETURN_NONE;
}

// The bytes SDL opens for a path argument: a str (or the text of a
// path-like object) as UTF-8, bytes as they are; None for anything that is
// no path.  Names the OS gave Python with undecodable bytes carry those bytes
// as lone surrogates; surrogateescape restores them, where an escaping
// handler would turn them into a different, wrong name.  Text that still
// cannot be encoded raises the codec's error rather than passing for a file
// object.
PyObject *path_bytes(PyObject *obj)
{
    lm::Ref hold(fspath_or_self(obj));
    PyObject *path = hold.get();
    if (PyUnicode_Check(path))
        return PyUnicode_AsEncodedString(path, "utf-8", "surrogateescape");
    if (PyBytes_Check(path))
        return hold.release();
    Py_RETURN_NONE;
}

}  // namespace

// ---------------------------------------------------------------------------
// Exported operations.
// ---------------------------------------------------------------------------
PyObject *lm_EncodeString(PyObject *obj, const char *encoding,
                          const char *errors, PyObject *etype)
{
    return encode_common(obj, encoding, errors, false, etype);
}

PyObject *lm_EncodeFilePath(PyObject *obj, PyObject *etype)
{
    // The interpreter's own file-system rule: its encoding with
    // surrogateescape, the same bytes os.fsencode() gives.
    PyObject *res = encode_common(obj, nullptr, "surrogateescape", true, etype);
    if (!res || res == Py_None)
        return res;
    if ((Py_ssize_t)strlen(PyBytes_AS_STRING(res)) == PyBytes_GET_SIZE(res))
        return res;
    Py_DECREF(res);
    if (!etype)
        Py_RETURN_NONE;
    PyObject *shown = lm_EncodeString(obj, nullptr, nullptr, nullptr);
    if (!shown)
        return nullptr;
    if (PyBytes_Check(shown))
        PyErr_Format(etype, "File path '%.1024s' contains null characters",
                     PyBytes_AS_STRING(shown));
    else
        PyErr_SetString(etype, "File path contains null characters");
    Py_DECREF(shown);
    return nullptr;
}

int lmStream_IsPyBacked(SDL_RWops *rw)
{
    return rw && rw->close == cb_close;
}

SDL_RWops *lmStream_FromFileObject(PyObject *obj)
{
    if (!obj) {
        PyErr_SetString(PyExc_TypeError, "Invalid filetype object");
        return nullptr;
    }
    lmPyStream *r = static_cast<lmPyStream *>(PyMem_Calloc(1, sizeof *r));
    if (!r) {
        PyErr_NoMemory();
        return nullptr;
    }
    r->fd = -1;
    auto take = [obj](const char *name) -> PyObject * {
        PyObject *m = PyObject_GetAttrString(obj, name);
        if (!m) {
            PyErr_Clear();
            return nullptr;
        }
        if (!PyCallable_Check(m)) {
            Py_DECREF(m);
            return nullptr;
        }
        return m;
    };
    r->read = take("read");
    r->write = take("write");
    if (!r->read && !r->write) {
        PyMem_Free(r);
        PyErr_SetString(PyExc_TypeError, "not a file object");
        return nullptr;
    }
    r->seek = take("seek");
    r->tell = take("tell");
    r->close = take("close");
    Py_INCREF(obj);
    r->file = obj;

    int is_plain_file = 0;
    if (fd_types) {
        Py_ssize_t n = PyTuple_GET_SIZE(fd_types);
        for (Py_ssize_t i = 0; i < n; i++)
            if ((PyObject *)Py_TYPE(obj) == PyTuple_GET_ITEM(fd_types, i))
                is_plain_file = 1;
    }
    if (is_plain_file) {
        int fd = PyObject_AsFileDescriptor(obj);
        if (fd < 0) {
            PyErr_Clear();
        } else {
            r->fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
            // Unseekable or failing objects fall back to their methods.
            if (r->fd >= 0 && sync_fd_to_object(r) < 0) {
                PyErr_Clear();
                drop_fd(r);
            }
        }
    }

    SDL_RWops *rw = SDL_AllocRW();
    if (!rw) {
        drop_record(r);
        PyErr_NoMemory();
        return nullptr;
    }
    rw->hidden.unknown.data1 = r;
    rw->size = cb_size;
    rw->seek = cb_seek;
    rw->read = cb_read;
    rw->write = cb_write;
    rw->close = cb_close;
    return rw;
}

SDL_RWops *lmStream_FromObject(PyObject *obj, char **extension)
{
    if (extension)
        *extension = nullptr;
    if (obj) {
        PyObject *enc = path_bytes(obj);
        if (!enc)
            return nullptr;
        lm::Ref hold(enc);
        if (enc != Py_None) {
            const char *path = PyBytes_AS_STRING(enc);
            Py_ssize_t len = PyBytes_GET_SIZE(enc);
            // SDL takes a C string: an embedded NUL would silently open a
            // different, shorter path.
            if ((Py_ssize_t)strlen(path) != len) {
                PyObject *shown = lm_EncodeString(obj, nullptr, nullptr, nullptr);
                if (shown && PyBytes_Check(shown))
                    PyErr_Format(PyExc_ValueError,
                                 "File path '%.1024s' contains null characters",
                                 PyBytes_AS_STRING(shown));
                else if (shown)
                    PyErr_SetString(PyExc_ValueError,
                                    "File path contains null characters");
                Py_XDECREF(shown);
                return nullptr;
            }
            SDL_RWops *rw;
            {
                // Opening may block on a slow file system.
                lm::GilRelease nogil;
                rw = SDL_RWFromFile(path, "rb");
            }
            if (rw) {
                if (extension) {
                    const char *dot = strrchr(path, '.');
                    if (dot && dot[1]) {
                        char *ext = static_cast<char *>(malloc(strlen(dot + 1) + 1));
                        if (!ext) {
                            if (SDL_RWclose(rw) < 0) {
                                PyErr_SetString(PyExc_OSError, SDL_GetError());
                                return nullptr;
                            }
                            PyErr_NoMemory();
                            return nullptr;
                        }
                        strcpy(ext, dot + 1);
                        *extension = ext;
                    }
                }
                return rw;
            }
            SDL_ClearError();
            PyObject *cwd = nullptr, *isabs = nullptr;
            if (os_module) {
                cwd = PyObject_CallMethod(os_module, "getcwd", nullptr);
                if (cwd) {
                    PyObject *ospath = PyObject_GetAttrString(os_module, "path");
                    if (ospath) {
                        isabs = PyObject_CallMethod(ospath, "isabs", "O", obj);
                        Py_DECREF(ospath);
                    }
                }
                PyErr_Clear();
            }
            if (cwd && isabs && isabs != Py_True)
                PyErr_Format(PyExc_FileNotFoundError,
                             "No file '%S' found in working directory '%S'.",
                             obj, cwd);
            else
                PyErr_Format(PyExc_FileNotFoundError,
                             "No such file or directory: '%S'.", obj);
            Py_XDECREF(cwd);
            Py_XDECREF(isabs);
            return nullptr;
        }
    }
    if (PyErr_Occurred())
        return nullptr;
    return lmStream_FromFileObject(obj);
}

int lmStream_Release(SDL_RWops *rw)
{
    if (!rw)
        return 0;
    if (!lmStream_IsPyBacked(rw)) {
        int res = SDL_RWclose(rw);
        if (res < 0)
            PyErr_SetString(PyExc_OSError, SDL_GetError());
        return res;
    }
    Gil gil;
    lmPyStream *r = rec_of(rw);
    // Close the object only when the stream is the last thing holding it:
    // the record's reference plus one per bound method taken from it.
    int all_methods = r->read && r->write && r->seek && r->tell && r->close;
    Py_ssize_t expected = 1;
    PyObject *methods[] = {r->read, r->write, r->seek, r->tell, r->close};
    for (PyObject *m : methods) {
        if (!m)
            continue;
        PyObject *self = nullptr;
        if (PyMethod_Check(m))
            self = PyMethod_GET_SELF(m);
        else if (PyCFunction_Check(m))
            self = PyCFunction_GET_SELF(m);
        if (self == r->file)
            expected++;
    }
    if (all_methods && Py_REFCNT(r->file) == expected) {
        int res = SDL_RWclose(rw);
        if (res < 0)
            PyErr_SetString(PyExc_OSError, SDL_GetError());
        return res;
    }
    // The caller keeps using the object: leave it where the stream's
    // reads left it, not where its stale buffer thinks it is.
    if (sync_object_to_fd(r) < 0)
        PyErr_Clear();
    drop_record(r);
    SDL_FreeRW(rw);
    return 0;
}

int lmStream_Traverse(SDL_RWops *rw, visitproc visit, void *arg)
{
    if (!rw || !lmStream_IsPyBacked(rw))
        return 0;
    lmPyStream *r = rec_of(rw);
    Py_VISIT(r->read);
    Py_VISIT(r->write);
    Py_VISIT(r->seek);
    Py_VISIT(r->tell);
    Py_VISIT(r->close);
    Py_VISIT(r->file);
    return 0;
}

// ---------------------------------------------------------------------------
// Python functions.
// ---------------------------------------------------------------------------
namespace {

int exception_class(PyObject *o, void *out)
{
    if (PyType_Check(o) &&
        PyType_IsSubtype((PyTypeObject *)o, (PyTypeObject *)PyExc_BaseException)) {
        *static_cast<PyObject **>(out) = o;
        return 1;
    }
    PyObject *s = PyObject_Str(o);
    PyObject *b = s ? PyUnicode_AsEncodedString(s, "ascii", "replace") : nullptr;
    Py_XDECREF(s);
    if (!b) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError, "invalid exception class argument");
        return 0;
    }
    PyErr_Format(PyExc_TypeError, "Expected an exception class: got %.1024s",
                 PyBytes_AS_STRING(b));
    Py_DECREF(b);
    return 0;
}

PyObject *py_encode_string(PyObject *, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"obj", "encoding", "errors", "etype", nullptr};
    PyObject *obj = nullptr, *etype = nullptr;
    const char *encoding = nullptr, *errors = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|OssO&", (char **)kwlist,
                                     &obj, &encoding, &errors,
                                     exception_class, &etype))
        return nullptr;
    if (!obj)
        PyErr_SetString(PyExc_SyntaxError, "Forwarded exception");
    return lm_EncodeString(obj, encoding, errors, etype);
}

PyObject *py_encode_file_path(PyObject *, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"obj", "etype", nullptr};
    PyObject *obj = nullptr, *etype = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|OO&", (char **)kwlist,
                                     &obj, exception_class, &etype))
        return nullptr;
    if (!obj)
        PyErr_SetString(PyExc_SyntaxError, "Forwarded exception");
    return lm_EncodeFilePath(obj, etype);
}

PyMethodDef methods[] = {
    {"encode_string", (PyCFunction)(void (*)(void))py_encode_string,
     METH_VARARGS | METH_KEYWORDS,
     "encode_string([obj [, encoding [, errors [, etype]]]]) -> bytes or None\n"
     "Encode a Unicode or bytes object"},
    {"encode_file_path", (PyCFunction)(void (*)(void))py_encode_file_path,
     METH_VARARGS | METH_KEYWORDS,
     "encode_file_path([obj [, etype]]) -> bytes or None\n"
     "Encode a Unicode or bytes object as a file system path"},
    {nullptr, nullptr, 0, nullptr}};

PyModuleDef moddef = {PyModuleDef_HEAD_INIT, "streamwrap",
                      "SDL_RWops support", -1, methods,
                      nullptr, nullptr, nullptr, nullptr};

void *c_api[LM_STREAM_NUMSLOTS];

}  // namespace

PyMODINIT_FUNC PyInit_streamwrap(void)
{
    os_module = PyImport_ImportModule("os");
    if (!os_module)
        PyErr_Clear();
    PyObject *io = PyImport_ImportModule("io");
    if (io) {
        fd_types = PyTuple_New(4);
        const char *names[] = {"FileIO", "BufferedReader", "BufferedWriter",
                               "BufferedRandom"};
        for (int i = 0; fd_types && i < 4; i++) {
            PyObject *t = PyObject_GetAttrString(io, names[i]);
            if (!t) {
                Py_CLEAR(fd_types);
                break;
            }
            PyTuple_SET_ITEM(fd_types, i, t);
        }
        Py_DECREF(io);
    }
    PyErr_Clear();

    PyObject *module = PyModule_Create2(&moddef, 1013);
    if (!module)
        return nullptr;
    c_api[LM_STREAM_FROM_OBJECT] = (void *)lmStream_FromObject;
    c_api[LM_STREAM_IS_PYBACKED] = (void *)lmStream_IsPyBacked;
    c_api[LM_STREAM_ENCODE_FILE_PATH] = (void *)lm_EncodeFilePath;
    c_api[LM_STREAM_ENCODE_STRING] = (void *)lm_EncodeString;
    c_api[LM_STREAM_FROM_FILE_OBJECT] = (void *)lmStream_FromFileObject;
    c_api[LM_STREAM_RELEASE] = (void *)lmStream_Release;
    c_api[LM_STREAM_TRAVERSE] = (void *)lmStream_Traverse;
    if (lm_export_slots(module, "streamwrap", c_api) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
