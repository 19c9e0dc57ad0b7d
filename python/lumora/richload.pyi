import os
from typing import IO, Union

from lumora.surface import Surface

_PathLike = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]

# The extended loader and saver behind lumora.image (see its overloads);
# a file object may come with a name hint such as "x.png".
def load_extended(file: Union[_PathLike, IO[bytes]], namehint: str = "", /) -> Surface: ...
def save_extended(surface: Surface, file: Union[_PathLike, IO[bytes]], namehint: str = "", /) -> None: ...
