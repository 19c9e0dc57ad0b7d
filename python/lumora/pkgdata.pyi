from typing import BinaryIO

__all__ = ["getResource"]

def getResource(identifier: str, pkgname: str = ...) -> BinaryIO: ...
