from typing_extensions import disjoint_base

@disjoint_base
class SurfLifeLock: ...

SurfLifeLockType = SurfLifeLock
