"""lumora.rect: construction, coercion, attributes, protocols, geometry,
collisions and clipline.

Geometry and collision results are checked against small Python models of
the rules written here, on random rectangles with negative and zero sizes;
clipline against SDL's own SDL_IntersectRectAndLine called through ctypes.
"""
import copy
import ctypes
import pickle
import random
import weakref

import pytest

from lumora.rect import Rect, RectType

INT_MIN, INT_MAX = -2 ** 31, 2 ** 31 - 1
RANGE_MSG = ("invalid rect assignment, expected value between "
             "-2147483648 < x < 2147483647")


def wrap(v):
    return (v + 2 ** 31) % 2 ** 32 - 2 ** 31


def tdiv(a, b):  # C division, truncating toward zero
    q = abs(a) // abs(b)
    return q if (a < 0) == (b < 0) else -q


class Sub(Rect):
    inits = 0

    def __init__(self, *args):
        Sub.inits += 1
        super().__init__(*args)


class Carrier:
    def __init__(self, rect):
        self.rect = rect


class MethodCarrier:
    def __init__(self, value):
        self.value = value

    def rect(self):
        return self.value


# ---------------------------------------------------------------------------
# Construction and coercion
# ---------------------------------------------------------------------------

@pytest.mark.parametrize("args", [
    (1, 2, 3, 4), ((1, 2), (3, 4)), ([1, 2, 3, 4],), (((1, 2, 3, 4),),),
    ((((1, 2), (3, 4)),),), (Rect(1, 2, 3, 4),), ((Rect(1, 2, 3, 4),),),
    (Carrier(Rect(1, 2, 3, 4)),), (MethodCarrier((1, 2, 3, 4)),),
    (Carrier(Carrier([1, 2, 3, 4])),), (1.7, 2.2, 3.9, 4.0),
])
def test_construction_forms(args):
    r = Rect(*args)
    assert (r.x, r.y, r.w, r.h) == (1, 2, 3, 4)
    assert repr(r) == str(r) == "<rect(1, 2, 3, 4)>"


@pytest.mark.parametrize("args", [
    (), (1, 2, 3), (1, 2, 3, 4, 5), ([[1, 2, 3, 4]],), ((1, 2, 3, "x"),),
    ((1, 2, 3, 2 ** 31),), (((1, 2, 3), (3, 4)),), ("abcd",), (None,),
    (MethodCarrier(None),), (Carrier("nope"),),
])
def test_construction_refused(args):
    with pytest.raises(TypeError, match="^Argument must be rect style object$"):
        Rect(*args)


def test_rect_attribute_cycles_are_refused():
    class Selfish:
        @property
        def rect(self):
            return self

    a, b = Carrier(None), Carrier(None)
    a.rect, b.rect = b, a
    for o in (Selfish(), a):
        with pytest.raises(TypeError, match="^Argument must be rect style"):
            Rect(o)


def test_rect_method_result_is_copied():
    # The method returns a fresh Rect that dies as soon as coercion drops
    # it; the values must still come out right.
    r = Rect(MethodCarrier(Rect(5, 6, 7, 8)))
    assert r == (5, 6, 7, 8)
    c = MethodCarrier(Rect(1, 1, 9, 9))
    assert [Rect(0, 0, 3, 3).colliderect(c) for _ in range(3)] == [True] * 3


def test_coercion_survives_list_changed_by_index():
    lst = []

    class Evil:
        def __index__(self):
            lst.clear()
            return 3

    lst.extend([Evil(), 1, 2, 3])
    # The list is emptied while its first item is converted; whatever the
    # answer, no freed item may be read.
    try:
        Rect(lst)
    except TypeError:
        pass
    lst2 = []

    class Evil2:
        def __index__(self):
            lst2[:] = [0]
            return 1

    lst2.extend([(Evil2(), 2), (3, 4)])
    try:
        Rect(lst2)
    except TypeError:
        pass


def test_subclass_construction_runs_init():
    Sub.inits = 0
    s = Sub(1, 2, 3, 4)
    assert Sub.inits == 1 and type(s) is Sub and s == (1, 2, 3, 4)


def test_type_basics():
    assert Rect is RectType
    assert Rect.__hash__ is None
    with pytest.raises(TypeError):
        hash(Rect(0, 0, 1, 1))
    r = Rect(1, 2, 3, 4)
    assert weakref.ref(r)() is r
    assert list(r) == [1, 2, 3, 4] and len(r) == 4


@pytest.mark.parametrize("w,h,truth", [(0, 5, False), (5, 0, False),
                                       (-1, -1, True), (1, 1, True)])
def test_truth(w, h, truth):
    assert bool(Rect(0, 0, w, h)) is truth


# ---------------------------------------------------------------------------
# Attributes
# ---------------------------------------------------------------------------

def model_get(x, y, w, h):
    cx, cy = wrap(x + (w >> 1)), wrap(y + (h >> 1))
    r, b = wrap(x + w), wrap(y + h)
    return dict(x=x, y=y, w=w, h=h, left=x, top=y, width=w, height=h,
                right=r, bottom=b, centerx=cx, centery=cy, topleft=(x, y),
                topright=(r, y), bottomleft=(x, b), bottomright=(r, b),
                midtop=(cx, y), midleft=(x, cy), midbottom=(cx, b),
                midright=(r, cy), size=(w, h), center=(cx, cy))


@pytest.mark.parametrize("box", [(3, 4, 5, 7), (-3, 4, -5, -7), (0, 0, 0, 0),
                                 (INT_MAX, INT_MIN, INT_MAX, -1)])
def test_attribute_getters(box):
    r = Rect(box)
    for name, value in model_get(*box).items():
        assert getattr(r, name) == value, name


# Setting each attribute to value v (or (a, b)) must leave the attribute
# reading back v (size-keeping setters) on rects with odd and negative sizes.
SCALARS = ["x", "y", "w", "h", "left", "top", "width", "height", "right",
           "bottom", "centerx", "centery"]
PAIRS = ["topleft", "topright", "bottomleft", "bottomright", "midtop",
         "midleft", "midbottom", "midright", "size", "center"]


@pytest.mark.parametrize("box", [(3, 4, 5, 7), (10, 10, -5, -5)])
@pytest.mark.parametrize("name", SCALARS + PAIRS)
def test_attribute_setters_round_trip(box, name):
    r = Rect(box)
    value = (17, -9) if name in PAIRS else -23
    setattr(r, name, value)
    assert getattr(r, name) == value
    if name not in ("w", "h", "width", "height", "size"):
        assert r.size == box[2:]


def test_center_uses_floor_halves():
    r = Rect(0, 0, 5, 5)
    r.center = (10, 10)
    assert r.topleft == (8, 8)
    r = Rect(0, 0, -5, -5)
    r.center = (10, 10)
    assert r.topleft == (13, 13)


@pytest.mark.parametrize("value,stored", [(2.5, 3), (-2.5, -3), (2.4, 2),
                                          (True, 1), (INT_MIN, INT_MIN)])
def test_scalar_setter_rounds(value, stored):
    r = Rect(0, 0, 1, 1)
    r.x = value
    assert r.x == stored


@pytest.mark.parametrize("value,msg", [
    (2 ** 31, RANGE_MSG), (-2 ** 31 - 1, RANGE_MSG), (float("nan"), RANGE_MSG),
    (float("inf"), RANGE_MSG), ("a", "invalid rect assignment"),
    (None, "invalid rect assignment")])
def test_scalar_setter_refuses(value, msg):
    r = Rect(1, 2, 3, 4)
    with pytest.raises(TypeError, match="^%s$" % msg):
        r.centerx = value
    assert r == (1, 2, 3, 4)


@pytest.mark.parametrize("value,msg", [
    ((1, 2 ** 31), RANGE_MSG), ((float("nan"), 0), RANGE_MSG),
    ((1, 2, 3), "invalid rect assignment"), (5, "invalid rect assignment")])
def test_pair_setter_refuses_and_changes_nothing(value, msg):
    r = Rect(1, 2, 3, 4)
    with pytest.raises(TypeError, match="^%s$" % msg.replace("(", r"\(")):
        r.center = value
    assert r == (1, 2, 3, 4)


def test_attribute_deletion_and_read_only():
    r = Rect(1, 2, 3, 4)
    with pytest.raises(AttributeError, match="^can't delete attribute$"):
        del r.x
    with pytest.raises(AttributeError, match="^can't delete attribute$"):
        del r.center
    assert r.__safe_for_unpickling__ is True
    with pytest.raises(AttributeError):
        r.__safe_for_unpickling__ = False


def test_derived_sums_wrap_in_32_bits():
    r = Rect(INT_MAX, INT_MAX, 1, 2)
    assert r.right == INT_MIN and r.bottom == INT_MIN + 1
    r.right = INT_MIN
    assert r.x == INT_MAX


# ---------------------------------------------------------------------------
# Sequence and mapping protocols
# ---------------------------------------------------------------------------

def test_indexing_and_slicing():
    r = Rect(1, 2, 3, 4)
    assert [r[i] for i in range(-4, 4)] == [1, 2, 3, 4] * 2
    assert r[1:3] == [2, 3] and r[::-1] == [4, 3, 2, 1] and r[...] == [1, 2, 3, 4]
    for bad in (4, -5, 2 ** 80):
        with pytest.raises(IndexError, match="^Invalid rect Index$"):
            r[bad]
    with pytest.raises(TypeError, match="^Invalid Rect slice$"):
        r["x"]


def test_item_assignment():
    r = Rect(1, 2, 3, 4)
    r[-1] = 9
    r[0] = 2.9
    assert r == (2, 2, 3, 9)
    with pytest.raises(TypeError, match="^Must assign numeric values$"):
        r[0] = "a"
    with pytest.raises(TypeError, match="^item deletion is not supported$"):
        del r[0]
    with pytest.raises(IndexError, match="^Invalid rect Index$"):
        r[4] = 1


def test_ellipsis_and_slice_assignment():
    r = Rect(1, 2, 3, 4)
    r[...] = 7
    assert r == (7, 7, 7, 7)
    r[...] = Rect(1, 2, 3, 4)
    assert r == (1, 2, 3, 4)
    r[0:2] = (5, 6)
    assert r == (5, 6, 3, 4)
    r[::2] = 0
    assert r == (0, 6, 0, 4)
    with pytest.raises(TypeError, match="^Expected a length 2 sequence$"):
        r[0:2] = (5, 6, 7)
    with pytest.raises(TypeError, match="^Expect a length 4 sequence$"):
        r[...] = (1, 2)
    with pytest.raises(TypeError, match="^Expected an integer between "
                       "-2147483648 and 2147483647$"):
        r[...] = (1, 2, 3, 2 ** 40)
    with pytest.raises(TypeError, match="^Expected an integer or sequence$"):
        r[1:2] = None
    assert r == (0, 6, 0, 4)


def test_in_operator():
    r = Rect(1, 2, 3, 4)
    assert 3 in r and 5 not in r and True in r
    assert 2 ** 70 not in r and -2 ** 70 not in r and 2 ** 31 + 1 not in r
    assert (1, 2, 1, 1) in r and Rect(4, 2, 0, 0) not in r
    with pytest.raises(TypeError, match=r"^'in <lumora.Rect>' requires rect "
                       "style object or int as left operand$"):
        "x" in r


def test_comparisons():
    r = Rect(1, 2, 3, 4)
    assert r == (1, 2, 3, 4) and (1, 2, 3, 4) == r and r != Rect(1, 2, 3, 5)
    assert Rect(1, 2, 3, 4) < Rect(1, 2, 4, 0) <= Rect(1, 2, 4, 0)
    assert Rect(-1, 0, 0, 0) < r and r >= r and r > (0, 9, 9, 9)
    assert (r == "abc") is False and (r != None) is True  # noqa: E711


# ---------------------------------------------------------------------------
# Copies and pickling
# ---------------------------------------------------------------------------

def test_copies_keep_subclass_without_init():
    s = Sub(1, 2, 3, 4)
    Sub.inits = 0
    for c in (s.copy(), copy.copy(s), s.move(1, 1), s.clip(s), s.union(s),
              s.inflate(2, 2), s.clamp(s), s.fit(s), s.scale_by(2),
              s.unionall([s])):
        assert type(c) is Sub
    assert Sub.inits == 0


def test_pickle_and_reduce():
    r = Rect(1, -2, 3, 4)
    assert r.__reduce__() == (Rect, (1, -2, 3, 4))
    for obj in (r, Sub(5, 6, 7, 8)):
        back = pickle.loads(pickle.dumps(obj))
        assert type(back) is type(obj) and back == obj
    assert copy.deepcopy(r) == r


def test_update():
    r = Rect(0, 0, 0, 0)
    r.update(1, 2, 3, 4)
    assert r == (1, 2, 3, 4)
    r.update((5, 6), (7, 8))
    assert r == (5, 6, 7, 8)
    r.update(Carrier((1, 1, 1, 1)))
    assert r == (1, 1, 1, 1)
    with pytest.raises(TypeError, match="^Argument must be rect style object$"):
        r.update(1, 2, 3)
    assert r == (1, 1, 1, 1)


# ---------------------------------------------------------------------------
# Geometry against Python models of the rules
# ---------------------------------------------------------------------------

def m_clip(a, b):
    def axis(p, n, op, on):
        if op <= p < op + on:
            lo = p
        elif p <= op < p + n:
            lo = op
        else:
            return None
        if op < p + n <= op + on:
            return lo, p + n - lo
        if p < op + on <= p + n:
            return lo, op + on - lo
        return None
    hx, hy = axis(a[0], a[2], b[0], b[2]), axis(a[1], a[3], b[1], b[3])
    if hx is None or hy is None:
        return (a[0], a[1], 0, 0)
    return (hx[0], hy[0], hx[1], hy[1])


def m_clamp(a, b):
    def axis(p, n, op, on):
        if n >= on:
            return op + tdiv(on, 2) - tdiv(n, 2)
        if p < op:
            return op
        if p + n > op + on:
            return op + on - n
        return p
    return (axis(a[0], a[2], b[0], b[2]), axis(a[1], a[3], b[1], b[3]),
            a[2], a[3])


def m_union(a, b):
    left, top = min(a[0], b[0]), min(a[1], b[1])
    right = max(a[0] + a[2], b[0] + b[2])
    bottom = max(a[1] + a[3], b[1] + b[3])
    return (left, top, right - left, bottom - top)


def m_contains(a, b):
    return (a[0] <= b[0] and a[1] <= b[1] and b[0] + b[2] <= a[0] + a[2]
            and b[1] + b[3] <= a[1] + a[3] and b[0] < a[0] + a[2]
            and b[1] < a[1] + a[3])


def m_overlap(a, b):
    if not (a[2] and a[3] and b[2] and b[3]):
        return False

    def ext(p, n):
        return min(p, p + n), max(p, p + n)
    ax, ay, bx, by = ext(a[0], a[2]), ext(a[1], a[3]), ext(b[0], b[2]), \
        ext(b[1], b[3])
    return ax[0] < bx[1] and bx[0] < ax[1] and ay[0] < by[1] and by[0] < ay[1]


def boxes(n, seed, lo=-6, hi=6):
    rnd = random.Random(seed)
    return [tuple(rnd.randint(lo, hi) for _ in range(4)) for _ in range(n)]


def test_geometry_matches_models():
    pairs = list(zip(boxes(3000, 1), boxes(3000, 2)))
    for a, b in pairs:
        ra = Rect(a)
        assert ra.clip(b) == m_clip(a, b), (a, b)
        assert ra.clamp(b) == m_clamp(a, b), (a, b)
        assert ra.union(b) == m_union(a, b), (a, b)
        assert ra.contains(b) is m_contains(a, b), (a, b)
        assert ra.colliderect(b) is m_overlap(a, b), (a, b)
        assert ra.move(b[0], b[1]) == (a[0] + b[0], a[1] + b[1], a[2], a[3])
        assert ra.inflate(b[:2]) == (a[0] - tdiv(b[0], 2), a[1] - tdiv(b[1], 2),
                                     a[2] + b[0], a[3] + b[1])
        assert ra.collidepoint(b[0], b[1]) is (
            a[0] <= b[0] < a[0] + a[2] and a[1] <= b[1] < a[1] + a[3])


def test_in_place_forms_match_copying_forms():
    for a, b in zip(boxes(300, 3), boxes(300, 4)):
        for name, args in [("move", b[:2]), ("inflate", b[2:]), ("clamp", (b,)),
                           ("union", (b,)), ("scale_by", (1.5, 0.5)),
                           ("unionall", ([b, a],))]:
            r = Rect(a)
            res = getattr(r, name + "_ip")(*args)
            assert res is None and r == getattr(Rect(a), name)(*args)


@pytest.mark.parametrize("call,expected", [
    (lambda: Rect(0, 0, 10, 10).clip(Rect(20, 20, 5, 5)), (0, 0, 0, 0)),
    (lambda: Rect(0, 0, 10, 10).clip(Rect(5, 5, 10, 10)), (5, 5, 5, 5)),
    (lambda: Rect(3, 3, 10, 10).clip(Rect(13, 0, 5, 50)), (3, 3, 0, 0)),
    (lambda: Rect(0, 0, 10, 10).inflate(-3, -3), (1, 1, 7, 7)),
    (lambda: Rect(0, 0, 10, 10).inflate(3, 3), (-1, -1, 13, 13)),
    (lambda: Rect(0, 0, 10, 10).move((2, -3)), (2, -3, 10, 10)),
    (lambda: Rect(0, 0, 20, 5).clamp(Rect(0, 0, 10, 10)), (-5, 0, 20, 5)),
    (lambda: Rect(0, 0, 10, 10).scale_by(2), (-5, -5, 20, 20)),
    (lambda: Rect(0, 0, 10, 10).scale_by(2, 0), (-5, -5, 20, 20)),
    (lambda: Rect(0, 0, 10, 10).scale_by(x=2, y=-3), (-5, -10, 20, 30)),
    (lambda: Rect(0, 0, 10, 10).scale_by(-2), (-5, -5, 20, 20)),
    (lambda: Rect(0, 0, 10, 10).scale_by(scale_by=(0.5, 2)), (2, -5, 5, 20)),
    (lambda: Rect(0, 0, 10, 10).scale_by(1, float("nan")), (0, 0, 10, 10)),
    (lambda: Rect(0, 0, 40, 20).fit(Rect(0, 0, 10, 10)), (0, 2, 10, 5)),
    (lambda: Rect(5, 5, 10, 30).fit(Rect(0, 0, 30, 30)), (10, 0, 10, 30)),
    (lambda: Rect(1, 2, 3, 4).unionall([]), (1, 2, 3, 4)),
    (lambda: Rect(1, 2, 3, 4).unionall(((0, 0, 1, 1), Rect(5, 5, 5, 5))),
     (0, 0, 10, 10)),
    (lambda: Rect(1, 2, 3, 4).unionall(rect=[(9, 9, 1, 1)]), (1, 2, 9, 8)),
])
def test_geometry_examples(call, expected):
    assert call() == expected


def test_normalize():
    r = Rect(10, 10, -5, -3)
    assert r.normalize() is None and r == (5, 7, 5, 3)
    r = Rect(INT_MIN, 0, -1, 1)
    r.normalize()
    assert r == (INT_MAX, 0, 1, 1)


@pytest.mark.parametrize("call,expected", [
    # A zero-size receiver or argument gives NaN or infinite ratios, and
    # out-of-range or NaN scale factors: all saturate, NaN becomes 0.
    (lambda: Rect(0, 0, 0, 0).fit(Rect(0, 0, 10, 10)), (5, 5, 0, 0)),
    (lambda: Rect(0, 0, 10, 10).fit(Rect(0, 0, 0, 0)), (0, 0, 0, 0)),
    (lambda: Rect(0, 0, 10, 10).scale_by(float("nan")), (0, 0, 0, 0)),
    (lambda: Rect(0, 0, 10, 10).scale_by(1e10),
     (INT_MIN, INT_MIN, INT_MAX, INT_MAX)),
    (lambda: Rect(0, 0, 10, 10).scale_by(1e300),
     (INT_MIN, INT_MIN, INT_MAX, INT_MAX)),
    (lambda: Rect(0, 0, 10, 10).scale_by(float("inf"), 1),
     (INT_MIN, 0, INT_MAX, 10)),
])
def test_float_conversions_saturate(call, expected):
    assert call() == expected


def test_extreme_sums_wrap():
    r = Rect(INT_MAX, 0, 1, 1)
    assert r.move(1, 0) == (INT_MIN, 0, 1, 1)
    assert r.inflate(2 ** 31 - 1, 0).w == INT_MIN
    assert Rect(INT_MIN, 0, 1, 1).union(Rect(INT_MAX, 0, 1, 1)).w == 0
    # Predicates judge the true extent, not a wrapped one.
    big = Rect(INT_MAX - 10, 0, 20, 10)
    assert big.collidepoint(INT_MAX, 5)
    assert big.colliderect(Rect(INT_MAX - 1, 0, 1, 1))


@pytest.mark.parametrize("method", ["clip", "clamp", "clamp_ip", "fit", "union",
                                    "union_ip", "contains"])
@pytest.mark.parametrize("args", [(), (1, 2, 3), ("abcd",), (None,)])
def test_rect_argument_refused(method, args):
    r = Rect(1, 2, 3, 4)
    with pytest.raises(TypeError, match="^Argument must be rect style object$"):
        getattr(r, method)(*args)
    assert r == (1, 2, 3, 4)


@pytest.mark.parametrize("method", ["move", "move_ip", "inflate", "inflate_ip",
                                    "collidepoint"])
@pytest.mark.parametrize("args", [(), (1,), (1, 2, 3), ("ab",), (1, "a"),
                                  ((1, 2, 3),)])
def test_pair_argument_refused(method, args):
    r = Rect(1, 2, 3, 4)
    with pytest.raises(TypeError, match="^argument must contain two numbers$"):
        getattr(r, method)(*args)
    assert r == (1, 2, 3, 4)


def test_scale_by_errors_and_callers_kwargs_untouched():
    r = Rect(0, 0, 10, 10)
    kw = {"scale_by": (2, 3), "x": 1}
    with pytest.raises(TypeError, match="^The 'scale_by' keyword cannot be "
                       "combined with other arguments.$"):
        r.scale_by_ip(**kw)
    kw = {"scale_by": (2, 3)}
    assert r.scale_by(**kw) == (-5, -10, 20, 30)
    assert kw == {"scale_by": (2, 3)}
    for bad in [dict(scale_by=5), dict(scale_by=(1, "a"))]:
        with pytest.raises(TypeError, match="^number pair expected$"):
            r.scale_by(**bad)
    for args, kwargs in [((), {}), (("a",), {}), ((1, 2, 3), {}),
                         ((1,), {"z": 2}), ((2,), {"scale_by": (1, 1)})]:
        with pytest.raises(TypeError, match="^Float values expected.$"):
            r.scale_by_ip(*args, **kwargs)
    assert r == (0, 0, 10, 10)


def test_unionall_errors_leave_self_unchanged():
    r = Rect(1, 2, 3, 4)
    for bad in ([1], 5, [(0, 0, 1, 1), "x"], "abcd"):
        with pytest.raises(TypeError, match="^Argument must be a sequence of "
                           "rectstyle objects.$"):
            r.unionall_ip(bad)
    assert r == (1, 2, 3, 4)
    r.unionall_ip(rects=[(0, 0, 1, 1)])
    assert r == (0, 0, 4, 6)
    with pytest.raises(TypeError):
        r.unionall_ip(rect=[])


# ---------------------------------------------------------------------------
# Collision queries
# ---------------------------------------------------------------------------

@pytest.mark.parametrize("args,expected", [
    ((Rect(10, 0, 5, 5),), False), ((Rect(9, 9, 5, 5),), True),
    (((9, 9), (5, 5)), True), ((9, 9, 5, 5), True), ((10, 0, 5, 5), False),
    (((5, 5, 0, 3),), False), ((Carrier((1, 1, 1, 1)),), True),
])
def test_colliderect_forms(args, expected):
    assert Rect(0, 0, 10, 10).colliderect(*args) is expected


def test_colliderect_special_cases():
    z = Rect(0, 0, 0, 10)
    assert not z.colliderect(z)
    assert Rect(10, 10, -5, -5).colliderect(Rect(6, 6, 2, 2))


@pytest.mark.parametrize("args,exc,msg", [
    ((1, 2, 3), ValueError,
     "Incorrect arguments number, must be either 1, 2 or 4"),
    ((), ValueError, "Incorrect arguments number, must be either 1, 2 or 4"),
    (("abcd",), TypeError, "Invalid rect, all 4 fields must be numeric"),
    (((1, 2), (3,)), TypeError, "Invalid rect, all 4 fields must be numeric"),
    (("a", 1, 1, 1), TypeError, "Invalid x value for rect, must be numeric"),
    ((1, None, 1, 1), TypeError, "Invalid y value for rect, must be numeric"),
    ((1, 1, 2 ** 40, 1), TypeError, "Invalid w value for rect, must be numeric"),
    ((1, 1, 1, "h"), TypeError, "Invalid h value for rect, must be numeric"),
])
def test_colliderect_errors(args, exc, msg):
    with pytest.raises(exc, match="^%s$" % msg):
        Rect(0, 0, 10, 10).colliderect(*args)


def test_collidepoint():
    r = Rect(0, 0, 10, 10)
    assert not r.collidepoint(10, 5) and r.collidepoint((0, 0))
    assert not Rect(0, 0, -5, 5).collidepoint(-1, 1)


class SeqOnly:
    """A sequence that is neither a list nor a tuple."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


@pytest.mark.parametrize("wrap_seq", [list, tuple, SeqOnly])
def test_collidelist_and_all_match_model(wrap_seq):
    items = boxes(500, 5, -20, 20)
    seq = [Rect(b) if i % 3 else b for i, b in enumerate(items)]
    for a in boxes(40, 6, -20, 20):
        expect = [i for i, b in enumerate(items) if m_overlap(a, b)]
        assert Rect(a).collidelistall(wrap_seq(seq)) == expect
        assert Rect(a).collidelist(rects=wrap_seq(seq)) == (
            expect[0] if expect else -1)


def test_collidelist_errors():
    r = Rect(0, 0, 10, 10)
    assert r.collidelist([]) == -1 and r.collidelistall(()) == []
    for m in (r.collidelist, r.collidelistall):
        for bad in (5, [None, Rect(0, 0, 1, 1)], [(1, 2)], "abcd"):
            with pytest.raises(TypeError, match="^Argument must be a sequence "
                               "of rectstyle objects.$"):
                m(bad)
        with pytest.raises(TypeError):
            m()


def test_collidelistall_list_shrinking_during_coercion():
    lst = []

    class Shrinker:
        def rect(self):
            del lst[1:]
            return (0, 0, 5, 5)

    lst.extend([Shrinker(), Rect(1, 1, 1, 1), Rect(2, 2, 1, 1)])
    with pytest.raises(TypeError, match="^Argument must be a sequence"):
        Rect(0, 0, 10, 10).collidelistall(lst)


def test_collidedict():
    r = Rect(0, 0, 10, 10)
    d = {(1, 1, 2, 2): "a", (20, 20, 2, 2): "b", (5, 5, 9, 9): "c"}
    assert r.collidedict(d) == ((1, 1, 2, 2), "a")
    assert r.collidedictall(d) == [((1, 1, 2, 2), "a"), ((5, 5, 9, 9), "c")]
    v = {"a": Rect(50, 50, 1, 1), "b": (3, 3, 1, 1)}
    assert r.collidedict(v, 1) == ("b", (3, 3, 1, 1))
    assert r.collidedictall(rect_dict=v, values=True) == [("b", (3, 3, 1, 1))]
    assert r.collidedict({}, 1) is None and r.collidedictall({}) == []
    assert r.collidedict({(20, 20, 1, 1): 0}) is None
    with pytest.raises(TypeError, match="^first argument must be a dict$"):
        r.collidedict([(1, 1, 1, 1)])
    with pytest.raises(TypeError, match="^dict must have rectstyle keys$"):
        r.collidedictall({"k": (1, 1, 1, 1)})
    with pytest.raises(TypeError, match="^dict must have rectstyle values$"):
        r.collidedict({(1, 1, 1, 1): "v"}, values=1)


def test_collidedict_survives_dict_changed_by_coercion():
    d = {}

    class Clearing:
        def rect(self):
            d.clear()
            return (1, 1, 1, 1)

    for all_ in (False, True):
        key = Clearing()
        d.clear()
        d[(50, 50, 1, 1)] = Clearing()
        d[key] = "only"
        for _ in range(20):
            d[(90, 90, 1, 1 + _)] = [0] * 100
        r = Rect(0, 0, 10, 10)
        res = r.collidedictall(d) if all_ else r.collidedict(d)
        hit = ((key, "only"),)
        assert (res == list(hit)) if all_ else (res == hit[0])


def test_collideobjects():
    class Sprite:
        def __init__(self, *box):
            self.r = Rect(box)

    objs = [Sprite(20, 20, 1, 1), Sprite(1, 1, 1, 1), Sprite(2, 2, 3, 3)]
    r = Rect(0, 0, 10, 10)
    assert r.collideobjects(objs, key=lambda o: o.r) is objs[1]
    assert r.collideobjectsall(objs, key=lambda o: o.r) == objs[1:]
    plain = [(20, 20, 1, 1), Carrier((5, 5, 1, 1))]
    assert r.collideobjects(plain, key=None) is plain[1]
    assert r.collideobjectsall(plain) == [plain[1]]
    assert r.collideobjects([]) is None and r.collideobjectsall([]) == []


@pytest.mark.parametrize("args,kwargs,exc,msg", [
    ((5,), {}, TypeError, "Argument must be a sequence of objects."),
    (([],), {"key": 5}, TypeError,
     "Key function must be callable with one argument."),
    (([object()],), {}, TypeError,
     "Sequence must contain rect or rect-like objects"),
    (([1],), {"key": lambda o: "x"}, TypeError,
     "Key function must return rect or rect-like objects"),
    (([1],), {"key": lambda o: 1 / 0}, ZeroDivisionError, None),
    (([1], None), {}, TypeError, None),  # key is keyword-only
])
def test_collideobjects_errors(args, kwargs, exc, msg):
    for m in (Rect(0, 0, 5, 5).collideobjects, Rect(0, 0, 5, 5).collideobjectsall):
        with pytest.raises(exc, match=None if msg is None else "^%s$" % msg):
            m(*args, **kwargs)


# ---------------------------------------------------------------------------
# clipline
# ---------------------------------------------------------------------------

try:
    _SDL = ctypes.CDLL("libSDL2-2.0.so.0")
except OSError:  # pragma: no cover
    _SDL = None


class _SDLRect(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("w", ctypes.c_int),
                ("h", ctypes.c_int)]


def sdl_clipline(box, x1, y1, x2, y2):
    x, y, w, h = box
    if w < 0:
        x, w = x + w, -w
    if h < 0:
        y, h = y + h, -h
    c = [ctypes.c_int(v) for v in (x1, y1, x2, y2)]
    if not _SDL.SDL_IntersectRectAndLine(ctypes.byref(_SDLRect(x, y, w, h)),
                                         *[ctypes.byref(v) for v in c]):
        return ()
    return ((c[0].value, c[1].value), (c[2].value, c[3].value))


@pytest.mark.skipif(_SDL is None, reason="SDL2 library not found")
def test_clipline_matches_sdl():
    rnd = random.Random(9)
    for _ in range(3000):
        box = tuple(rnd.randint(-30, 30) for _ in range(4))
        line = [rnd.randint(-60, 60) for _ in range(4)]
        if rnd.random() < 0.2:
            line[3] = line[1]
        assert Rect(box).clipline(*line) == sdl_clipline(box, *line), (box, line)


def test_clipline_far_coordinates():
    r = Rect(0, 0, 10, 10)
    assert r.clipline(-10 ** 6, -10 ** 6, 10 ** 6, 10 ** 6) == ((0, 0), (9, 9))
    assert r.clipline(INT_MIN, 5, INT_MAX, 5) == ((0, 5), (9, 5))
    assert r.clipline(INT_MIN, INT_MIN, INT_MAX, INT_MAX) == ((0, 0), (9, 9))
    assert r.clipline(80251, 68964, -85543, -76241) == ()
    big = Rect(INT_MIN, INT_MIN, INT_MAX, INT_MAX)
    assert big.clipline(-5, -5, 5, 5) == ((-5, -5), (-2, -2))


@pytest.mark.parametrize("args,kwargs", [
    ((-5, 5, 15, 5), {}), (((-5, 5), (15, 5)), {}), (((-5, 5, 15, 5),), {}),
    ((((-5, 5), (15, 5)),), {}), ((), {"rect_arg": (-5, 5, 15, 5)}),
    ((), {"rect_arg": ((-5, 5), (15, 5))}),
    ((), {"first_coordinate": (-5, 5), "second_coordinate": (15, 5)}),
    ((), {"x1": -5, "x2": 5, "x3": 15, "x4": 5}),
])
def test_clipline_forms(args, kwargs):
    assert Rect(0, 0, 10, 10).clipline(*args, **kwargs) == ((0, 5), (9, 5))


def test_clipline_results():
    r = Rect(0, 0, 10, 10)
    assert r.clipline(20, 20, 30, 30) == ()
    assert Rect(10, 10, -10, -10).clipline(-5, 5, 15, 5) == ((0, 5), (9, 5))
    assert Rect(0, 0, 0, 10).clipline(0, 0, 5, 5) == ()
    kw = {"first_coordinate": (0, 0), "second_coordinate": (5, 5)}
    r.clipline(**kw)
    assert kw == {"first_coordinate": (0, 0), "second_coordinate": (5, 5)}


@pytest.mark.parametrize("args,kwargs,msg", [
    ((1, 2, 3), {}, r"clipline\(\) takes 1, 2, or 4 arguments \(3 given\)"),
    (("a", 2, 3, 4), {}, "number expected for first argument"),
    ((1, 2, 3, None), {}, "number expected for fourth argument"),
    (((1, 2, 3), (1, 2)), {}, "number pair expected for first argument"),
    (((1, 2), 5), {}, "number pair expected for second argument"),
    (((1, 2, 3),), {}, r"sequence argument takes 2 or 4 items \(3 given\)"),
    (((1, 2, "x", 4),), {}, "number expected for third argument"),
    (((5, (1, 2)),), {}, "number pair expected for first argument"),
    ((), {"first_coordinate": (0, 0), "second_coordinate": (1, 1), "x1": 0},
     "Only 2 keyword argument can be passed when using 'first_coordinate' "
     "and 'second_coordinate'"),
    ((), {"first_coordinate": 1, "second_coordinate": (1, 1)},
     "number pair expected for first argument"),
    ((), {"first_coordinate": (1, 1), "second_coordinate": (1,)},
     "number pair expected for second argument"),
    ((), {"rect_arg": (0, 0, 1, 1), "x2": 0},
     "Only 1 keyword argument can be passed when using 'rect_arg"),
    ((), {"rect_arg": (0, 0, 1)},
     r"sequence argument takes 2 or 4 items \(3 given\)"),
    ((), {"first_coordinate": (0, 0)}, None),
])
def test_clipline_errors(args, kwargs, msg):
    with pytest.raises(TypeError, match=None if msg is None else "^%s$" % msg):
        Rect(0, 0, 10, 10).clipline(*args, **kwargs)
