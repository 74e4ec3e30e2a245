"""pytest fixtures shared by the end-to-end tests; import them by name into
a test module (from harness.fixtures import display, ...)."""

import pytest

from harness.virtual_display import VirtualDisplay


@pytest.fixture
def display():
    with VirtualDisplay() as d:
        yield d
