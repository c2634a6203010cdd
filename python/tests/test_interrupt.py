"""Ctrl-C during a long call: a child process starts the call, gets SIGINT
half a second later, and must raise KeyboardInterrupt, leave no thread
behind, and make the same kind of call again afterwards.

Without the interrupt, KeyboardInterrupt would still come, once the call
returned.  The compressions therefore get text for half a minute or more of
coding, and must be stopped well before that: the guard is 20 s, against a
latency measured at 0.01 to 0.36 s (printed with -rP).  The decompressions'
input would cost as long to make, so theirs take seconds and only show that
the decoding stops cleanly and can be taken up again."""
import os
import pathlib
import select
import signal
import subprocess
import sys
import time

import pytest

import tav

CHILD = r"""
import io, os, signal, sys, tav
signal.signal(signal.SIGINT, signal.default_int_handler)  # whatever the parent ignores
case, sample, megabytes = sys.argv[1], open(sys.argv[2], "rb").read(), int(sys.argv[3])
text = sample * (megabytes * 1_000_000 // len(sample) + 1)
small = text[:50000]


def threads():
    return len(os.listdir("/proc/self/task"))


def write_file(data, **settings):
    with tav.open("out.tav", "wb", **settings) as f:  # closing must not hide the interrupt
        f.write(data)
    return True


if case in ("decompress", "file read"):
    packed = tav.compress(text, preset=1, block_size=1 << 20)
if case == "file read":
    f = tav.open(io.BytesIO(packed))
call, again = {
    "compress": (lambda: tav.compress(text), lambda: tav.decompress(tav.compress(small)) == small),
    "compress on threads": (lambda: tav.compress(text, block_size=1 << 19, threads=2),
                            lambda: tav.decompress(tav.compress(small, block_size=9999, threads=2)) == small),
    "file write": (lambda: write_file(text, block_size=1 << 19),
                   lambda: write_file(small) and tav.open("out.tav").read() == small),
    "decompress": (lambda: tav.decompress(packed), lambda: tav.decompress(tav.compress(small, preset=1)) == small),
    "file read": (lambda: f.read(), lambda: f.read() == text),
}[case]
before = threads()
print("start", flush=True)
try:
    call()
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", flush=True)
print("threads", before, threads(), flush=True)
print("again", again(), flush=True)
"""

GUARD = 20  # seconds


@pytest.mark.parametrize("case, megabytes", [("compress", 40), ("compress on threads", 80), ("file write", 80),
                                             ("decompress", 4), ("file read", 4)])
def test_ctrl_c_stops_a_long_call(tmp_path, sample, case, megabytes):
    if not os.path.isdir("/proc/self/task"):
        pytest.skip("threads are counted in /proc")
    (tmp_path / "sample").write_bytes(sample)
    # The child imports the package under test, wherever it runs.
    path = [str(pathlib.Path(tav.__file__).resolve().parents[1])] + os.environ.get("PYTHONPATH", "").split(os.pathsep)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in path if p))
    child = subprocess.Popen([sys.executable, "-c", CHILD, case, "sample", str(megabytes)], stdout=subprocess.PIPE,
                             text=True, cwd=tmp_path, env=env)
    try:
        assert child.stdout.readline() == "start\n"
        time.sleep(0.5)
        child.send_signal(signal.SIGINT)
        sent = time.monotonic()
        if megabytes >= 40:
            stopped, _, _ = select.select([child.stdout], [], [], GUARD)
            assert stopped, f"Ctrl-C did not stop the call within {GUARD} s"
        outcome = child.stdout.readline()
        latency = time.monotonic() - sent
        rest = child.stdout.read().splitlines()  # (communicate() would miss what readline() buffered)
        child.wait(timeout=60)
    finally:
        child.kill()
        child.stdout.close()
    print(f"{case}: {outcome.strip()} {latency:.3f} s after SIGINT")
    assert outcome == "interrupted\n"
    _, before, after = rest[0].split()
    assert before == after, "threads were left running"
    assert rest[1:] == ["again True"]
    assert child.returncode == 0
