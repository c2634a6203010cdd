"""Fixtures for the tests of the tav module: the sample text and the tav_e
program built beside the module (TAV_E, set by ctest; otherwise looked for in
the build tree the package was imported from, build/python/tav).  In the
sanitizer build the interpreter runs with the sanitizer's runtime preloaded;
the programs the tests start carry their own and must not get it
(program_env)."""
import os
import pathlib

import pytest

import tav

ROOT = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture(scope="session")
def sample():
    path = os.environ.get("TAV_SAMPLE", str(ROOT / "samples" / "licenses.txt"))
    return pathlib.Path(path).read_bytes()


@pytest.fixture(scope="session")
def tav_e():
    path = os.environ.get("TAV_E")
    if not path:
        path = str(pathlib.Path(tav.__file__).resolve().parents[2] / "programs" / "tav_e")
    if not os.access(path, os.X_OK):
        pytest.fail(f"tav_e not found at {path}: set TAV_E to the built program")
    return path


@pytest.fixture(scope="session")
def program_env():
    return {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
