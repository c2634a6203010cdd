"""The lzma-like interface: files, streaming classes, the bound and costs
without numpy.  Where lzma and tav should behave alike, the same steps run
on both and their results are compared."""
import array
import ast
import doctest
import inspect
import io
import lzma
import os
import pathlib
import shutil
import sys

import pytest

import tav

DATA = pathlib.Path(__file__).resolve().parents[2] / "tests" / "data"


@pytest.fixture(scope="module")
def text(sample):
    return sample[:30000]


def file_steps(f):
    """What a reader sees through a series of calls on an open binary file."""
    seen = [f.read(10), f.tell(), f.readline(), f.peek(1)[:1], f.seek(5), f.read(3), f.tell()]
    buffer = bytearray(7)
    seen += [f.readinto(buffer), bytes(buffer), f.seek(-4, io.SEEK_END), f.read(), f.tell(), f.read()]
    seen += [f.seek(100), f.seek(20), f.read(5), f.seek(3, io.SEEK_CUR), f.read(2), f.seekable()]
    f.seek(0)
    seen += [len([line for line in f]), f.tell()]
    return seen


@pytest.mark.parametrize("target", ["path", "pathlike", "file object"])
def test_reading_matches_lzma(tmp_path, text, target):
    results = {}
    for module in (lzma, tav):
        path = tmp_path / f"text.{module.__name__}"
        with module.open(path, "wb") as f:
            f.write(text)
        source = {"path": str(path), "pathlike": path, "file object": open(path, "rb")}[target]
        with module.open(source) as f:
            results[module] = file_steps(f)
    assert results[tav] == results[lzma]


@pytest.mark.parametrize("call", [
    lambda m, p: m.open(p, "rw"),
    lambda m, p: m.open(p, "rbt"),
    lambda m, p: m.open(p, "rb", encoding="utf-8"),
    lambda m, p: m.open(p, "wb", newline="\n"),
    lambda m, p: m.open(p, "rb", preset=3),
    lambda m, p: m.open(123.5),
])
def test_refusals_match_lzma(tmp_path, call):
    raised = {}
    for module in (lzma, tav):
        path = tmp_path / f"refused.{module.__name__}"
        with pytest.raises(Exception) as error:
            call(module, path)
        raised[module] = type(error.value)
    assert raised[tav] == raised[lzma]


@pytest.mark.parametrize("step", [lambda f: f.read(), lambda f: f.write(b"x"), lambda f: f.seek(0)])
def test_closed_and_wrong_mode_match_lzma(tmp_path, step):
    raised = {}
    for module in (lzma, tav):
        path = tmp_path / f"f.{module.__name__}"
        outcome = []
        for mode in ("wb", "rb"):
            f = module.open(path, mode)
            for state in ("open", "closed"):
                try:
                    step(f)
                    outcome.append(None)
                except Exception as error:
                    outcome.append(type(error))
                f.close()
        raised[module] = outcome
    assert raised[tav] == raised[lzma]


@pytest.mark.parametrize("mode", ["a", "ab", "at"])
def test_append_adds_members_and_x_refuses_an_existing_file(tmp_path, mode):
    path = tmp_path / "log.tav"
    first, second = "first part\n", "second part, é\n"
    with tav.open(path, "wt", encoding="utf-8") as f:
        f.write(first)
    with tav.open(path, mode, **({"encoding": "utf-8"} if "t" in mode else {})) as f:
        f.write(second if "t" in mode else second.encode())
    assert len(tav.list(path.read_bytes())) == 2
    with tav.open(path, "rt", encoding="utf-8") as f:
        assert f.read() == first + second
    with pytest.raises(FileExistsError):
        tav.open(path, mode.replace("a", "x"))


def test_copyfileobj_both_ways_writes_as_it_goes(text):
    packed = io.BytesIO()
    with tav.TavFile(packed, "wb", preset=2, block_size=4000) as f:
        shutil.copyfileobj(io.BytesIO(text), f, length=5000)
        assert packed.tell() > 0, "members are written as their blocks fill"
        assert f.tell() == len(text)
    out = io.BytesIO()
    with tav.TavFile(io.BytesIO(packed.getvalue())) as f:
        shutil.copyfileobj(f, out, length=333)
    assert out.getvalue() == text
    assert packed.getvalue() == tav.compress(text, 2, block_size=4000)


@pytest.mark.parametrize("name", ["several members", "runs one after another", "long-range members"])
def test_files_read_like_decompress(tmp_path, text, name):
    data = {
        "several members": tav.compress(text, 1, block_size=7000),
        "runs one after another": tav.compress(text[:9000], 3) + tav.compress(b"") + tav.compress(text, 1),
        "long-range members": tav.compress(text[:8000] * 3, 1, block_size=5000, long=True),
    }[name]
    with tav.open(io.BytesIO(data)) as f:
        assert f.read() == tav.decompress(data)


def outcome(call):
    """What a call gives: its result, the module's own error, or the type of another exception."""
    try:
        return call()
    except (lzma.LZMAError, tav.Error):
        return "the module's error"
    except Exception as error:
        return type(error)


@pytest.mark.parametrize("call", [lambda m, path: m.decompress(b""), lambda m, path: m.open(path).read(),
                                  lambda m, path: m.open(path, "rt").read()])
def test_empty_input_is_refused_as_lzma_refuses_it(tmp_path, call):
    path = tmp_path / "empty"
    path.write_bytes(b"")
    assert outcome(lambda: call(tav, path)) == outcome(lambda: call(lzma, path))


@pytest.mark.parametrize("how", ["decompress", "open", "open rt"])
def test_plain_streams_are_read_only_when_asked(how):
    data = (DATA / "english_o3.tav").read_bytes()
    read = {
        "decompress": lambda **plain: tav.decompress(data, **plain),
        "open": lambda **plain: tav.open(io.BytesIO(data), **plain).read(),
        "open rt": lambda **plain: tav.open(io.BytesIO(data), "rt", encoding="latin-1", **plain).read().encode("latin-1"),
    }[how]
    with pytest.raises(tav.Error) as refused:
        read()
    assert refused.value.code == tav.ERROR_DAMAGED
    text = read(plain=True)
    assert len(text) > 1000 and text == tav.decompress(data, plain=True)


def members_of(packed):
    return [packed[m["offset"]:m["offset"] + m["compressed_bytes"]] for m in tav.list(packed)]


@pytest.mark.parametrize("damage", ["cut short", "flipped byte", "cut at a member", "member dropped",
                                    "member repeated", "members swapped", "first member alone"])
def test_damaged_file_raises(text, damage):
    packed = tav.compress(text, 1, block_size=9000)
    data, m = bytearray(packed), members_of(packed)
    if damage == "cut short":
        del data[-20:]
    elif damage == "flipped byte":
        data[len(data) // 2] ^= 1
    else:
        data = {
            "cut at a member": m[:-1],
            "member dropped": m[:1] + m[2:],
            "member repeated": m[:2] + m[1:],
            "members swapped": [m[1], m[0]] + m[2:],
            "first member alone": m[:1],
        }[damage]
        data = b"".join(data) + tav.compress(b"a whole run after it")
    with pytest.raises(tav.Error):
        tav.decompress(bytes(data))
    with pytest.raises(tav.Error), tav.open(io.BytesIO(bytes(data))) as f:
        f.read()


@pytest.mark.parametrize("piece", [1, 777, 10**6])
@pytest.mark.parametrize("long", [False, True])
def test_compressor_in_pieces_writes_what_compress_writes(text, piece, long):
    part = text[:3000] if piece == 1 else text
    c = tav.TavCompressor(preset=2, block_size=1000, long=long)
    packed = b"".join(c.compress(part[i:i + piece]) for i in range(0, len(part), piece)) + c.flush()
    assert packed == tav.compress(part, preset=2, block_size=1000, long=long)
    with pytest.raises(ValueError):
        c.compress(b"more")
    with pytest.raises(ValueError):
        c.flush()


@pytest.mark.parametrize("chunk", [1, 50, 10**6])
@pytest.mark.parametrize("max_length", [-1, 0, 100])
def test_decompressor_gives_one_run_and_the_rest_as_unused_data(text, chunk, max_length):
    # Runs of several members; the first one's references reach back into
    # its earlier members.
    texts = [text[:1000] * 2, text[2000:4000]]
    first = tav.compress(texts[0], 1, block_size=700, long=True)
    assert first != tav.compress(texts[0], 1, block_size=700), "no reference was made"
    second = tav.compress(texts[1], 2, block_size=900)
    data = first + second + b"tail"
    d, out, fed = tav.TavDecompressor(), [], 0
    while not d.eof:
        piece = data[fed:fed + chunk] if d.needs_input else b""
        fed += len(piece)
        out.append(d.decompress(piece, max_length if max_length != 0 else len(out) % 2 * 500))
    assert b"".join(out) == texts[0]
    assert d.unused_data == data[len(first):fed]
    assert d.needs_input is False
    with pytest.raises(EOFError):
        d.decompress(b"x")
    rest = tav.TavDecompressor()
    assert rest.decompress(data[len(first):]) == texts[1] and rest.unused_data == b"tail"


@pytest.mark.parametrize("args, kwargs, level", [((), {}, 6), ((3,), {}, 3), ((), {"preset": 2}, 2),
                                                  ((), {"preset": 9, "level": 9}, 9)])
def test_preset_and_level_are_the_same_setting(text, args, kwargs, level):
    assert tav.compress(text[:5000], *args, **kwargs) == tav.compress(text[:5000], level=level)


@pytest.mark.parametrize("size, block_size", [(0, None), (3, None), (5000, None), (60, 1), (5000, 700)])
def test_compress_bound_holds_for_random_bytes(size, block_size):
    data = os.urandom(size)
    for order in (0, 16):
        packed = tav.compress(data, order=order, block_size=block_size)
        assert len(packed) <= tav.compress_bound(size, block_size)


@pytest.mark.parametrize("call, error", [(lambda: tav.compress(b"text", preset=2, level=3), TypeError),
                                         (lambda: tav.compress_bound(-1), tav.Error),
                                         (lambda: tav.compress_bound(2**63), tav.Error)])
def test_settings_that_cannot_be_are_refused(call, error):
    with pytest.raises(error):
        call()


def test_costs_without_numpy(monkeypatch, sample):
    with_numpy = tav.costs(sample[:3000], order=3)
    monkeypatch.setitem(sys.modules, "numpy", None)
    bits = tav.costs(sample[:3000], order=3)
    assert isinstance(bits, array.array) and bits.typecode == "d"
    assert list(bits) == list(with_numpy)


def test_public_names_and_type_stubs_are_installed():
    assert all(hasattr(tav, name) for name in tav.__all__)
    package = pathlib.Path(tav.__file__).parent
    assert (package / "py.typed").is_file() and (package / "__init__.pyi").is_file()
    assert tav.TavFile.read.__doc__ and tav.open.__doc__ and tav.TavDecompressor.__doc__


def test_docstring_examples_run(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # the file examples write there
    failed, attempted = doctest.testmod(tav, extraglobs={"tav": tav})
    assert failed == 0 and attempted > 10


def stub_parameters():
    """The parameter names of every call and constructor the type stubs declare (the first overload)."""
    tree = ast.parse((pathlib.Path(tav.__file__).parent / "__init__.pyi").read_text())
    found = {}

    def names(function):
        a = function.args
        return [p.arg for p in a.posonlyargs + a.args + a.kwonlyargs if p.arg != "self"]

    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            found.setdefault(node.name, names(node))
        elif isinstance(node, ast.ClassDef):
            for item in node.body:
                if isinstance(item, ast.FunctionDef) and item.name == "__init__":
                    found[node.name] = names(item)
    return found


STUBS = stub_parameters()


@pytest.mark.parametrize("name", sorted(STUBS))
def test_type_stubs_declare_the_parameters_of_the_calls(name):
    assert STUBS[name] == list(inspect.signature(getattr(tav, name)).parameters)
