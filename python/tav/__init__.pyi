import io
import os
from array import array
from typing import Any, Dict, List, Literal, Optional, Union, overload

from typing_extensions import Buffer as _Buffer

_StrPath = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
_BinaryMode = Literal["r", "rb", "w", "wb", "x", "xb", "a", "ab"]
_TextMode = Literal["rt", "wt", "xt", "at"]

__version__: str
__all__: List[str]

DEFAULT_LONG_WINDOW: int

ERROR_PARAMETER: int
ERROR_DAMAGED: int
ERROR_UNSUPPORTED: int
ERROR_CANNOT_CODE: int
ERROR_TOO_LARGE: int

class Error(ValueError):
    code: int

def compress(
    data: _Buffer,
    preset: Optional[int] = None,
    order: Optional[int] = None,
    memory_mb: Optional[int] = None,
    threads: int = 0,
    *,
    level: Optional[int] = None,
    block_size: Optional[int] = None,
    long: Union[bool, int] = False,
) -> bytes: ...
def decompress(data: _Buffer, *, plain: bool = False) -> bytes: ...
def compress_bound(size: int, block_size: Optional[int] = None) -> int: ...
def list(data: _Buffer) -> List[Dict[str, Any]]: ...
def costs(data: _Buffer, order: int = 8, memory_mb: int = 1024) -> Union["array[float]", Any]: ...

class TavCompressor:
    def __init__(
        self,
        preset: Optional[int] = None,
        *,
        order: Optional[int] = None,
        memory_mb: Optional[int] = None,
        threads: int = 0,
        block_size: Optional[int] = None,
        level: Optional[int] = None,
        long: Union[bool, int] = False,
    ) -> None: ...
    def compress(self, data: _Buffer) -> bytes: ...
    def flush(self) -> bytes: ...

class TavDecompressor:
    eof: bool
    unused_data: bytes
    needs_input: bool
    def __init__(self) -> None: ...
    def decompress(self, data: _Buffer, max_length: int = -1) -> bytes: ...

class TavFile(io.BufferedIOBase):
    def __init__(
        self,
        filename: Union[_StrPath, Any] = None,
        mode: _BinaryMode = "r",
        *,
        preset: Optional[int] = None,
        order: Optional[int] = None,
        memory_mb: Optional[int] = None,
        threads: int = 0,
        block_size: Optional[int] = None,
        level: Optional[int] = None,
        long: Union[bool, int] = False,
        plain: bool = False,
    ) -> None: ...
    @property
    def name(self) -> Any: ...
    @property
    def mode(self) -> str: ...
    def peek(self, size: int = -1) -> bytes: ...
    def read(self, size: Optional[int] = -1) -> bytes: ...
    def read1(self, size: int = -1) -> bytes: ...
    def readinto(self, b: _Buffer) -> int: ...
    def readline(self, size: Optional[int] = -1) -> bytes: ...
    def write(self, data: _Buffer) -> int: ...
    def seek(self, offset: int, whence: int = 0) -> int: ...
    def tell(self) -> int: ...

@overload
def open(
    filename: Union[_StrPath, Any],
    mode: _BinaryMode = "rb",
    *,
    preset: Optional[int] = None,
    order: Optional[int] = None,
    memory_mb: Optional[int] = None,
    threads: int = 0,
    block_size: Optional[int] = None,
    level: Optional[int] = None,
    long: Union[bool, int] = False,
    plain: bool = False,
    encoding: None = None,
    errors: None = None,
    newline: None = None,
) -> TavFile: ...
@overload
def open(
    filename: Union[_StrPath, Any],
    mode: _TextMode,
    *,
    preset: Optional[int] = None,
    order: Optional[int] = None,
    memory_mb: Optional[int] = None,
    threads: int = 0,
    block_size: Optional[int] = None,
    level: Optional[int] = None,
    long: Union[bool, int] = False,
    plain: bool = False,
    encoding: Optional[str] = None,
    errors: Optional[str] = None,
    newline: Optional[str] = None,
) -> io.TextIOWrapper: ...
