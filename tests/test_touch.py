"""lumora.touch on a machine without touch devices."""
import pytest

touch = pytest.importorskip("lumora.touch")
base = pytest.importorskip("lumora.base")

from _videostate import novideo, video  # noqa: E402,F401


def test_no_devices(video):
    assert touch.get_num_devices() == 0
    assert touch.__doc__ == "lumora module to work with touch input"
    assert touch.get_finger.__doc__.startswith("get_finger(touchid, index) -> int\n")


@pytest.mark.parametrize("index", [0, 99, -1, 2**40, -2**70])
def test_get_device_out_of_range(novideo, index):
    with pytest.raises(base.error):
        touch.get_device(index)


@pytest.mark.parametrize("func, msg", [
    (touch.get_device, "index must be an integer specifying a device to get the ID for"),
    (touch.get_num_fingers, "device_id must be an integer specifying a touch device"),
])
@pytest.mark.parametrize("arg", ["0", 1.0, None])
def test_type_errors(novideo, func, msg, arg):
    with pytest.raises(TypeError, match="^" + msg + "$"):
        func(arg)


def test_needs_video(novideo):
    for call in (lambda: touch.get_num_fingers(1), lambda: touch.get_finger(1, 0)):
        with pytest.raises(base.error, match="^video system not initialized$"):
            call()


def test_unknown_device(video):
    with pytest.raises(base.error):
        touch.get_num_fingers(12345)
    assert touch.get_finger(12345, 0) is None
    assert touch.get_finger(touchid=12345, index=5) is None
    with pytest.raises(TypeError):
        touch.get_finger(12345)
    with pytest.raises(OverflowError):
        touch.get_finger(2**64, 0)
