"""tav: the context-mixing text codec, with the interface of lzma and bz2.

Files are those tav_e writes and tav_d reads: what one compression writes
is a run of members, each a header, a range-coded stream and a trailer with
the XXH64 of its text and its place in the run; runs may follow each other.

    >>> import tav
    >>> packed = tav.compress(b"an example text " * 100)
    >>> tav.decompress(packed) == b"an example text " * 100
    True
    >>> with tav.open("notes.txt.tav", "wt") as f:   # as lzma.open / bz2.open
    ...     _ = f.write("first line\\n")
    >>> tav.open("notes.txt.tav", "rt").read()
    'first line\\n'

Settings: `preset` (1..9, default 6; `level` is the same thing) chooses the
model's order and memory; `order` (0..1086) and `memory_mb` (1..32767)
replace the preset's; `threads` codes members side by side (0: one per core;
the bytes never depend on it); `block_size` is the text bytes per member
(default 32 MiB); `long` turns on the long-range stage (True: a window of
DEFAULT_LONG_WINDOW, 1 GiB; an int: the window in bytes).  Reading refuses a
plain stream of the first builds (no trailer, no check) unless given
`plain=True`.  Failures of the codec raise `Error`, a ValueError.  Ctrl-C
stops a long call in the main thread: KeyboardInterrupt within about a
second.
"""
import builtins
import io
import os
import threading
from array import array

from . import _tav
from ._tav import (
    DEFAULT_LONG_WINDOW,
    ERROR_CANNOT_CODE,
    ERROR_DAMAGED,
    ERROR_PARAMETER,
    ERROR_TOO_LARGE,
    ERROR_UNSUPPORTED,
    Error,
    __version__,
)

# `list` is left out: a star import would hide the builtin.
__all__ = [
    "Error",
    "DEFAULT_LONG_WINDOW",
    "ERROR_PARAMETER",
    "ERROR_DAMAGED",
    "ERROR_UNSUPPORTED",
    "ERROR_CANNOT_CODE",
    "ERROR_TOO_LARGE",
    "TavCompressor",
    "TavDecompressor",
    "TavFile",
    "open",
    "compress",
    "decompress",
    "compress_bound",
    "costs",
]

def _level(preset, level):
    """The library's level from lzma's `preset` or this module's `level`."""
    if preset is not None and level is not None and preset != level:
        raise TypeError("give preset or level, not both")
    chosen = preset if preset is not None else level
    return _tav.DEFAULT_LEVEL if chosen is None else chosen


def _long_window(long):
    """The library's window from `long`: True the default, False (or None) off, an int the bytes."""
    if long is None or isinstance(long, bool):
        return DEFAULT_LONG_WINDOW if long else 0
    return long


def compress(data, preset=None, order=None, memory_mb=None, threads=0, *, level=None, block_size=None,
             long=False):
    """Compresses a buffer and returns the compressed file as bytes.

    The bytes are those tav_e writes with the same settings, whatever the
    number of threads (0: one per core).  `long=True` (tav_e --long) codes
    long repeats up to DEFAULT_LONG_WINDOW (1 GiB) back as references before
    the model; an int sets the window in bytes (1 .. 2**32 - 1; tav_e
    --long=SIZE), False or 0 leaves the stage off.  The output is sized
    once, by compress_bound().

        >>> tav.decompress(tav.compress(b"abc" * 1000, preset=2)) == b"abc" * 1000
        True
        >>> import random
        >>> noise = random.Random(1).randbytes(10000)      # the model cannot predict it
        >>> len(tav.compress(noise * 2, preset=1)), len(tav.compress(noise * 2, preset=1, long=True))
        (12251, 11107)
    """
    return _tav.compress(data, _level(preset, level), order, memory_mb, threads, block_size, _long_window(long))


def decompress(data, *, plain=False):
    """Decodes a whole compressed file, every member checked, and returns its text.

    Several runs one after another (cat a.tav b.tav) give their texts in
    order.  Damaged data, and data without a trailer (empty, cut short,
    another format), raise Error; `plain=True` also reads a plain stream of
    the first builds, which has no trailer and so no check.

        >>> tav.decompress(tav.compress(b"x") + tav.compress(b"y"))
        b'xy'
        >>> tav.decompress(b"")
        Traceback (most recent call last):
        ...
        tav.Error: the compressed data is damaged
    """
    return _tav.decompress(data, plain)


def compress_bound(size, block_size=None):
    """The most bytes compress() can return for `size` bytes of text, at any setting.

    A proven worst case of the range coder (6 bytes a text byte and 72 a
    member), far above what any text takes; `block_size` counts the members
    of a block size below the default 32 MiB.

        >>> tav.compress_bound(0)
        72
    """
    return _tav.compress_bound(size, block_size)


def list(data):  # noqa: A001 -- the module's name for it since its first version
    """The members of a compressed file from its headers and trailers, decoding nothing.

    One dict per member: offset, compressed_bytes, text_bytes, order,
    memory_mb, checked (True: the library lists files of members only, and
    refuses a plain stream as damaged) and text_hash (the XXH64 of the text).

        >>> [m["text_bytes"] for m in tav.list(tav.compress(b"abc"))]
        [3]
    """
    return _tav.list(data)


def costs(data, order=8, memory_mb=1024):
    """The code length in bits of every byte of `data` under the model.

    A numpy float64 array where numpy can be imported, an array('d')
    otherwise.  The sum is the compressed stream's size within the coder's
    few bytes.

        >>> bits = tav.costs(b"abababab", order=2)
        >>> len(bits)
        8
    """
    size = memoryview(data).nbytes
    try:
        import numpy
    except ImportError:
        bits = array("d", [0.0]) * size
    else:
        bits = numpy.empty(size, dtype=numpy.float64)
    _tav.costs_into(data, order, memory_mb, bits)
    return bits


class TavCompressor:
    """Compresses data in pieces, as lzma.LZMACompressor does.

    compress() returns the members whose blocks have filled (often b"");
    flush() ends the input and returns the rest.  The output is the same as
    compress() of the whole text.  The library holds at most `threads`
    blocks and their members, so memory is bounded by the block size and
    threads, not by the text (the long-range stage also keeps up to its
    window of text).  A call that fails, or that Ctrl-C stops, ends the
    stream: later calls raise ValueError.

        >>> c = tav.TavCompressor(preset=3)
        >>> packed = c.compress(b"part one, ") + c.compress(b"part two") + c.flush()
        >>> tav.decompress(packed)
        b'part one, part two'
    """

    def __init__(self, preset=None, *, order=None, memory_mb=None, threads=0, block_size=None, level=None,
                 long=False):
        self._lock = threading.Lock()
        self._stream = _tav.Compressor(_level(preset, level), order, memory_mb, threads, block_size,
                                       _long_window(long))
        self._flushed = False

    def compress(self, data):
        """Takes more text; returns the compressed bytes ready so far."""
        with self._lock:
            if self._flushed:
                raise ValueError("Compressor has been flushed")
            self._check_running()
            return self._stream.push(data, False)

    def flush(self):
        """Ends the input and returns the rest of the compressed bytes."""
        with self._lock:
            if self._flushed:
                raise ValueError("Repeated call to flush()")
            self._check_running()
            self._flushed = True
            return self._stream.push(b"", True)

    def _check_running(self):
        if self._stream.failed:
            raise ValueError("Compressor stopped by an earlier error or interrupt")


# The last bytes of every member's trailer.  Finding them only tells where a
# run may end: the library checks each candidate (tav.list) before it is
# taken.
_MEMBER_END = b"\x89tavMB\r\xff"
# A trailer of version 2 (written since members are numbered in runs) keeps
# at 16 and 15 bytes before its end the version and the flags, whose bit 0
# marks its run's last member.  The library refuses a file that ends at any
# other member, so such a candidate is passed over without asking it: the
# search stays linear in the members of a run.
_VERSION_AT, _FLAGS_AT = 16, 15


def _contiguous(data):
    view = memoryview(data)
    return view if view.c_contiguous else memoryview(view.tobytes())


class TavDecompressor:
    """Decodes one run at a time, as bz2.BZ2Decompressor decodes one stream.

    A run is what one compression wrote: members numbered from 0, the last
    one flagged.  The library decodes and checks a run whole (a member of
    the long-range stage needs the members before it), so a run is decoded
    when its last trailer has arrived: until then decompress() returns b""
    and holds the run's compressed bytes; then it returns the run's text
    (up to `max_length` bytes a call; the rest waits, and needs_input is
    False).  eof becomes True once the run's text has been returned;
    unused_data holds the input after the run, which may be the next run:
    input of several runs (cat a.tav b.tav) takes one decompressor per run,
    as a multi-stream bz2 file does.  tav.decompress(), TavFile and
    tav.open() read every run.  Memory: one run's compressed bytes and its
    text.  A plain stream of the first builds has no trailer and never ends
    here: tav.decompress(data, plain=True) reads it.

        >>> d = tav.TavDecompressor()
        >>> d.decompress(tav.compress(b"hello") + b"more")
        b'hello'
        >>> d.eof, d.unused_data
        (True, b'more')
    """

    def __init__(self):
        self._lock = threading.Lock()
        self._input = bytearray()  # the run so far
        self._scan = 0  # where the search for its end goes on
        self._text = None  # its text, once decoded
        self._given = 0  # of the text, returned so far
        self._after = bytearray()  # input after the run
        self.eof = False
        self.unused_data = b""
        self.needs_input = True

    def decompress(self, data, max_length=-1):
        """Takes compressed bytes; returns text of the run once its last trailer has arrived."""
        with self._lock:
            if self.eof:
                raise EOFError("End of stream already reached")
            if self._text is None:
                self._input += _contiguous(data)
                self._find_run()
            else:
                self._after += _contiguous(data)
            return self._give(max_length)

    def _find_run(self):
        """Decodes the run once its end is in; a decoding stopped by an error or
        an interrupt leaves the end where it was found, for the next call."""
        while True:
            at = self._input.find(_MEMBER_END, self._scan)
            if at < 0:
                self._scan = max(self._scan, len(self._input) - len(_MEMBER_END) + 1)
                return
            end = at + len(_MEMBER_END)
            if end >= 36 and self._input[end - _VERSION_AT] == 2 and not self._input[end - _FLAGS_AT] & 1:
                self._scan = at + 1
                continue
            with memoryview(self._input) as view, view[:end] as candidate:
                try:
                    # Succeeds only where the input so far is whole runs.
                    ends_a_run = _tav.list(candidate)[-1]["checked"]
                except Error:
                    ends_a_run = False  # the magic's bytes inside a stream, or a run not ended yet
                text = _tav.decompress(candidate, False) if ends_a_run else None
            if text is None:
                self._scan = at + 1
                continue
            self._text, self._given = text, 0
            self._after = self._input[end:]
            self._input = bytearray()
            return

    def _give(self, max_length):
        if self._text is None:
            self.needs_input = True
            return b""
        left = len(self._text) - self._given
        n = left if max_length is None or max_length < 0 else min(left, max_length)
        if n == len(self._text):
            out = self._text
        else:
            out = self._text[self._given : self._given + n]
        self._given += n
        if self._given < len(self._text):
            self.needs_input = False
            return out
        self.eof, self.needs_input = True, False
        self.unused_data = bytes(self._after)
        self._text, self._after = None, bytearray()
        return out

    def _unfinished(self):
        """The bytes of a run whose end never came (for the readers)."""
        return bytes(self._input)


_READ_SIZE = 1 << 16


class _RunReader(io.RawIOBase):
    """The text of a compressed file object, run by run.

    Input that ends inside a run is, when no run came before it, a whole
    file for the library to decode (a plain stream, with `plain`) or refuse;
    after runs it is damage, as the library says of such a whole file (a
    plain stream never follows a member).  An empty file raises EOFError,
    as lzma's and bz2's readers do.
    """

    def __init__(self, fp, plain):
        self._fp = fp
        self._plain = plain
        try:
            self._start = fp.tell() if fp.seekable() else 0
        except (AttributeError, OSError):
            self._start = 0
        self._reset()

    def _reset(self):
        self._decompressor = TavDecompressor()
        self._input_done = False
        self._text = b""
        self._given = 0
        self._runs = 0
        self._eof = False
        self._pos = 0
        self._size = -1

    def readable(self):
        return True

    def seekable(self):
        return self._fp.seekable()

    def _fill(self):
        """The next run's text into self._text; False at the end of the input.

        An error or an interrupt leaves every byte read with the decompressor,
        so that a later read takes up the same run again."""
        while not self._input_done:
            d = self._decompressor
            if d.eof:
                raw = d.unused_data or self._fp.read(_READ_SIZE)
                if not raw:
                    self._input_done = True
                    break
                d = self._decompressor = TavDecompressor()
            else:
                raw = self._fp.read(_READ_SIZE)
            # At the end of the input (b""), the decompressor looks once more
            # at what it holds: a run whose decoding was stopped is there.
            text = d.decompress(raw)
            self._runs += d.eof
            if not raw and not d.eof:
                text = self._unended(d._unfinished())
                self._input_done = True
            if text:
                self._text, self._given = text, 0
                return True
        return False

    def _unended(self, rest):
        """The text of input that ended inside a run, or before any."""
        if not rest:
            if self._runs:
                return b""
            raise EOFError("Compressed file ended before the end-of-stream marker was reached")
        if self._runs:
            damaged = Error(_tav.error_message(ERROR_DAMAGED))
            damaged.code = ERROR_DAMAGED
            raise damaged
        return decompress(rest, plain=self._plain)

    def _next(self, size):
        """Up to `size` bytes of text (all of a run for -1), as a view."""
        if self._eof:
            return memoryview(b"")
        while self._given == len(self._text):
            if not self._fill():
                self._eof, self._size = True, self._pos
                self._text, self._given = b"", 0
                return memoryview(b"")
        left = len(self._text) - self._given
        n = left if size < 0 else min(size, left)
        piece = memoryview(self._text)[self._given : self._given + n]
        self._given += n
        self._pos += n
        return piece

    def readinto(self, b):
        with memoryview(b) as view, view.cast("B") as target:
            piece = self._next(len(target))
            target[: len(piece)] = piece
            return len(piece)

    def read(self, size=-1):
        if size is None or size < 0:
            return self.readall()
        return bytes(self._next(size))

    def readall(self):
        pieces = []
        while True:
            piece = self._next(-1)
            if not piece:
                return b"".join(pieces)
            pieces.append(piece)

    def seek(self, offset, whence=io.SEEK_SET):
        if whence == io.SEEK_SET:
            pass
        elif whence == io.SEEK_CUR:
            offset = self._pos + offset
        elif whence == io.SEEK_END:
            if self._size < 0:
                while self._next(-1):
                    pass
            offset = self._size + offset
        else:
            raise ValueError(f"Invalid value for whence: {whence}")
        # Going back decodes again from the start.
        if offset < self._pos:
            self._fp.seek(self._start)
            self._reset()
        while self._pos < offset and self._next(offset - self._pos):
            pass
        return self._pos

    def tell(self):
        return self._pos


_CLOSED, _READ, _WRITE = 0, 1, 2


class TavFile(io.BufferedIOBase):
    """A compressed file, read or written as its text, as lzma.LZMAFile.

    `filename` is a path (str, bytes, os.PathLike) or a file object.  Modes:
    "r"/"rb" read, "w"/"wb" write anew, "x"/"xb" create only, "a"/"ab"
    append (a new run follows the old; reading gives both texts).
    Reading decodes run by run and reads any number of runs one after
    another; a plain stream of the first builds only with `plain=True`, and
    an empty file raises EOFError as in lzma.  seek() goes back by decoding again from
    the start.  Writing compresses through the library's stream, block by
    block, with the settings of compress() (`long` included).  A write that
    fails or that Ctrl-C stops ends the run: close() then closes the file
    without ending it, and reading the file says it is damaged.

        >>> with tav.TavFile("log.tav", "w", preset=4) as f:
        ...     _ = f.write(b"line one\\nline two\\n")
        >>> with tav.TavFile("log.tav") as f:
        ...     [line for line in f]
        [b'line one\\n', b'line two\\n']
    """

    def __init__(self, filename=None, mode="r", *, preset=None, order=None, memory_mb=None, threads=0,
                 block_size=None, level=None, long=False, plain=False):
        self._fp = None
        self._closefp = False
        self._mode = _CLOSED
        if mode in ("r", "rb"):
            if any(s is not None for s in (preset, order, memory_mb, block_size, level)) or long:
                raise ValueError("Cannot specify compression settings when opening a file for reading")
            mode_code = _READ
        elif mode in ("w", "wb", "a", "ab", "x", "xb"):
            if plain:
                raise ValueError("plain streams are read, never written")
            mode_code = _WRITE
            self._compressor = TavCompressor(preset, order=order, memory_mb=memory_mb, threads=threads,
                                             block_size=block_size, level=level, long=long)
            self._pos = 0
        else:
            raise ValueError(f"Invalid mode: {mode!r}")

        if isinstance(filename, (str, bytes, os.PathLike)):
            if "b" not in mode:
                mode += "b"
            self._fp = builtins.open(filename, mode)
            self._closefp = True
        elif hasattr(filename, "read") or hasattr(filename, "write"):
            self._fp = filename
        else:
            raise TypeError("filename must be a str, bytes, file or PathLike object")
        self._mode = mode_code
        if mode_code == _READ:
            self._buffer = io.BufferedReader(_RunReader(self._fp, plain))

    def close(self):
        """Flushes and closes the file; a file object given to it is closed only if it was opened here."""
        if self._mode == _CLOSED:
            return
        try:
            if self._mode == _READ:
                self._buffer.close()
                self._buffer = None
            else:
                compressor, self._compressor = self._compressor, None
                if not compressor._stream.failed:
                    self._fp.write(compressor.flush())
        finally:
            try:
                if self._closefp:
                    self._fp.close()
            finally:
                self._fp = None
                self._closefp = False
                self._mode = _CLOSED

    @property
    def closed(self):
        return self._mode == _CLOSED

    @property
    def name(self):
        self._check_not_closed()
        return self._fp.name

    @property
    def mode(self):
        return "wb" if self._mode == _WRITE else "rb"

    def fileno(self):
        self._check_not_closed()
        return self._fp.fileno()

    def seekable(self):
        return self.readable() and self._buffer.seekable()

    def readable(self):
        self._check_not_closed()
        return self._mode == _READ

    def writable(self):
        self._check_not_closed()
        return self._mode == _WRITE

    def peek(self, size=-1):
        """Text ahead without moving: at least one byte unless at the end."""
        self._check_can_read()
        return self._buffer.peek(size)

    def read(self, size=-1):
        """Up to `size` bytes of text (all the rest for -1); b"" at the end."""
        self._check_can_read()
        return self._buffer.read(size)

    def read1(self, size=-1):
        """Up to `size` bytes of text with at most one read of the file beneath."""
        self._check_can_read()
        if size < 0:
            size = io.DEFAULT_BUFFER_SIZE
        return self._buffer.read1(size)

    def readinto(self, b):
        """Reads text into a writable buffer; returns the bytes read."""
        self._check_can_read()
        return self._buffer.readinto(b)

    def readline(self, size=-1):
        """One line of text, with its b"\\n"."""
        self._check_can_read()
        return self._buffer.readline(size)

    def write(self, data):
        """Compresses `data` (any buffer); returns its length in bytes."""
        self._check_can_write()
        if isinstance(data, (bytes, bytearray)):
            length = len(data)
        else:
            data = memoryview(data)
            length = data.nbytes
        self._fp.write(self._compressor.compress(data))
        self._pos += length
        return length

    def seek(self, offset, whence=io.SEEK_SET):
        """Moves in the text; going back decodes again from the start of the file."""
        self._check_can_seek()
        return self._buffer.seek(offset, whence)

    def tell(self):
        """The position in the text."""
        self._check_not_closed()
        return self._buffer.tell() if self._mode == _READ else self._pos

    def _check_not_closed(self):
        if self.closed:
            raise ValueError("I/O operation on closed file")

    def _check_can_read(self):
        if not self.readable():
            raise io.UnsupportedOperation("File not open for reading")

    def _check_can_write(self):
        if not self.writable():
            raise io.UnsupportedOperation("File not open for writing")

    def _check_can_seek(self):
        if not self.readable():
            raise io.UnsupportedOperation("Seeking is only supported on files open for reading")
        if not self._fp.seekable():
            raise io.UnsupportedOperation("The underlying file object does not support seeking")


def open(filename, mode="rb", *, preset=None, order=None, memory_mb=None, threads=0, block_size=None,
         level=None, long=False, plain=False, encoding=None, errors=None, newline=None):  # noqa: A001 -- as lzma.open
    """Opens a compressed file in binary or text mode, as lzma.open and bz2.open.

    mode: "r", "rb", "w", "wb", "x", "xb", "a", "ab" give a TavFile;
    "rt", "wt", "xt", "at" wrap it in io.TextIOWrapper with `encoding`,
    `errors` and `newline`.  The settings of compress() apply to writing,
    `plain` to reading (as for decompress()).

        >>> with tav.open("words.tav", "wt", encoding="utf-8") as f:
        ...     _ = f.write("één\\n")
        >>> tav.open("words.tav", "rt", encoding="utf-8").readline()
        'één\\n'
    """
    if "t" in mode:
        if "b" in mode:
            raise ValueError(f"Invalid mode: {mode!r}")
    else:
        if encoding is not None:
            raise ValueError("Argument 'encoding' not supported in binary mode")
        if errors is not None:
            raise ValueError("Argument 'errors' not supported in binary mode")
        if newline is not None:
            raise ValueError("Argument 'newline' not supported in binary mode")
    binary = TavFile(filename, mode.replace("t", ""), preset=preset, order=order, memory_mb=memory_mb,
                     threads=threads, block_size=block_size, level=level, long=long, plain=plain)
    if "t" not in mode:
        return binary
    if hasattr(io, "text_encoding"):
        encoding = io.text_encoding(encoding)
    return io.TextIOWrapper(binary, encoding, errors, newline)
