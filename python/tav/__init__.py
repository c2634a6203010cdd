"""tav: the context-mixing text codec, with the interface of lzma and bz2.

Files are those tav_e writes and tav_d reads: one or more members, each a
header, a range-coded stream and a trailer with the XXH64 of its text.

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
(default 32 MiB).  Failures of the codec raise `Error`, a ValueError.
"""
import builtins
import io
import os
import threading
from array import array

from . import _tav
from ._tav import (
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


def compress(data, preset=None, order=None, memory_mb=None, threads=0, *, level=None, block_size=None):
    """Compresses a buffer and returns the compressed file as bytes.

    The bytes are those tav_e writes with the same settings, whatever the
    number of threads (0: one per core).  The output is sized once, by
    compress_bound().

        >>> tav.decompress(tav.compress(b"abc" * 1000, preset=2)) == b"abc" * 1000
        True
    """
    return _tav.compress(data, _level(preset, level), order, memory_mb, threads, block_size)


def decompress(data):
    """Decodes a whole compressed file, every member checked, and returns its text.

    Several members, and several compressed files one after another, give
    their texts in order.  Damaged data raises Error.

        >>> tav.decompress(tav.compress(b"x") + tav.compress(b"y"))
        b'xy'
    """
    return _tav.decompress(data)


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
    memory_mb, checked (False for a plain file of an earlier build) and
    text_hash (the XXH64 of the text, None when unchecked).

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
    threads, not by the text.

        >>> c = tav.TavCompressor(preset=3)
        >>> packed = c.compress(b"part one, ") + c.compress(b"part two") + c.flush()
        >>> tav.decompress(packed)
        b'part one, part two'
    """

    def __init__(self, preset=None, *, order=None, memory_mb=None, threads=0, block_size=None, level=None):
        self._lock = threading.Lock()
        self._stream = _tav.Compressor(_level(preset, level), order, memory_mb, threads, block_size)
        self._flushed = False

    def compress(self, data):
        """Takes more text; returns the compressed bytes ready so far."""
        with self._lock:
            if self._flushed:
                raise ValueError("Compressor has been flushed")
            return self._stream.push(data, False)

    def flush(self):
        """Ends the input and returns the rest of the compressed bytes."""
        with self._lock:
            if self._flushed:
                raise ValueError("Repeated call to flush()")
            self._flushed = True
            return self._stream.push(b"", True)


# The last bytes of every member's trailer.  Finding them only tells where a
# member may end: the library checks each candidate (tav.list) before it is
# taken.
_MEMBER_END = b"\x89tavMB\r\xff"


def _contiguous(data):
    view = memoryview(data)
    return view if view.c_contiguous else memoryview(view.tobytes())


class TavDecompressor:
    """Decodes one member at a time, as bz2.BZ2Decompressor decodes one stream.

    The library finds members from the end of the input, so a member is
    decoded when its trailer has arrived: until then decompress() returns
    b"" and holds the member's compressed bytes; then it decodes and checks
    the member and returns its text (up to `max_length` bytes a call; the
    rest waits, and needs_input is False).  eof becomes True once the
    member's text has been returned; unused_data holds the input after the
    member, which may be the next member: a file of several members (tav_e
    writes one per 32 MiB block) takes one decompressor per member, as a
    multi-stream bz2 file does.  tav.decompress(), TavFile and tav.open()
    read every member.  Memory: one member's compressed bytes and its text.
    A plain file of an earlier build has no trailer and never ends here:
    tav.decompress() reads it.

        >>> d = tav.TavDecompressor()
        >>> d.decompress(tav.compress(b"hello") + b"more")
        b'hello'
        >>> d.eof, d.unused_data
        (True, b'more')
    """

    def __init__(self):
        self._lock = threading.Lock()
        self._input = bytearray()  # the member so far
        self._scan = 0  # where the search for its end goes on
        self._text = None  # its text, once decoded
        self._given = 0  # of the text, returned so far
        self._after = bytearray()  # input after the member
        self.eof = False
        self.unused_data = b""
        self.needs_input = True

    def decompress(self, data, max_length=-1):
        """Takes compressed bytes; returns text of the member once its trailer has arrived."""
        with self._lock:
            if self.eof:
                raise EOFError("End of stream already reached")
            if self._text is None:
                self._input += _contiguous(data)
                self._find_member()
            else:
                self._after += _contiguous(data)
            return self._give(max_length)

    def _find_member(self):
        while True:
            at = self._input.find(_MEMBER_END, self._scan)
            if at < 0:
                self._scan = max(self._scan, len(self._input) - len(_MEMBER_END) + 1)
                return
            self._scan = at + 1
            end = at + len(_MEMBER_END)
            with memoryview(self._input) as view, view[:end] as candidate:
                try:
                    members = _tav.list(candidate)
                except Error:
                    continue  # the magic bytes inside a stream, or a damaged trailer
                if not members[0]["checked"]:
                    continue
                size = members[0]["compressed_bytes"]
                with view[:size] as member:
                    text = _tav.decompress(member)
            self._text, self._given = text, 0
            self._after = self._input[size:]
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
        """The bytes of a member whose trailer never came (for the readers)."""
        rest, self._input = bytes(self._input), bytearray()
        return rest


_READ_SIZE = 1 << 16


class _MemberReader(io.RawIOBase):
    """The text of a compressed file object, member by member.

    Input that ends inside a member is, when no member came before it, a
    whole file that the library decodes (a plain file of an earlier build)
    or refuses; after members it is damage, as the library says of such a
    whole file (a plain file never follows a member).
    """

    def __init__(self, fp):
        self._fp = fp
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
        self._members = 0
        self._eof = False
        self._pos = 0
        self._size = -1

    def readable(self):
        return True

    def seekable(self):
        return self._fp.seekable()

    def _fill(self):
        """The next member's text into self._text; False at the end of the input."""
        while not self._input_done:
            d = self._decompressor
            raw = (d.unused_data if d.eof else b"") or self._fp.read(_READ_SIZE)
            if not raw:
                self._input_done = True
                rest = b"" if d.eof else d._unfinished()
                if rest and self._members:
                    damaged = Error(_tav.error_message(ERROR_DAMAGED))
                    damaged.code = ERROR_DAMAGED
                    raise damaged
                text = decompress(rest) if rest else b""
            else:
                if d.eof:
                    d = self._decompressor = TavDecompressor()
                text = d.decompress(raw)
                self._members += d.eof
            if text:
                self._text, self._given = text, 0
                return True
        return False

    def _next(self, size):
        """Up to `size` bytes of text (all of a member for -1), as a view."""
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
    append (the new members follow the old; reading gives both texts).
    Reading decodes member by member and reads any number of members and of
    files one after another; seek() goes back by decoding again from the
    start.  Writing compresses through the library's stream, block by block.

        >>> with tav.TavFile("log.tav", "w", preset=4) as f:
        ...     _ = f.write(b"line one\\nline two\\n")
        >>> with tav.TavFile("log.tav") as f:
        ...     [line for line in f]
        [b'line one\\n', b'line two\\n']
    """

    def __init__(self, filename=None, mode="r", *, preset=None, order=None, memory_mb=None, threads=0,
                 block_size=None, level=None):
        self._fp = None
        self._closefp = False
        self._mode = _CLOSED
        if mode in ("r", "rb"):
            if any(s is not None for s in (preset, order, memory_mb, block_size, level)):
                raise ValueError("Cannot specify compression settings when opening a file for reading")
            mode_code = _READ
        elif mode in ("w", "wb", "a", "ab", "x", "xb"):
            mode_code = _WRITE
            self._compressor = TavCompressor(preset, order=order, memory_mb=memory_mb, threads=threads,
                                             block_size=block_size, level=level)
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
            self._buffer = io.BufferedReader(_MemberReader(self._fp))

    def close(self):
        """Flushes and closes the file; a file object given to it is closed only if it was opened here."""
        if self._mode == _CLOSED:
            return
        try:
            if self._mode == _READ:
                self._buffer.close()
                self._buffer = None
            else:
                self._fp.write(self._compressor.flush())
                self._compressor = None
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
         level=None, encoding=None, errors=None, newline=None):  # noqa: A001 -- as lzma.open
    """Opens a compressed file in binary or text mode, as lzma.open and bz2.open.

    mode: "r", "rb", "w", "wb", "x", "xb", "a", "ab" give a TavFile;
    "rt", "wt", "xt", "at" wrap it in io.TextIOWrapper with `encoding`,
    `errors` and `newline`.

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
                     threads=threads, block_size=block_size, level=level)
    if "t" not in mode:
        return binary
    if hasattr(io, "text_encoding"):
        encoding = io.text_encoding(encoding)
    return io.TextIOWrapper(binary, encoding, errors, newline)
