#!/usr/bin/python3
"""What VLC's preparser makes of each file, as a playlist shows it before
anything plays: through libvlc (the library VLC's players stand on, called
with ctypes), each FILE is parsed, and one line is printed for each of its
items (its sub-items when it has some, else itself): title, track number and
track total as the item has them before it is parsed itself, and its
duration in milliseconds once it is, tab-separated. Run by vlc_check.py with
VLC_PLUGIN_PATH set.

    vlc_items.py FILE..."""
import ctypes
import sys
import time

TITLE, TRACK_NUMBER, TRACK_TOTAL = 0, 5, 17
PARSE_LOCAL = 0
PARSED_DONE = 4


def main():
    vlc = ctypes.CDLL("libvlc.so.5")
    vlc.libvlc_new.restype = ctypes.c_void_p
    vlc.libvlc_new.argtypes = [ctypes.c_int, ctypes.POINTER(ctypes.c_char_p)]
    vlc.libvlc_media_new_path.restype = ctypes.c_void_p
    vlc.libvlc_media_new_path.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
    vlc.libvlc_media_parse_with_options.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
    vlc.libvlc_media_get_parsed_status.argtypes = [ctypes.c_void_p]
    vlc.libvlc_media_subitems.restype = ctypes.c_void_p
    vlc.libvlc_media_subitems.argtypes = [ctypes.c_void_p]
    vlc.libvlc_media_list_count.argtypes = [ctypes.c_void_p]
    vlc.libvlc_media_list_item_at_index.restype = ctypes.c_void_p
    vlc.libvlc_media_list_item_at_index.argtypes = [ctypes.c_void_p, ctypes.c_int]
    vlc.libvlc_media_get_meta.restype = ctypes.c_void_p  # freed with libvlc_free
    vlc.libvlc_media_get_meta.argtypes = [ctypes.c_void_p, ctypes.c_int]
    vlc.libvlc_media_get_duration.restype = ctypes.c_int64
    vlc.libvlc_media_get_duration.argtypes = [ctypes.c_void_p]
    vlc.libvlc_free.argtypes = [ctypes.c_void_p]
    for name in ("libvlc_media_release", "libvlc_media_list_release", "libvlc_release",
                 "libvlc_media_list_lock", "libvlc_media_list_unlock"):
        getattr(vlc, name).argtypes = [ctypes.c_void_p]

    def meta(media, kind):
        value = vlc.libvlc_media_get_meta(media, kind)
        if not value:
            return ""
        text = ctypes.string_at(value).decode(errors="replace")
        vlc.libvlc_free(value)
        return text

    def parse(media):
        vlc.libvlc_media_parse_with_options(media, PARSE_LOCAL, 20000)
        deadline = time.monotonic() + 25
        while vlc.libvlc_media_get_parsed_status(media) == 0 and time.monotonic() < deadline:
            time.sleep(0.05)
        return vlc.libvlc_media_get_parsed_status(media) == PARSED_DONE

    def describe(media):
        described = [meta(media, TITLE), meta(media, TRACK_NUMBER), meta(media, TRACK_TOTAL)]
        duration = vlc.libvlc_media_get_duration(media) if parse(media) else "not parsed"
        print("\t".join(described + [str(duration)]), flush=True)

    arguments = (ctypes.c_char_p * 2)(b"--no-one-instance", b"--quiet")
    instance = vlc.libvlc_new(2, arguments)
    if not instance:
        print("libvlc_new failed", file=sys.stderr)
        return 1
    for path in sys.argv[1:]:
        media = vlc.libvlc_media_new_path(instance, path.encode())
        if not parse(media):
            print(f"{path}: not parsed", file=sys.stderr)
            return 1
        items = vlc.libvlc_media_subitems(media)
        vlc.libvlc_media_list_lock(items)
        count = vlc.libvlc_media_list_count(items)
        for index in range(count):
            item = vlc.libvlc_media_list_item_at_index(items, index)
            describe(item)
            vlc.libvlc_media_release(item)
        vlc.libvlc_media_list_unlock(items)
        vlc.libvlc_media_list_release(items)
        if count == 0:
            describe(media)
        vlc.libvlc_media_release(media)
    vlc.libvlc_release(instance)
    return 0


if __name__ == "__main__":
    sys.exit(main())
