"""lumora.streamwrap: path encoding, and paths and file objects as SDL streams.

Streams are made through the module's capsule and driven with SDL's own
SDL_RWread/write/seek/size/close through ctypes, which releases the
interpreter lock around those calls: every callback into a Python file object
runs as it does under a loader, without the lock, which it must take itself.
"""
import ctypes as c
import gzip
import io
import os
import pathlib
import re
import sys
import threading

import pytest

import _child

from _sdlpush import SDL, capsule_slot

sw = pytest.importorskip("lumora.streamwrap")

for _name, _res, _args in [
        ("SDL_RWread", c.c_size_t, [c.c_void_p, c.c_void_p, c.c_size_t, c.c_size_t]),
        ("SDL_RWwrite", c.c_size_t, [c.c_void_p, c.c_char_p, c.c_size_t, c.c_size_t]),
        ("SDL_RWseek", c.c_int64, [c.c_void_p, c.c_int64, c.c_int]),
        ("SDL_RWtell", c.c_int64, [c.c_void_p]),
        ("SDL_RWsize", c.c_int64, [c.c_void_p]),
        ("SDL_RWclose", c.c_int, [c.c_void_p])]:
    getattr(SDL, _name).restype = _res
    getattr(SDL, _name).argtypes = _args
libc = c.CDLL(None)
libc.free.argtypes = [c.c_void_p]

from_object = capsule_slot(sw, 0, c.c_void_p, c.py_object, c.c_void_p)
from_null = capsule_slot(sw, 0, c.c_void_p, c.c_void_p, c.c_void_p)
is_pybacked = capsule_slot(sw, 1, c.c_int, c.c_void_p)
from_file_object = capsule_slot(sw, 4, c.c_void_p, c.py_object)
from_file_null = capsule_slot(sw, 4, c.c_void_p, c.c_void_p)
release = capsule_slot(sw, 5, c.c_int, c.c_void_p)
size, tell, close = SDL.SDL_RWsize, SDL.SDL_RWtell, SDL.SDL_RWclose
seek = SDL.SDL_RWseek


def open_stream(obj):
    """(stream, extension or None) for obj, through slot 0."""
    ext = c.c_void_p()
    rw = from_object(obj, c.addressof(ext))
    text = None
    if ext.value:
        text = c.string_at(ext.value)
        libc.free(ext.value)
    return rw, text


def read(rw, n, size=1):
    """(objects read, bytes) for n objects of `size` bytes.  Guard bytes
    after the request catch a callback that writes past it."""
    buf = c.create_string_buffer(b"\xa5" * (n * size + 16))
    got = SDL.SDL_RWread(rw, buf, size, n)
    assert buf.raw[n * size:] == b"\xa5" * 16 + b"\0"
    return got, buf.raw[:got * size]


def write(rw, data, size=1):
    return SDL.SDL_RWwrite(rw, data, size, len(data) // size)


# ---------------------------------------------------------------------------
# encode_string / encode_file_path
# ---------------------------------------------------------------------------
def test_docstrings():
    assert sw.__doc__ == "SDL_RWops support"
    assert sw.encode_string.__doc__ == (
        "encode_string([obj [, encoding [, errors [, etype]]]]) -> bytes or "
        "None\nEncode a Unicode or bytes object")
    assert sw.encode_file_path.__doc__ == (
        "encode_file_path([obj [, etype]]) -> bytes or None\n"
        "Encode a Unicode or bytes object as a file system path")


@pytest.mark.parametrize("obj, expected", [
    ("abc", b"abc"),
    ("\xe9\n", b"\\xe9\\n"),            # default codec: unicode_escape
    (3, None),
    (pathlib.PurePosixPath("d/f.txt"), b"d/f.txt"),
])
def test_encode_string(obj, expected):
    assert sw.encode_string(obj) == expected


def test_encode_string_codecs():
    b = b"\xff\x01x"
    assert sw.encode_string(b) is b and sw.encode_file_path(b) is b
    assert sw.encode_string("\xe9", encoding="latin-1") == b"\xe9"
    assert sw.encode_string("\xe9", "ascii", "strict") is None
    with pytest.raises(ValueError, match="'ascii' codec can't encode"):
        sw.encode_string("\xe9", "ascii", "strict", ValueError)
    with pytest.raises(KeyError):
        sw.encode_string(obj="\xe9", encoding="ascii", errors="strict",
                         etype=KeyError)


@pytest.mark.parametrize("func", [sw.encode_string, sw.encode_file_path])
def test_missing_object_forwards_pending_exception(func):
    with pytest.raises(SyntaxError, match="^Forwarded exception$"):
        func()


@pytest.mark.parametrize("etype, shown", [(3, "3"), ("x\xe9", "x?"),
                                          (object, "<class 'object'>")])
def test_etype_must_be_exception_class(etype, shown):
    msg = "^%s$" % re.escape("Expected an exception class: got " + shown)
    with pytest.raises(TypeError, match=msg):
        sw.encode_string("a", etype=etype)
    with pytest.raises(TypeError, match=msg):
        sw.encode_file_path("a", etype)

    class Bad:
        def __str__(self):
            raise RuntimeError

    with pytest.raises(TypeError, match="^invalid exception class argument$"):
        sw.encode_string("a", etype=Bad())


def test_encode_file_path():
    assert sw.encode_file_path("d/\xe9.png") == "d/\xe9.png".encode()
    # A name the OS gave with undecodable bytes comes back as those bytes.
    assert sw.encode_file_path(os.fsdecode(b"a\xff")) == b"a\xff"
    assert sw.encode_file_path(pathlib.Path("x")) == b"x"
    assert sw.encode_file_path(2.5) is None


@pytest.mark.parametrize("path", ["a\0b", b"a\0b", pathlib.PurePosixPath("a\0b")])
def test_encode_file_path_refuses_nul(path):
    assert sw.encode_file_path(path) is None
    shown = "a" if isinstance(path, bytes) else "a\\x00b"
    with pytest.raises(ValueError) as ei:
        sw.encode_file_path(path, ValueError)
    assert str(ei.value) == "File path '%s' contains null characters" % shown


# ---------------------------------------------------------------------------
# Paths
# ---------------------------------------------------------------------------
@pytest.fixture
def datafile(tmp_path):
    p = tmp_path / "data.bin"
    p.write_bytes(bytes(range(256)))
    return p


@pytest.mark.parametrize("kind", [str, os.fsencode, pathlib.Path])
def test_path_stream(datafile, kind):
    rw, ext = open_stream(kind(datafile))
    assert ext == b"bin" and not is_pybacked(rw)
    assert size(rw) == 256
    assert seek(rw, 250, 0) == 250
    assert read(rw, 10) == (6, bytes(range(250, 256)))
    assert release(rw) == 0


def test_path_with_undecodable_bytes(tmp_path):
    raw = os.fsencode(tmp_path) + b"/caf\xe9-\xff.dat"
    with open(raw, "wb") as f:
        f.write(b"latin name")
    for obj in (raw, os.fsdecode(raw), pathlib.Path(os.fsdecode(raw))):
        rw, ext = open_stream(obj)
        assert ext == b"dat"
        assert read(rw, 20) == (10, b"latin name")
        assert close(rw) == 0
    with pytest.raises(UnicodeEncodeError):
        open_stream("bad\ud800.png")


@pytest.mark.parametrize("path", ["a\0b", b"a\0b", pathlib.PurePosixPath("a\0b")])
def test_path_with_nul_is_refused(path, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "a").write_bytes(b"the path cut at the NUL")
    with pytest.raises(ValueError, match="contains null characters"):
        open_stream(path)


def test_missing_paths(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(FileNotFoundError) as ei:
        open_stream("nope.png")
    assert str(ei.value) == \
        "No file 'nope.png' found in working directory '%s'." % os.getcwd()
    path = str(tmp_path / "nope.png")
    with pytest.raises(FileNotFoundError) as ei:
        open_stream(path)
    assert str(ei.value) == "No such file or directory: '%s'." % path


@pytest.mark.parametrize("name, ext", [
    ("dir.x/file", b"x/file"),    # the last dot may lie in a directory
    ("file.", None), ("file", None), ("a.tar.gz", b"gz")])
def test_extension(tmp_path, monkeypatch, name, ext):
    monkeypatch.chdir(tmp_path)
    os.makedirs(os.path.dirname(name) or ".", exist_ok=True)
    pathlib.Path(name).write_bytes(b"x")
    rw, got = open_stream(name)
    assert got == ext
    assert close(rw) == 0
    close(from_object(name, None))        # no extension wanted


def test_null_object():
    with pytest.raises(TypeError, match="^Invalid filetype object$"):
        from_null(None, None)
    with pytest.raises(TypeError, match="^Invalid filetype object$"):
        from_file_null(None)


# ---------------------------------------------------------------------------
# File objects
# ---------------------------------------------------------------------------
class ReadOnly:
    def __init__(self, data):
        self.data, self.closed = data, False

    def read(self, n):
        chunk, self.data = self.data[:n], self.data[n:]
        return chunk

    def close(self):
        self.closed = True


class WriteOnly:
    def __init__(self, limit=None):
        self.out, self.limit = bytearray(), limit

    def write(self, b):
        b = bytes(b[:self.limit] if self.limit is not None else b)
        self.out += b
        return len(b)


def test_bytesio_stream():
    f = io.BytesIO(b"0123456789")
    f.seek(3)
    rw, ext = open_stream(f)
    assert ext is None and is_pybacked(rw)
    assert size(rw) == 10 and f.tell() == 3    # size query moves nothing
    assert read(rw, 4) == (4, b"3456")
    assert tell(rw) == 7
    assert seek(rw, -2, 2) == 8
    assert read(rw, 2, size=3) == (0, b"")     # a partial object counts 0
    assert seek(rw, 0, 0) == 0
    assert write(rw, b"ab") == 2
    assert f.getvalue() == b"ab23456789"
    assert close(rw) == 0 and f.closed


def test_object_with_only_read():
    obj = ReadOnly(b"abcdefg")
    rw = from_file_object(obj)
    assert size(rw) == -1 and seek(rw, 0, 0) == -1
    assert write(rw, b"no") == 0
    assert read(rw, 3, size=2) == (3, b"abcdef")
    assert read(rw, 3, size=2)[0] == 0
    assert close(rw) == 0 and obj.closed


def test_object_with_only_write():
    obj = WriteOnly()
    rw = from_file_object(obj)
    assert read(rw, 4)[0] == 0
    assert write(rw, b"hello") == 5
    assert write(rw, b"abcdef", size=3) == 2
    assert obj.out == b"helloabcdef"
    close(rw)


@pytest.mark.parametrize("limit, expected", [(3, 10), (0, 0)])
def test_short_writes(limit, expected):
    # A write that takes part of the data is asked again for the rest; one
    # that takes nothing is reported as a short count.
    obj = WriteOnly(limit)
    rw = from_file_object(obj)
    assert write(rw, b"0123456789") == expected
    assert obj.out == b"0123456789"[:expected]
    close(rw)


@pytest.mark.parametrize("obj", [object(), 3, "text", 12,
                                 type("NotCallable", (), {"read": 1, "write": b""})()])
def test_not_a_file_object(obj):
    with pytest.raises(TypeError, match="^not a file object$"):
        from_file_object(obj)
    with pytest.raises((TypeError, FileNotFoundError)):
        open_stream(obj)


class Faulty(io.RawIOBase):
    """Readable and seekable; the method named `bad` raises, or returns
    `result` when one is given."""

    def __init__(self, bad, result=None):
        self.bad, self.result, self.pos = bad, result, 0

    def _fault(self, name):
        if name == self.bad and self.result is None:
            raise OSError("%s broke" % name)
        return name == self.bad

    def read(self, n=-1):
        return self.result if self._fault("read") else b"r"

    def write(self, b):
        return self.result if self._fault("write") else len(b)

    def seek(self, pos, whence=0):
        if self._fault("seek"):
            return self.result
        self.pos = (0, self.pos, 100)[whence] + pos
        return self.pos

    def tell(self):
        return self.result if self._fault("tell") else self.pos

    def close(self):
        try:
            self._fault("close")
        finally:
            # Broken once: the close of garbage collection then succeeds.
            if self.bad == "close":
                self.bad = None


@pytest.mark.parametrize("bad, result, op, failure", [
    ("read", None, "read", 0),
    ("read", "text", "read", 0),           # not bytes
    ("read", b"x" * 64, "read", 0),        # more than was asked for
    ("write", None, "write", 0),
    ("write", -5, "write", 0),
    ("write", 99, "write", 0),             # more than it was given
    ("seek", None, "seek", -1),
    ("seek", None, "size", -1),
    ("tell", None, "seek", -1),
    ("tell", None, "size", -1),
    ("close", None, "close", -1),
])
def test_python_errors_become_failure_values(capfd, bad, result, op, failure):
    rw = from_file_object(Faulty(bad, result))
    got = {"read": lambda: read(rw, 4)[0], "write": lambda: write(rw, b"abcd"),
           "seek": lambda: seek(rw, 5, 0), "size": lambda: size(rw),
           "close": lambda: close(rw)}[op]()
    assert got == failure
    err = capfd.readouterr().err
    assert "Error" in err                  # the traceback was printed
    if result is None:
        assert "%s broke" % bad in err
        assert SDL.SDL_GetError().decode() == "OSError: %s broke" % bad
    if op != "close":
        assert close(rw) == 0


def test_tell_that_is_no_integer_is_a_quiet_failure(capfd):
    rw = from_file_object(Faulty("tell", result="five"))
    assert seek(rw, 5, 0) == -1
    assert capfd.readouterr().err == ""
    close(rw)


def test_system_exit_in_a_callback_does_not_end_the_process(capfd):
    class Exiting(ReadOnly):
        def read(self, n):
            sys.exit(3)

    rw = from_file_object(Exiting(b""))
    assert read(rw, 4)[0] == 0
    assert "SystemExit" in capfd.readouterr().err
    close(rw)


def test_release_closes_only_an_unshared_object():
    shared = io.BytesIO(b"abc")
    assert release(from_file_object(shared)) == 0
    assert not shared.closed and shared.read() == b"abc"

    closed = []

    class Tracked(io.BytesIO):
        def close(self):
            closed.append(True)
            super().close()

    assert release(from_file_object(Tracked(b"abc"))) == 0
    assert closed == [True]
    with pytest.raises(OSError, match="close broke"):
        release(from_file_object(Faulty("close")))


# --- real files: the descriptor shortcut ------------------------------------
def test_real_file_starts_where_python_left_it(datafile):
    with open(datafile, "rb") as f:
        assert f.read(5) == bytes(range(5))     # buffered: the fd is further
        rw = from_file_object(f)
        assert tell(rw) == 5
        assert read(rw, 3) == (3, bytes([5, 6, 7]))
        assert size(rw) == 256 and tell(rw) == 8
        assert release(rw) == 0                 # f is still referenced here
        assert f.tell() == 8 and f.read(2) == bytes([8, 9])
        rw = from_file_object(f)
    assert close(rw) == 0 and f.closed


def test_real_file_buffered_writes_are_seen(tmp_path):
    path = tmp_path / "w.bin"
    with open(path, "w+b") as f:
        f.write(b"hello world")                # still in Python's buffer
        rw = from_file_object(f)
        assert size(rw) == 11
        assert seek(rw, 6, 0) == 6
        assert read(rw, 5) == (5, b"world")
        # After a write the object's own position rules.
        assert seek(rw, 0, 0) == 0
        assert write(rw, b"J") == 1
        assert tell(rw) == 1
        assert read(rw, 4) == (4, b"ello")
        assert write(rw, b"!") == 1
        assert release(rw) == 0
    assert path.read_bytes() == b"Jello!world"


def test_stream_outlives_a_closed_file(datafile, tmp_path):
    # The caller closes the file; the next open likely reuses its number.
    f = open(datafile, "rb")
    rw = from_file_object(f)
    f.close()
    other = tmp_path / "other"
    other.write_bytes(b"\xee" * 64)
    with open(other, "rb"):
        assert read(rw, 4) in [(4, bytes(range(4))), (0, b"")]
        assert close(rw) == 0


def test_file_wrapper_is_read_through_its_methods(tmp_path):
    # GzipFile forwards fileno() to the compressed file: reading that
    # descriptor directly would hand SDL the compressed bytes.
    path = tmp_path / "z.gz"
    with gzip.open(path, "wb") as g:
        g.write(b"plain text inside")
    with gzip.open(path, "rb") as g:
        rw = from_file_object(g)
        assert read(rw, 64) == (17, b"plain text inside")
        assert release(rw) == 0


# --- threads -----------------------------------------------------------------
def test_streams_used_from_other_threads(datafile):
    payload = bytes(range(256)) * 64
    sources = [io.BytesIO(payload), ReadOnly(payload), open(datafile, "rb")]
    streams = [from_file_object(s) for s in sources]
    results = {}

    def work(i, rw):
        chunks = []
        while True:
            got, data = read(rw, 100)
            if not got:
                break
            chunks.append(data)
        results[i] = b"".join(chunks)

    threads = [threading.Thread(target=work, args=a) for a in enumerate(streams)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(10)
    assert results == {0: payload, 1: payload, 2: bytes(range(256))}
    for rw in streams:
        assert close(rw) == 0


def test_callback_during_interpreter_shutdown():
    # A daemon thread keeps reading a Python-backed stream while the
    # interpreter shuts down: its callbacks must fail, not hang or crash.
    code = r"""
import ctypes, sys, threading, time
sys.path.insert(0, %r)
from _sdlpush import SDL, capsule_slot
import lumora.streamwrap as sw
SDL.SDL_RWread.argtypes = [ctypes.c_void_p] * 2 + [ctypes.c_size_t] * 2
class Endless:
    def read(self, n):
        return b"x" * n
rw = capsule_slot(sw, 4, ctypes.c_void_p, ctypes.py_object)(Endless())
buf = ctypes.create_string_buffer(64)
def spin():
    while True:
        SDL.SDL_RWread(rw, buf, 1, 64)
threading.Thread(target=spin, daemon=True).start()
time.sleep(0.05)
print("done")
""" % os.path.dirname(__file__)
    p = _child.run_py(code, timeout=30)
    assert (p.returncode, p.stdout) == (0, "done\n"), p.stderr
