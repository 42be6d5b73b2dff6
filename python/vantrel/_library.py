"""Finding, loading and declaring the Vantrel C library.

The library is loaded once per process, at the first call that needs it, and
stays loaded: the C library keeps one process-wide session, and unloading it
while a session is open would end that session behind its owner's back.
"""
import ctypes
import os
import sys
import threading
from pathlib import Path
from typing import List, Optional

from ._errors import LibraryNotFoundError

_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None

if sys.platform == "win32":
    _NAME = "vantrel.dll"
    _LOADER_PATH = "PATH"
else:
    _NAME = "libvantrel.so.0"
    _LOADER_PATH = "LD_LIBRARY_PATH"


def _candidates() -> List[str]:
    """Where the library is looked for, in order.

    VANTREL_LIBRARY when set; else the library installed beside this package
    (``cmake --install`` puts the package into ``LIBDIR/python3/dist-packages``,
    three levels below the library); else the bare name, which the system
    loader looks up on its own path.
    """
    named = os.environ.get("VANTREL_LIBRARY")
    if named:
        return [named]
    beside = Path(__file__).resolve().parents[3] / _NAME
    return [str(beside), _NAME] if beside.is_file() else [_NAME]


def _default_log_directory() -> None:
    """Points the library's log at the user's state directory unless the
    environment names one: its default, beside the host executable, is the
    interpreter's directory, which is seldom writable."""
    if os.environ.get("VANTREL_LOG_DIR"):
        return
    if sys.platform == "win32":
        base = os.environ.get("LOCALAPPDATA") or os.path.expanduser("~")
        os.environ["VANTREL_LOG_DIR"] = os.path.join(base, "vantrel")
    else:
        state = os.environ.get("XDG_STATE_HOME") or os.path.expanduser("~/.local/state")
        os.environ["VANTREL_LOG_DIR"] = os.path.join(state, "vantrel")


def _declare(lib: ctypes.CDLL) -> None:
    int_p = ctypes.POINTER(ctypes.c_int)
    double_p = ctypes.POINTER(ctypes.c_double)
    # The symbol is an in/out buffer: only a writable ctypes buffer passes.
    char_p = ctypes.POINTER(ctypes.c_char)
    lib.Login.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p]
    lib.Login.restype = ctypes.c_int
    lib.Logoff.argtypes = []
    lib.Logoff.restype = ctypes.c_int
    lib.GetLastQuotes.argtypes = [char_p, int_p, double_p, double_p, int_p, double_p, double_p]
    lib.GetLastQuotes.restype = ctypes.c_int


def library() -> ctypes.CDLL:
    """The loaded library; loads it on first use.

    Raises LibraryNotFoundError when no candidate loads or a loaded file lacks
    the library's functions.
    """
    global _library
    with _lock:
        if _library is not None:
            return _library
        _default_log_directory()
        # 32-bit Windows exports the functions with __stdcall: WinDLL. On
        # 64-bit Windows and on Linux there is one convention.
        loader = getattr(ctypes, "WinDLL", ctypes.CDLL) if sys.platform == "win32" else ctypes.CDLL
        problems = []
        for candidate in _candidates():
            try:
                lib = loader(candidate)
                _declare(lib)
            except (OSError, AttributeError) as error:
                problems.append(f"{candidate}: {error}")
                continue
            _library = lib
            return lib
        raise LibraryNotFoundError(
            "cannot load the Vantrel library (" + "; ".join(problems) + "). Set VANTREL_LIBRARY "
            f"to the path of {_NAME}, or add its directory to {_LOADER_PATH}."
        )
