"""Fixtures that the integration tests share; pytest hands them to every
test module in this folder, which names them as arguments only."""

import pytest

from harness.certs import make_test_ca
from harness.xvfb import Xvfb


@pytest.fixture
def display():
    """A private X display. Its size leaves room for the main window where
    the geometry test moves it (1300x900 at 210,160)."""
    with Xvfb(1600, 1200) as d:
        yield d


@pytest.fixture(scope="module")
def ca(tmp_path_factory):
    """A test CA and its server certificate, made once per test module."""
    return make_test_ca(tmp_path_factory.mktemp("ca"))


@pytest.fixture(scope="module")
def other_ca(tmp_path_factory):
    """A second, unrelated CA: what ca's certificate does not verify against."""
    return make_test_ca(tmp_path_factory.mktemp("other-ca"))
