"""`cmake --install` puts the module where Debian's python3 finds it."""
import os
import pathlib
import subprocess
import sys

import pytest

import tav

SCRIPT = """
import sys, tav
assert tav.__file__.startswith(sys.argv[1]), tav.__file__
text = b"installed module " * 100
assert tav.decompress(tav.compress(text, level=1)) == text
"""


def test_installed_module_imports(tmp_path, program_env):
    build = pathlib.Path(os.environ.get("TAV_BUILD_DIR", pathlib.Path(tav.__file__).resolve().parents[2]))
    if not (build / "CMakeCache.txt").is_file():
        pytest.skip(f"{build} is not a build tree: set TAV_BUILD_DIR")
    prefix = tmp_path / "prefix"
    subprocess.run([os.environ.get("CMAKE", "cmake"), "--install", str(build), "--prefix", str(prefix)],
                   check=True, stdout=subprocess.DEVNULL, env=program_env)
    site = prefix / "lib" / f"python3.{sys.version_info.minor}" / "dist-packages"
    # Nothing of the build tree or the caller's environment on the path; the
    # sanitizer's settings stay.
    env = {k: v for k, v in os.environ.items() if k in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")}
    env.update(PATH=os.environ.get("PATH", "/usr/bin:/bin"), PYTHONPATH=str(site))
    subprocess.run(["/usr/bin/python3", "-c", SCRIPT, str(site)], check=True, env=env, cwd=tmp_path)
