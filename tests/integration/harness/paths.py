"""Where the tests find the source tree (demo/, scripts/) and the build
folder (the client, the test drivers, the CMake cache).

CTest sets VELOMARK_SOURCE_DIR and VELOMARK_BUILD_DIR. Run by hand, the
source tree is the one these files are in and the build folder its
build/dev. Something missing fails the test that needs it with what to do
about it, instead of an error further on that does not say why."""

import os
from pathlib import Path

_TREE = Path(__file__).resolve().parents[3]


def _folder(variable, default):
    # Absolute, because the programs under test run in folders of their own.
    return Path(os.path.abspath(os.environ.get(variable) or default))


SOURCE_DIR = _folder("VELOMARK_SOURCE_DIR", _TREE)
BUILD_DIR = _folder("VELOMARK_BUILD_DIR", _TREE / "build" / "dev")


def build_path(*parts):
    """A path inside the build folder, which has to exist."""
    if not BUILD_DIR.is_dir():
        raise AssertionError(f"there is no build folder {BUILD_DIR}: build the project and set "
                             "VELOMARK_BUILD_DIR to its build folder (CTest sets it)")
    return BUILD_DIR.joinpath(*parts)


def program(*parts):
    """A program that the build makes, e.g. program("tests", "net_probe")."""
    path = build_path(*parts)
    if not (path.is_file() and os.access(path, os.X_OK)):
        raise AssertionError(f"{path} is not built: build the target {path.name} in {BUILD_DIR}")
    return path


def source_path(*parts):
    """A file or folder of the source tree, which has to exist."""
    path = SOURCE_DIR.joinpath(*parts)
    if not path.exists():
        raise AssertionError(f"{path} does not exist: set VELOMARK_SOURCE_DIR to the source tree "
                             "(CTest sets it)")
    return path
