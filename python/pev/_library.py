"""Finding libpev and declaring the calls this package makes."""

import ctypes
import ctypes.util
import os
import sys


class LibraryNotFound(ImportError):
    """libpev is neither installed where the system looks nor named by PEV_LIBRARY."""


def _candidates():
    named = os.environ.get("PEV_LIBRARY")
    if named:
        return [named]
    found = ctypes.util.find_library("pev")
    names = [found] if found else []
    if sys.platform == "win32":
        names += ["pev.dll", "libpev.dll"]
    elif sys.platform == "darwin":
        names += ["libpev.1.dylib", "libpev.dylib"]
    else:
        names += ["libpev.so.1", "libpev.so"]
    return names


def load():
    tried = []
    for name in _candidates():
        try:
            return _declare(ctypes.CDLL(name))
        except OSError as error:
            tried.append(f"{name}: {error}")
    raise LibraryNotFound(
        "libpev was not found; install it, or set PEV_LIBRARY to the path of "
        "libpev.so (pev.dll on Windows). Tried: " + "; ".join(tried)
    )


class ClipInfo(ctypes.Structure):
    """pev_clip_details of pev.h."""

    _fields_ = [
        ("struct_size", ctypes.c_size_t),
        ("entry_id", ctypes.c_uint32),
        ("block_count", ctypes.c_uint32),
        ("silent_blocks", ctypes.c_uint32),
        ("raw_blocks", ctypes.c_uint32),
        ("delta_blocks", ctypes.c_uint32),
        ("problem", ctypes.c_int),
        ("stored_bytes", ctypes.c_uint64),
        ("sample_count", ctypes.c_uint64),
    ]


READ_CALLBACK = ctypes.CFUNCTYPE(
    ctypes.c_int64, ctypes.c_void_p, ctypes.c_uint64, ctypes.c_void_p, ctypes.c_size_t
)

_P = ctypes.c_void_p
_PP = ctypes.POINTER(ctypes.c_void_p)
_SIZE = ctypes.c_size_t
_SIZE_P = ctypes.POINTER(ctypes.c_size_t)
_I16_P = ctypes.POINTER(ctypes.c_int16)

# name: (result, argument types); a result of None is a pev_status.
_CALLS = {
    "pev_strerror": (ctypes.c_char_p, [ctypes.c_int]),
    "pev_version": (ctypes.c_long, []),
    "pev_open_file": (None, [ctypes.c_char_p, _PP]),
    "pev_open_memory": (None, [_P, _SIZE, _PP]),
    "pev_close": (ctypes.c_void_p, [_P]),
    "pev_clip_count": (None, [_P, _SIZE_P]),
    "pev_sample_rate": (None, [_P, ctypes.POINTER(ctypes.c_uint32)]),
    "pev_get_clip_details": (None, [_P, _SIZE, ctypes.POINTER(ClipInfo)]),
    "pev_decode_clip": (None, [_P, _SIZE, _I16_P, _SIZE, _SIZE_P]),
    "pev_decode_clip_wav": (None, [_P, _SIZE, _P, _SIZE, _SIZE_P]),
    "pev_reader_open": (None, [_P, _SIZE, _PP]),
    "pev_reader_read": (None, [_P, _I16_P, _SIZE, _SIZE_P]),
    "pev_reader_seek": (None, [_P, ctypes.c_uint64]),
    "pev_reader_tell": (None, [_P, ctypes.POINTER(ctypes.c_uint64)]),
    "pev_reader_length": (None, [_P, ctypes.POINTER(ctypes.c_uint64)]),
    "pev_reader_close": (ctypes.c_void_p, [_P]),
    "pev_writer_new": (None, [ctypes.c_uint32, _PP]),
    "pev_writer_new_like": (None, [ctypes.c_uint32, _P, _PP]),
    "pev_writer_add_clip": (None, [_P, _I16_P, _SIZE]),
    "pev_writer_copy_clip": (None, [_P, _P, _SIZE]),
    "pev_writer_finish_file": (None, [_P, ctypes.c_char_p, ctypes.c_uint]),
    "pev_writer_finish_memory": (None, [_P, _PP, _SIZE_P]),
    "pev_writer_free": (ctypes.c_void_p, [_P]),
    "pev_free": (ctypes.c_void_p, [_P]),
    "pev_wav_read": (None, [_P, _SIZE, _PP]),
    "pev_wav_refusal": (ctypes.c_char_p, [_P]),
    "pev_wav_rate": (ctypes.c_uint32, [_P]),
    "pev_wav_samples": (_I16_P, [_P, _SIZE_P]),
    "pev_wav_free": (ctypes.c_void_p, [_P]),
}


def _declare(lib):
    for name, (result, arguments) in _CALLS.items():
        function = getattr(lib, name)
        function.restype = ctypes.c_int if result is None else result
        function.argtypes = arguments
    return lib
