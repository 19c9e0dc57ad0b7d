from typing import Tuple

THECOLORS: dict[str, Tuple[int, int, int, int]]
