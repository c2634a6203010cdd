"""The tav module against the library's promises and the tav_e program."""
import array
import subprocess
import threading
import time

import pytest

try:
    import numpy
except ImportError:  # costs() then returns array('d')
    numpy = None

import tav

# A member is an 8-byte header, the stream, the coder's last bytes and a
# 36-byte trailer.
MEMBER_OVERHEAD = 8 + 36

TEXTS = {
    "empty": b"",
    "one byte": b"x",
    "all byte values": bytes(range(256)) * 4,
    "repeats": b"abcabcabd" * 500,
}


@pytest.mark.parametrize("name", TEXTS)
@pytest.mark.parametrize("settings", [{}, {"level": 1}, {"order": 0}, {"order": 24, "memory_mb": 1}])
def test_round_trip(name, settings):
    text = TEXTS[name]
    assert tav.decompress(tav.compress(text, **settings)) == text


WRAPS = [bytes, bytearray, memoryview, lambda b: array.array("B", b)]
if numpy is not None:
    WRAPS.append(lambda b: numpy.frombuffer(b, dtype=numpy.uint8))


@pytest.mark.parametrize("wrap", WRAPS)
def test_any_buffer_is_accepted(sample, wrap):
    text = sample[:5000]
    packed = tav.compress(wrap(text), level=2)
    assert packed == tav.compress(text, level=2)
    assert tav.decompress(wrap(packed)) == text
    assert len(tav.costs(wrap(text), order=2)) == len(text)


def test_strided_view_is_read_in_order():
    text = bytes(range(256)) * 8
    view = memoryview(text)[::2]
    assert tav.decompress(tav.compress(view, level=1)) == text[::2]


@pytest.mark.parametrize("args, kwargs", [
    ([], {}),
    (["-2"], {"level": 2}),
    (["-9"], {"level": 9}),
    (["--order", "3", "-m", "16"], {"order": 3, "memory_mb": 16}),
    (["-1", "--order", "12"], {"level": 1, "order": 12}),
    (["-T", "2"], {"threads": 2}),
    (["--long"], {"long": True}),
    (["--long=1M", "--block-size", "64K", "-T", "2"], {"long": 1 << 20, "block_size": 65536, "threads": 2}),
])
def test_same_bytes_as_tav_e(tmp_path, sample, tav_e, program_env, args, kwargs):
    source = tmp_path / "sample.txt"
    source.write_bytes(sample)
    out = tmp_path / "sample.tav"
    subprocess.run([tav_e, "-qf", *args, str(source), "-o", str(out)], check=True, env=program_env)
    assert tav.compress(sample, **kwargs) == out.read_bytes()


def test_list_one_member(sample):
    packed = tav.compress(sample, order=5, memory_mb=64)
    (member,) = tav.list(packed)
    assert member["offset"] == 0
    assert member["compressed_bytes"] == len(packed)
    assert member["text_bytes"] == len(sample)
    assert (member["order"], member["memory_mb"]) == (5, 64)
    assert member["checked"] is True
    assert isinstance(member["text_hash"], int)


def test_members_side_by_side():
    first, second = b"first text " * 50, b"second, other text " * 40
    a, b = tav.compress(first, level=1), tav.compress(second, level=2)
    members = tav.list(a + b)
    assert [m["offset"] for m in members] == [0, len(a)]
    assert [m["text_bytes"] for m in members] == [len(first), len(second)]
    assert [m["order"] for m in members] == [2, 3]
    assert members[0]["text_hash"] != members[1]["text_hash"]
    assert tav.decompress(a + b) == first + second


@pytest.mark.parametrize("order, memory_mb", [(0, 1), (2, 64), (8, 1024), (16, 2)])
def test_costs_add_up_to_the_stream(sample, order, memory_mb):
    bits = tav.costs(sample, order=order, memory_mb=memory_mb)
    if numpy is not None:
        assert bits.dtype == numpy.float64 and bits.shape == (len(sample),)
    assert len(bits) == len(sample) and min(bits) > 0
    stream = len(tav.compress(sample, order=order, memory_mb=memory_mb)) - MEMBER_OVERHEAD
    assert abs(sum(bits) / 8 - stream) <= 8


def test_costs_follow_the_text():
    # A byte seen in the same context many times costs little; the first
    # occurrence costs much more.
    bits = tav.costs(b"ab" * 2000, order=2)
    assert bits[0] > 4 and bits[-1] < 0.1


def damaged_copies(packed):
    middle = bytearray(packed)
    middle[len(packed) // 2] ^= 0x40
    return {
        "a flipped stream byte": bytes(middle),
        "cut in half": packed[: len(packed) // 2],
        "garbage": b"this is not a compressed file at all" * 3,
    }


@pytest.mark.parametrize("case", ["a flipped stream byte", "cut in half", "garbage"])
def test_damaged_input_raises(sample, case):
    data = damaged_copies(tav.compress(sample[:20000], level=2))[case]
    with pytest.raises(tav.Error) as raised:
        tav.decompress(data)
    assert raised.value.code in (tav.ERROR_DAMAGED, tav.ERROR_UNSUPPORTED)
    assert str(raised.value)


@pytest.mark.parametrize("call", [
    lambda: tav.compress(b"text", level=0),
    lambda: tav.compress(b"text", level=10),
    lambda: tav.compress(b"text", order=-1),
    lambda: tav.compress(b"text", order=1087),
    lambda: tav.compress(b"text", memory_mb=0),
    lambda: tav.compress(b"text", threads=-1),
    lambda: tav.compress(b"text", long=-1),
    lambda: tav.compress(b"text", long=2**32),
    lambda: tav.TavCompressor(long=2**32),
    lambda: tav.costs(b"text", order=1087),
    lambda: tav.costs(b"text", order=2**40),
    lambda: tav.costs(b"text", memory_mb=0),
])
def test_bad_parameters_raise(call):
    with pytest.raises(tav.Error) as raised:
        call()
    assert raised.value.code == tav.ERROR_PARAMETER
    assert isinstance(raised.value, ValueError)


@pytest.mark.parametrize("call", [
    lambda: tav.compress("a str is not bytes"),
    lambda: tav.decompress(12),
    lambda: tav.compress(b"text", level="6"),
    lambda: tav.compress(b"text", order=2.5),
    lambda: tav.costs(None),
])
def test_bad_types_raise_type_error(call):
    with pytest.raises(TypeError):
        call()


def test_coding_releases_the_gil(sample):
    # While one thread compresses, another runs Python code; with the GIL
    # held it could not run at all during the call.
    ticks, stop = [], threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.001)

    ticker = threading.Thread(target=tick)
    ticker.start()
    start = time.monotonic()
    tav.compress(sample, order=8)
    end = time.monotonic()
    stop.set()
    ticker.join()
    assert end - start > 0.05, "the call was too short to tell"
    inside = [t for t in ticks if start + 0.02 < t < end - 0.02]
    assert len(inside) > 5
