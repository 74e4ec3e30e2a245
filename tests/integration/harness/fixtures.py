"""pytest fixtures shared by the end-to-end tests; import them by name into
a test module (from harness.fixtures import display, ...)."""

import pytest

from harness.xvfb import Xvfb


@pytest.fixture
def display():
    with Xvfb(1600, 1200) as d:
        yield d
