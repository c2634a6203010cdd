"""Installs the package with pip into fresh virtual environments, offline,
and runs its tests against the installed package (ctest python_venv_install).

    venv_install.py --source ROOT --scratch DIR PYTHON [PYTHON...]

For each interpreter, in a copy of the source tree (nothing is written to
ROOT): a virtual environment made with --system-site-packages (Debian's
pytest and numpy are visible to Debian's interpreter that way), then
`pip install --no-build-isolation .`, then the tests of python/tests with
the venv's interpreter from a scratch directory, so that `import tav` finds
the installed package.  An interpreter without pytest gets an import and a
round trip instead, and says so.  The first interpreter also makes a wheel
with `pip wheel --no-build-isolation .` and installs it into a second, bare
venv.  An interpreter that cannot make venvs, or that has no setuptools
(Python 3.12 and later bring none), is skipped with the reason; exit status
77 when none could be tried.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

SKIP = 77
SMOKE = """
import sys, tav
assert tav.__file__.startswith(sys.prefix), tav.__file__
text = b"installed package " * 500
assert tav.decompress(tav.compress(text, preset=1)) == text
with tav.open("smoke.tav", "wt", encoding="utf-8") as f:
    f.write("line\\n" * 100)
assert tav.open("smoke.tav", "rt", encoding="utf-8").read() == "line\\n" * 100
"""


def run(command, **kwargs):
    print("+", " ".join(str(c) for c in command), flush=True)
    return subprocess.run(command, check=True, **kwargs)


def works(command, env):
    return subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env).returncode == 0


def copy_source(source, target):
    """The source tree without its build trees and repository, as an unpacked source archive would be."""
    def ignore(folder, names):
        top = os.path.samefile(folder, source)
        return {n for n in names if n == "__pycache__" or (top and (n.startswith("build") or n.startswith(".")))}

    shutil.rmtree(target, ignore_errors=True)
    shutil.copytree(source, target, ignore=ignore, symlinks=True)


def ensure_setuptools(venv_python, env):
    """setuptools in the venv; from Debian's wheel of it when the interpreter brings none."""
    if works([venv_python, "-c", "import setuptools"], env):
        return True
    wheels = "/usr/share/python-wheels"
    if os.path.isdir(wheels):
        works([venv_python, "-m", "pip", "install", "--no-index", "--find-links", wheels, "setuptools"], env)
    return works([venv_python, "-c", "import setuptools"], env)


def test_interpreter(python, index, args, env):
    """Returns None when tested, or the reason it was skipped."""
    if not works([python, "-c", "import venv, ensurepip"], env):
        return f"{python} cannot make virtual environments (Debian: python3-venv)"
    version = subprocess.run([python, "-c", "import sys; print('%d.%d' % sys.version_info[:2])"],
                             capture_output=True, text=True, env=env).stdout.strip()
    if tuple(int(p) for p in version.split(".")) < (3, 9):
        return f"{python} is Python {version}; the package needs 3.9 or later"
    work = os.path.join(args.scratch, f"{index}-python{version}")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    source = os.path.join(work, "src")
    copy_source(args.source, source)

    venv = os.path.join(work, "venv")
    run([python, "-m", "venv", "--system-site-packages", venv], env=env)
    venv_python = os.path.join(venv, "bin", "python")
    if not ensure_setuptools(venv_python, env):
        return f"{python} has no setuptools for its venvs, and none could be installed offline"

    start = time.monotonic()
    run([venv_python, "-m", "pip", "install", "--no-build-isolation", "."], cwd=source, env=env)
    print(f"python {version}: pip install took {time.monotonic() - start:.0f} s", flush=True)

    tests = os.path.join(args.source, "python", "tests")
    if works([venv_python, "-c", "import pytest"], env):
        run([venv_python, "-m", "pytest", "-q", "-p", "no:cacheprovider", tests], cwd=work, env=env)
    else:
        print(f"python {version}: no pytest for this interpreter: import and round trip only", flush=True)
        run([venv_python, "-c", SMOKE], cwd=work, env=env)

    if index == 0:
        # The wheel reuses the objects of the build above.
        wheels = os.path.join(work, "wheels")
        run([venv_python, "-m", "pip", "wheel", "--no-build-isolation", "--no-deps", "-w", wheels, "."],
            cwd=source, env=env)
        (wheel,) = [os.path.join(wheels, w) for w in os.listdir(wheels) if w.endswith(".whl")]
        bare = os.path.join(work, "bare-venv")
        run([python, "-m", "venv", bare], env=env)
        bare_python = os.path.join(bare, "bin", "python")
        run([bare_python, "-m", "pip", "install", "--no-index", wheel], env=env)
        run([bare_python, "-c", SMOKE], cwd=work, env=env)
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--scratch", required=True)
    parser.add_argument("pythons", nargs="+")
    args = parser.parse_args()
    args.source = os.path.abspath(args.source)
    args.scratch = os.path.abspath(args.scratch)

    # Offline, no user site, nothing of a venv or a pip configuration that
    # the caller's environment may hold.
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("PIP_") and k not in ("PYTHONPATH", "VIRTUAL_ENV", "PYTHONHOME")}
    env.update(PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1", PIP_NO_CACHE_DIR="1",
               PYTHONNOUSERSITE="1", PYTHONDONTWRITEBYTECODE="1")
    env.setdefault("PATH", "/usr/bin:/bin")

    tested, skipped = [], []
    for index, python in enumerate(dict.fromkeys(args.pythons)):
        reason = test_interpreter(python, len(tested), args, env)
        if reason:
            print(f"skipped: {reason}", flush=True)
            skipped.append(python)
        else:
            tested.append(python)
    print(f"installed and tested with {len(tested)} interpreter(s): {' '.join(tested) or 'none'}"
          + (f"; skipped {' '.join(skipped)}" if skipped else ""))
    return 0 if tested else SKIP


if __name__ == "__main__":
    sys.exit(main())
