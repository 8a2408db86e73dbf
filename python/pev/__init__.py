"""Read, stream and pack voice archives (.pev) through libpev.

    import pev
    archive = pev.open("voices.pev")        # a path, or the bytes of one
    for clip in archive:
        print(clip.id, clip.samples, clip.rate, clip.problem)
    samples = archive[0].read()              # NumPy int16 (array('h') without NumPy)
    for chunk in archive[0].stream(4096):    # a few samples at a time
        ...
    data = pev.pack([samples, archive[1]], archive.rate, like=archive)
"""

import array
import ctypes
import os

from ._library import ClipInfo, LibraryNotFound, load

try:
    import numpy as _numpy
except ImportError:  # samples come as array('h')
    _numpy = None

__all__ = ["Archive", "Clip", "Error", "LibraryNotFound", "Reader", "open", "pack", "read_wav"]
__version__ = "1.1.0"

_lib = load()

PEV_OK = 0
PEV_ERR_BUFFER_TOO_SMALL = 3
PEV_ERR_WAV_REFUSED = 43
PEV_REPLACE = 1


class Error(Exception):
    """A libpev call failed; `status` is its pev_status code."""

    def __init__(self, status, what=""):
        self.status = status
        message = _lib.pev_strerror(status).decode()
        super().__init__(f"{what}: {message}" if what else message)


def _check(status, what=""):
    if status != PEV_OK:
        raise Error(status, what)


def _samples(count):
    """A zeroed sample buffer of `count` samples and a pointer to it."""
    if _numpy is not None:
        buffer = _numpy.zeros(count, dtype=_numpy.int16)
        return buffer, buffer.ctypes.data_as(ctypes.POINTER(ctypes.c_int16))
    buffer = array.array("h", bytes(2 * count))
    address = buffer.buffer_info()[0] if count else 0
    return buffer, ctypes.cast(address, ctypes.POINTER(ctypes.c_int16))


def _as_samples(clip):
    """Anything holding 16-bit samples as a contiguous buffer, and its pointer."""
    if isinstance(clip, Clip):
        clip = clip.read()
    if _numpy is not None:
        held = _numpy.ascontiguousarray(clip, dtype=_numpy.int16)
        return held, len(held), held.ctypes.data_as(ctypes.POINTER(ctypes.c_int16))
    held = clip if isinstance(clip, array.array) and clip.typecode == "h" else array.array("h", clip)
    address = held.buffer_info()[0] if len(held) else 0
    return held, len(held), ctypes.cast(address, ctypes.POINTER(ctypes.c_int16))


class _Closing:
    """Closed on leaving a with block, and when collected."""

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def __del__(self):
        self.close()


class Archive(_Closing):
    """An open voice archive: len(), iteration and archive[i] give its clips."""

    def __init__(self, source):
        self._handle = None
        handle = ctypes.c_void_p()
        if isinstance(source, (bytes, bytearray, memoryview)):
            # libpev reads the bytes in place: this copy lives as long as the archive.
            self._bytes = (ctypes.c_char * len(source)).from_buffer_copy(source)
            _check(_lib.pev_open_memory(self._bytes, len(source), ctypes.byref(handle)), "open")
        else:
            path = os.fsencode(source) if os.name != "nt" else os.fspath(source).encode()
            _check(_lib.pev_open_file(path, ctypes.byref(handle)), os.fspath(source))
        self._handle = handle
        count = ctypes.c_size_t()
        rate = ctypes.c_uint32()
        _check(_lib.pev_clip_count(handle, ctypes.byref(count)))
        _check(_lib.pev_sample_rate(handle, ctypes.byref(rate)))
        self._count = count.value
        self.rate = rate.value

    def close(self):
        if self._handle:
            _lib.pev_close(self._handle)
            self._handle = None

    def _opened(self):
        if not self._handle:
            raise ValueError("the archive is closed")
        return self._handle

    def __len__(self):
        return self._count

    def __getitem__(self, index):
        if index < 0:
            index += self._count
        if not 0 <= index < self._count:
            raise IndexError("no clip at that index")
        return Clip(self, index)

    def __iter__(self):
        return (Clip(self, i) for i in range(self._count))


class Clip:
    """Clip `index` of an archive: its id, sample count, rate and problem."""

    def __init__(self, archive, index):
        self.archive = archive
        self.index = index
        info = ClipInfo()
        info.struct_size = ctypes.sizeof(ClipInfo)
        _check(_lib.pev_get_clip_details(archive._opened(), index, ctypes.byref(info)))
        self.id = info.entry_id
        self.samples = info.sample_count
        self.rate = archive.rate
        self.block_count = info.block_count
        self.stored_bytes = info.stored_bytes
        # None for a clip that decodes; else why it cannot (a short phrase).
        self.problem = None if info.problem == PEV_OK else _lib.pev_strerror(info.problem).decode()
        self._problem_status = info.problem

    def __repr__(self):
        return f"<pev.Clip {self.index}: id {self.id}, {self.samples} samples at {self.rate} Hz>"

    def read(self):
        """The decoded samples: a NumPy int16 array, or array('h') without NumPy."""
        _check(self._problem_status, f"clip {self.index}")
        buffer, pointer = _samples(self.samples)
        got = ctypes.c_size_t()
        _check(_lib.pev_decode_clip(self.archive._opened(), self.index, pointer, self.samples,
                                    ctypes.byref(got)), f"clip {self.index}")
        return buffer

    def wav_bytes(self):
        """The clip as a whole WAV file, the bytes Pev2wav writes for it."""
        handle = self.archive._opened()
        size = ctypes.c_size_t()
        status = _lib.pev_decode_clip_wav(handle, self.index, None, 0, ctypes.byref(size))
        if status != PEV_ERR_BUFFER_TOO_SMALL:
            _check(status, f"clip {self.index}")
        image = ctypes.create_string_buffer(size.value)
        _check(_lib.pev_decode_clip_wav(handle, self.index, image, size.value, ctypes.byref(size)),
               f"clip {self.index}")
        return image.raw[: size.value]

    def reader(self):
        """A Reader of this clip, for reading a few samples at a time and seeking."""
        return Reader(self)

    def stream(self, frames=4096, start=0):
        """Yields the samples `frames` at a time (the last piece may be shorter)."""
        with Reader(self) as reader:
            reader.seek(start)
            while True:
                piece = reader.read(frames)
                if len(piece) == 0:
                    return
                yield piece


class Reader(_Closing):
    """pev_reader: reads with sample-accurate seeking, one block held at a time."""

    def __init__(self, clip):
        self._handle = None
        self._archive = clip.archive  # kept open while the reader lives
        handle = ctypes.c_void_p()
        _check(_lib.pev_reader_open(clip.archive._opened(), clip.index, ctypes.byref(handle)),
               f"clip {clip.index}")
        self._handle = handle
        length = ctypes.c_uint64()
        _check(_lib.pev_reader_length(handle, ctypes.byref(length)))
        self.length = length.value

    def read(self, frames):
        buffer, pointer = _samples(frames)
        got = ctypes.c_size_t()
        _check(_lib.pev_reader_read(self._handle, pointer, frames, ctypes.byref(got)), "read")
        return buffer[: got.value]

    def seek(self, frame):
        _check(_lib.pev_reader_seek(self._handle, frame), f"seek to {frame}")

    def tell(self):
        frame = ctypes.c_uint64()
        _check(_lib.pev_reader_tell(self._handle, ctypes.byref(frame)))
        return frame.value

    def close(self):
        if self._handle:
            _lib.pev_reader_close(self._handle)
            self._handle = None

    def __len__(self):
        return self.length


def open(source):  # noqa: A001 - the package's entry point, as in pev.open
    """Opens an archive from a path or from its bytes."""
    return Archive(source)


def pack(clips, rate, like=None, path=None, replace=False):
    """Packs clips (Clip objects, NumPy arrays, array('h'), lists of ints)
    into an archive at `rate` samples per second. A Clip of an open archive
    at that rate is copied as it is stored, not decoded and encoded again
    (so replacing one clip of a big archive costs about a copy of it). `like`: an Archive (or the
    path of one) whose entry ids and header it keeps; it must hold as many
    clips. Returns the archive's bytes, or writes it to `path` and returns
    None (an existing file only when `replace`)."""
    opened = like if isinstance(like, Archive) or like is None else Archive(like)
    writer = ctypes.c_void_p()
    if opened is None:
        _check(_lib.pev_writer_new(rate, ctypes.byref(writer)), "new archive")
    else:
        _check(_lib.pev_writer_new_like(rate, opened._opened(), ctypes.byref(writer)),
               "new archive")
    try:
        for number, clip in enumerate(clips):
            if isinstance(clip, Clip) and clip.rate == rate and clip.archive._handle:
                _check(_lib.pev_writer_copy_clip(writer, clip.archive._opened(), clip.index),
                       f"clip {number}")
                continue
            held, count, pointer = _as_samples(clip)
            _check(_lib.pev_writer_add_clip(writer, pointer, count), f"clip {number}")
            del held
        if path is not None:
            _check(_lib.pev_writer_finish_file(writer, os.fsencode(path),
                                               PEV_REPLACE if replace else 0), os.fspath(path))
            return None
        data = ctypes.c_void_p()
        size = ctypes.c_size_t()
        _check(_lib.pev_writer_finish_memory(writer, ctypes.byref(data), ctypes.byref(size)))
        try:
            return ctypes.string_at(data, size.value)
        finally:
            _lib.pev_free(data)
    finally:
        _lib.pev_writer_free(writer)


def read_wav(data):
    """Reads a WAV file's bytes as the packer does: (samples, rate). A file it
    cannot pack raises Error, whose message says why."""
    held = (ctypes.c_char * len(data)).from_buffer_copy(data)
    wav = ctypes.c_void_p()
    status = _lib.pev_wav_read(held, len(data), ctypes.byref(wav))
    try:
        if status == PEV_ERR_WAV_REFUSED:
            raise Error(status, _lib.pev_wav_refusal(wav).decode())
        _check(status, "WAV file")
        count = ctypes.c_size_t()
        pointer = _lib.pev_wav_samples(wav, ctypes.byref(count))
        buffer, target = _samples(count.value)
        if count.value:
            ctypes.memmove(target, pointer, 2 * count.value)
        return buffer, _lib.pev_wav_rate(wav)
    finally:
        _lib.pev_wav_free(wav)
