import os
from typing import IO, Union, overload

from lumora.surface import Surface

_PathLike = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]

@overload
def load_extended(filename: _PathLike, /) -> Surface: ...
@overload
def load_extended(fileobj: IO[bytes], namehint: str = "", /) -> Surface: ...
@overload
def save_extended(surface: Surface, filename: _PathLike, /) -> None: ...
@overload
def save_extended(surface: Surface, fileobj: IO[bytes], namehint: str = "", /) -> None: ...
