from typing import Optional

from typing_extensions import disjoint_base

PyBUFFER_SIZEOF: int
PyBUF_SIMPLE: int
PyBUF_WRITABLE: int
PyBUF_FORMAT: int
PyBUF_ND: int
PyBUF_STRIDES: int
PyBUF_C_CONTIGUOUS: int
PyBUF_F_CONTIGUOUS: int
PyBUF_ANY_CONTIGUOUS: int
PyBUF_INDIRECT: int
PyBUF_CONTIG: int
PyBUF_CONTIG_RO: int
PyBUF_STRIDED: int
PyBUF_STRIDED_RO: int
PyBUF_RECORDS: int
PyBUF_RECORDS_RO: int
PyBUF_FULL: int
PyBUF_FULL_RO: int

@disjoint_base
class Py_buffer:
    # The fields of the wrapped view; pointers read as addresses (None for
    # null).  They raise AttributeError while no view is allocated.
    obj: object
    buf: Optional[int]
    len: int
    readonly: bool
    format: Optional[int]
    ndim: int
    shape: Optional[int]
    strides: Optional[int]
    suboffsets: Optional[int]
    itemsize: int
    internal: Optional[int]
    def __init__(self, buffer_address: Optional[int] = None, filled: bool = False,
                 preserve: bool = False) -> None: ...
    def __bool__(self) -> bool: ...
    def get_buffer(self, obj: object, flags: int = 0) -> None: ...
    def release_buffer(self) -> None: ...

Py_bufferType = Py_buffer

class BufferMixin:
    # Subclasses export a buffer by overriding these two hooks, which get
    # the view to fill (and its request flags) as a Py_buffer.
    def _get_buffer(self, view: Py_buffer, flags: int, /) -> None: ...
    def _release_buffer(self, view: Py_buffer, /) -> None: ...

BufferMixinType = BufferMixin
