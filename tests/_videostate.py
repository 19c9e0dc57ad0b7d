"""Fixtures for tests that want SDL's video system up or down; a test
module imports the ones it uses (`from _videostate import video`)."""
import pytest

display = pytest.importorskip("lumora.display")


@pytest.fixture
def video():
    """Video initialised afresh; quit after the test."""
    display.quit()
    display.init()
    yield
    display.quit()


@pytest.fixture
def novideo():
    """Video quit for the test."""
    display.quit()
    yield
