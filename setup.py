"""Builds the Python package tav with setuptools alone, offline:

    python3 -m venv v && v/bin/pip install --no-build-isolation .
    pip wheel --no-build-isolation .

The package is python/tav (pure Python) and its extension tav._tav, which is
compiled from the same sources as the CMake build's library: every .cpp of
model/, codec/ (all its folders) and libtav/, with the flags the model's
arithmetic needs (the compressed bytes depend on them: see CONTRIBUTING.md).
It needs a C++20 compiler, pybind11's headers (Debian's pybind11-dev puts
them in /usr/include; a pybind11 Python package or PYBIND11_INCLUDE also
does) and xxhash.h (libxxhash-dev), used header-only as the codec does.

Objects are compiled TAV_BUILD_JOBS at a time (default: one per core), and
setuptools writes its build files under build-python/.
"""
import base64
import glob
import hashlib
import os
import re
import shutil
import sys
import sysconfig
import zipfile
from concurrent.futures import ThreadPoolExecutor

from setuptools import Command, Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))
BUILD_BASE = "build-python"

# Every build of the model must round each operation by itself, as written:
# no fused multiply-add, no constant folding in the default rounding mode,
# no fast-math.  The flags of the interpreter's own build come first on the
# command line, so these win; anything that would undo them is removed.
ARITHMETIC_FLAGS = ["-ffp-contract=off", "-frounding-math", "-fno-fast-math"]
FORBIDDEN_FLAGS = {"-ffast-math", "-Ofast", "-ffp-contract=fast", "-funsafe-math-optimizations",
                   "-fassociative-math", "-Wstrict-prototypes"}


def relative(paths):
    return sorted(os.path.relpath(p, ROOT) for p in paths)


def library_sources():
    """The .cpp files of the library and everything below it, found by glob as CMake lists them."""
    found = []
    for folder in ("model", "codec", "libtav"):
        found += glob.glob(os.path.join(ROOT, folder, "**", "*.cpp"), recursive=True)
    return relative(found)


def header_dirs():
    """Every folder of model/, codec/ and libtav/ that holds headers: the codec includes them by name."""
    dirs = set()
    for folder in ("model", "codec", "libtav"):
        for header in glob.glob(os.path.join(ROOT, folder, "**", "*.h"), recursive=True):
            dirs.add(os.path.dirname(header))
    return relative(dirs)


def pybind11_include():
    """pybind11's headers: PYBIND11_INCLUDE, a pybind11 package, or the compiler's own path."""
    if os.environ.get("PYBIND11_INCLUDE"):
        return [os.environ["PYBIND11_INCLUDE"]]
    try:
        import pybind11
    except ImportError:
        return []  # /usr/include (Debian's pybind11-dev), searched by the compiler anyway
    return [pybind11.get_include()]


def version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(tav VERSION ([0-9.]+)", f.read()).group(1)


def parallel_compile(compiler, jobs):
    """The compiler's compile(), running `jobs` compilations at a time."""

    def compile(sources, output_dir=None, macros=None, include_dirs=None, debug=0, extra_preargs=None,
                extra_postargs=None, depends=None):
        macros, objects, extra_postargs, pp_opts, build = compiler._setup_compile(
            output_dir, macros, include_dirs, sources, depends, extra_postargs)
        cc_args = compiler._get_cc_args(pp_opts, debug, extra_preargs)

        def one(obj):
            if obj in build:
                src, ext = build[obj]
                compiler._compile(obj, src, ext, cc_args, extra_postargs, pp_opts)

        with ThreadPoolExecutor(max_workers=jobs) as pool:
            for _ in pool.map(one, objects):
                pass
        return objects

    return compile


class BuildExt(build_ext):
    def build_extensions(self):
        for attr in ("compiler_so", "compiler_so_cxx", "compiler_cxx", "linker_so", "linker_so_cxx"):
            command = getattr(self.compiler, attr, None)
            if command:
                setattr(self.compiler, attr, [word for word in command if word not in FORBIDDEN_FLAGS])
        jobs = int(os.environ.get("TAV_BUILD_JOBS") or os.cpu_count() or 1)
        self.compiler.compile = parallel_compile(self.compiler, max(jobs, 1))
        super().build_extensions()


class MinimalWheel(Command):
    """bdist_wheel for a setuptools without one.

    Before version 70.1 setuptools builds wheels (and pip's metadata) through
    the separate `wheel` package, which a fresh virtual environment lacks and
    an offline machine cannot fetch.  This writes the same kind of wheel: the
    built package tree, and a .dist-info with METADATA, WHEEL and RECORD.
    """

    description = "build a wheel of the package and its extension"
    user_options = [("dist-dir=", "d", "directory to put the wheel in")]

    def initialize_options(self):
        self.dist_dir = None

    def finalize_options(self):
        self.dist_dir = self.dist_dir or "dist"

    @staticmethod
    def egg2dist(egginfo_path, distinfo_path):
        """The .dist-info of an .egg-info directory, which it replaces (as the wheel package does)."""
        shutil.rmtree(distinfo_path, ignore_errors=True)
        os.makedirs(distinfo_path)
        shutil.copy(os.path.join(egginfo_path, "PKG-INFO"), os.path.join(distinfo_path, "METADATA"))
        shutil.copy(os.path.join(egginfo_path, "top_level.txt"), distinfo_path)
        shutil.copy(os.path.join(ROOT, "LICENSE"), distinfo_path)
        shutil.rmtree(egginfo_path)

    @staticmethod
    def tag():
        version = f"{sys.version_info[0]}{sys.version_info[1]}"
        abi = "cp" + version + getattr(sys, "abiflags", "")
        platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
        return f"cp{version}-{abi}-{platform}"

    def run(self):
        self.run_command("build")
        tree = self.get_finalized_command("build_ext").build_lib
        egg_info = self.get_finalized_command("egg_info")
        self.run_command("egg_info")
        name, version = self.distribution.get_name(), self.distribution.get_version()
        dist_info = f"{name}-{version}.dist-info"
        staging = os.path.join(BUILD_BASE, "wheel-metadata", dist_info)
        self.egg2dist(egg_info.egg_info, staging)
        with open(os.path.join(staging, "WHEEL"), "w", encoding="utf-8") as f:
            f.write(f"Wheel-Version: 1.0\nGenerator: tav setup.py\nRoot-Is-Purelib: false\nTag: {self.tag()}\n")

        files = []
        for base, arc_base in ((tree, ""), (staging, dist_info)):
            for folder, _, names in os.walk(base):
                for file in names:
                    path = os.path.join(folder, file)
                    files.append((path, os.path.join(arc_base, os.path.relpath(path, base))))
        os.makedirs(self.dist_dir, exist_ok=True)
        wheel = os.path.join(self.dist_dir, f"{name}-{version}-{self.tag()}.whl")
        record = []
        with zipfile.ZipFile(wheel, "w", zipfile.ZIP_DEFLATED) as archive:
            for path, arcname in sorted(files, key=lambda f: f[1]):
                with open(path, "rb") as f:
                    data = f.read()
                digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
                record.append(f"{arcname},sha256={digest},{len(data)}")
                archive.writestr(arcname, data)
            record.append(f"{dist_info}/RECORD,,")
            archive.writestr(f"{dist_info}/RECORD", "\n".join(record) + "\n")


def wheel_command():
    """setuptools' own bdist_wheel, the wheel package's, or MinimalWheel."""
    try:
        from setuptools.command.bdist_wheel import bdist_wheel
    except ImportError:
        try:
            from wheel.bdist_wheel import bdist_wheel
        except ImportError:
            return MinimalWheel
    return bdist_wheel


if sys.version_info < (3, 9):
    sys.exit("tav needs Python 3.9 or later")

os.makedirs(os.path.join(ROOT, BUILD_BASE), exist_ok=True)

extension = Extension(
    "tav._tav",
    sources=library_sources() + relative(glob.glob(os.path.join(ROOT, "python", "*.cpp"))),
    include_dirs=header_dirs() + pybind11_include(),
    define_macros=[("NDEBUG", None)],
    language="c++",
    extra_compile_args=["-std=c++20", "-O2", "-g0", "-pthread", "-fvisibility=hidden",
                        "-fvisibility-inlines-hidden"] + ARITHMETIC_FLAGS,
    extra_link_args=["-pthread"],
)

with open(os.path.join(ROOT, "docs", "python.md"), encoding="utf-8") as f:
    long_description = f.read()

setup(
    name="tav",
    version=version(),
    description="The tav context-mixing text codec, with the interface of lzma and bz2",
    long_description=long_description,
    long_description_content_type="text/markdown",
    license="MIT",
    python_requires=">=3.9",
    packages=["tav"],
    package_dir={"": "python"},
    package_data={"tav": ["py.typed", "*.pyi"]},
    ext_modules=[extension],
    cmdclass={"build_ext": BuildExt, "bdist_wheel": wheel_command()},
    zip_safe=False,
    options={"build": {"build_base": BUILD_BASE}, "egg_info": {"egg_base": BUILD_BASE}},
)
