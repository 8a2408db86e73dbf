"""A --write mount's promises, each checked on what the folder shows after
every step (names, sizes, bytes, times) and on the archive afterwards,
against `pev extract` and `pev replace`."""

import errno
import os
import random
import shutil
import stat
import time
from pathlib import Path

from support import (Mount, bounded, check, close_refused, extracted, listing, log_lines,
                     mount_in_background, replaced_by_pev, run, same_folder, shown, tested_clean,
                     tone, wait_for, wav_bytes)


def fresh(scratch, base, name):
    """A copy of `base` in a folder of its own, to mount for writing."""
    folder = scratch / name
    folder.mkdir()
    archive = folder / "demo.pev"
    shutil.copy(base, archive)
    return archive


def close_fails(fd, wanted, what):
    try:
        os.close(fd)
        return check(False, f"{what}: close succeeded")
    except OSError as error:
        return check(error.errno == wanted, f"{what}: close failed with {error}")


def test_write(pev, scratch):
    demo = scratch / "demo.pev"
    base = scratch / "w-demo.pev"
    shutil.copy(demo, base)
    sources = scratch / "w-src"
    run(pev, "extract", "-q", "-o", sources, demo)
    stored = extracted(pev, demo)  # the same bytes under the mounted archives' name
    # Saved files are fresh recordings, which the lossy coding changes (the
    # extracted clips would come back from a rewrite byte for byte), so that
    # a clip still showing its save after the rewrite is seen.
    for number, length in ((1, 40000), (2, 30000), (3, 50000)):
        (sources / f"demo_000{number}.wav").write_bytes(wav_bytes(tone(length, 100 + number)))
    new1, new3 = (sources / "demo_0001.wav").read_bytes(), (sources / "demo_0003.wav").read_bytes()

    with bounded("cp over a clip, then sync DIR"):
        archive = fresh(scratch, base, "w1")
        mount = Mount(pev, archive, scratch / "w1-m", "--write")
        shutil.copy(sources / "demo_0003.wav", mount.folder / "demo_0001.wav")
        same_folder(shown(mount.folder), {**stored, "demo_0001.wav": new3},
                    "a saved clip, before the rewrite")
        run("sync", mount.folder)
        expected = replaced_by_pev(pev, scratch, base, [(1, sources / "demo_0003.wav")], "r1.pev")
        check(archive.read_bytes() == expected, "cp + sync DIR equals pev replace")
        # Written into the archive, the clip shows the archive's bytes (the
        # coding is lossy), and so does every other clip.
        after = extracted(pev, archive)
        check(after["demo_0001.wav"] != new3, "the coding changed the saved recording")
        same_folder(shown(mount.folder), after, "the folder after the rewrite")
        fds = Path(f"/proc/{mount.process.pid}/fd")
        held = [os.readlink(fd) for fd in fds.iterdir() if os.readlink(fd).endswith("(deleted)")
                and "demo.pev" in os.readlink(fd)]
        check(not held, f"the archive before the rewrite is still held open: {held}")

    with bounded("the timed rewrite, the folder read meanwhile"):
        # Nothing asked: the rewrite comes by itself 2 s after the last
        # close, while the folder is read (the timer's thread beside the one
        # answering).
        shutil.copy(sources / "demo_0001.wav", mount.folder / "demo_0003.wav")
        rewrites = mount.text().count("rewritten with")

        def rewritten():
            for name in ("demo_0001.wav", "demo_0002.wav"):
                (mount.folder / name).read_bytes()
            return mount.text().count("rewritten with") > rewrites
        wait_for(rewritten, "the rewrite 2 s after the last close")
        expected = replaced_by_pev(pev, scratch, base, [(1, sources / "demo_0003.wav"),
                                                        (3, sources / "demo_0001.wav")], "r1t.pev")
        check(archive.read_bytes() == expected,
              "the rewrite after the last close equals pev replace")
        same_folder(shown(mount.folder), extracted(pev, archive),
                    "the folder after a timed rewrite")

    with bounded("saved under another name and renamed over a clip"):
        before = shown(mount.folder)
        (mount.folder / ".demo_0002.wav.swp").write_bytes(new1)
        os.rename(mount.folder / ".demo_0002.wav.swp", mount.folder / "demo_0002.wav")
        same_folder(shown(mount.folder), {**before, "demo_0002.wav": new1},
                    "renamed over a clip: the temporary name gone, the clip saved")

    with bounded("refusals at close and at rename"):
        # A file no build takes: close fails with EPERM ("Operation not
        # permitted"), and the clip shows what it showed before.
        before = shown(mount.folder)
        for bad in (b"not a wav file", wav_bytes(tone(100, 1))[:30]):
            fd = os.open(mount.folder / "demo_0003.wav", os.O_WRONLY | os.O_TRUNC)
            os.write(fd, bad)
            close_fails(fd, errno.EPERM, f"a refused file ({bad[:12]!r})")
            same_folder(shown(mount.folder), before, "after a refused close")
        # Logged at the release, which the kernel sends after close returns.
        refusals = lambda: log_lines(mount.text(), "demo_0003.wav: not a sound file")
        wait_for(lambda: len(refusals()) >= 2, "the refusals logged")
        check(len(refusals()) == 2, f"each refusal logged once: {mount.text()!r}")
        # Renamed over a clip: refused at the rename, in words mv prints true.
        (mount.folder / "t.txt").write_text("text")
        result = run("mv", mount.folder / "t.txt", mount.folder / "demo_0003.wav", ok=False)
        check(result.returncode == 1 and "Operation not permitted" in result.stderr,
              f"mv of a refused file over a clip: {result.stderr!r}")
        same_folder(shown(mount.folder), {**before, "t.txt": b"text"}, "after a refused mv")
        os.unlink(mount.folder / "t.txt")

    with bounded("names a folder of clips refuses"):
        # A new clip number cannot be made; links and folders neither.
        for action in (lambda: open(mount.folder / "demo_0009.wav", "wb"),
                       lambda: os.rename(mount.folder / "demo_0001.wav",
                                         mount.folder / "demo_0004.wav"),
                       lambda: os.link(mount.folder / "demo_0001.wav", mount.folder / "x.wav"),
                       lambda: os.mkdir(mount.folder / "sub")):
            try:
                action()
                check(False, "a name the folder refuses was made")
            except OSError as error:
                check(error.errno == errno.EPERM, f"names: {error}")
        (mount.folder / "notes.txt").write_text("kept till unmount")
        os.unlink(mount.folder / "notes.txt")
        check(mount.unmount() == 0, "the mount ends with status 0")
        expected = replaced_by_pev(pev, scratch, base, [(1, sources / "demo_0003.wav"),
                                                        (2, sources / "demo_0001.wav"),
                                                        (3, sources / "demo_0001.wav")], "r2.pev")
        check(archive.read_bytes() == expected, "rename + unmount equals pev replace")
        check(listing(archive.parent) == ["demo.pev"], "nothing beside the archive")
        tested_clean(pev, archive, "after the mount's rewrites")

    test_saves_in_a_row(pev, scratch, base, sources, stored)
    test_open_files(pev, scratch, base, sources, stored)
    test_removed_clips(pev, scratch, base, sources, stored)
    test_times(pev, scratch, base, sources)
    test_converted_and_batched(pev, scratch, base, sources)


def test_saves_in_a_row(pev, scratch, base, sources, stored):
    """An accepted save then a refused one; a waiting save truncated by name."""
    new1 = (sources / "demo_0001.wav").read_bytes()
    with bounded("an accepted save, then a refused one within 2 s"):
        archive = fresh(scratch, base, "w-row")
        mount = Mount(pev, archive, scratch / "w-row-m", "--write")
        shutil.copy(sources / "demo_0001.wav", mount.folder / "demo_0002.wav")
        with open(mount.folder / "demo_0002.wav", "wb") as file:
            file.write(b"junk, refused")
            close_refused(file, "a refused save after an accepted one")
        same_folder(shown(mount.folder), {**stored, "demo_0002.wav": new1},
                    "a refused save after an accepted one: the accepted one shows")
        # Truncated by name while the save waits: emptied now, but the save
        # is not lost (it waits under the empty file, which shows the save
        # again once it is not written within 2 s).
        os.truncate(mount.folder / "demo_0002.wav", 0)
        check((mount.folder / "demo_0002.wav").stat().st_size == 0, "truncated by name: empty")
        wait_for(lambda: (mount.folder / "demo_0002.wav").stat().st_size == len(new1),
                 "an emptied clip shows its save again")
        wait_for(lambda: "rewritten with 1 clip" in mount.text(), "the save's rewrite")
        check(mount.unmount() == 0, "the mount ends with status 0")
        expected = replaced_by_pev(pev, scratch, base, [(2, sources / "demo_0001.wav")], "rw.pev")
        check(archive.read_bytes() == expected,
              "an accepted save followed by a refused one and a truncation reaches the archive")
        check("was emptied and not written again" in mount.text(),
              f"the emptied clip shown again is logged: {mount.text()!r}")


def test_open_files(pev, scratch, base, sources, stored):
    """Descriptors as programs hold them: several on one draft, a refused
    draft written again, attributes and truncation by handle, a file removed
    while open."""
    new1 = (sources / "demo_0001.wav").read_bytes()
    new3 = (sources / "demo_0003.wav").read_bytes()
    archive = fresh(scratch, base, "w-open")
    mount = Mount(pev, archive, scratch / "w-open-m", "--write")
    clip = mount.folder / "demo_0002.wav"
    with bounded("a refused draft kept open for the descriptors that remain"):
        fd = os.open(clip, os.O_WRONLY | os.O_TRUNC)
        second = os.dup(fd)
        os.write(fd, b"half a save")
        close_fails(second, errno.EPERM, "the first close of a refused draft")
        same_folder(shown(mount.folder), stored, "a refused draft still open: the clip as it was")
        # Its size, asked by handle (lseek to the end): the draft's.
        check(os.lseek(fd, 0, os.SEEK_END) == len(b"half a save"), "the open draft keeps its bytes")
        # Written again through the descriptor that remains: judged again.
        # The truncation's answer is the file's (not the folder's, which
        # would make the kernel drop the file as broken).
        os.ftruncate(fd, 0)
        check(os.lseek(fd, 0, os.SEEK_END) == 0, "truncated by handle")
        check(stat.S_ISREG(os.stat(clip).st_mode), "a file after a truncation by handle")
        os.pwrite(fd, new1, 0)
        os.close(fd)
        same_folder(shown(mount.folder), {**stored, "demo_0002.wav": new1},
                    "a refused draft written again and accepted")
        check(not log_lines(mount.text(), "demo_0002.wav: not a sound file"),
              f"a refusal set right before its last close is not logged: {mount.text()!r}")
    with bounded("a refused draft dropped at its last close, and logged once"):
        fd = os.open(clip, os.O_WRONLY | os.O_TRUNC)
        second = os.dup(fd)
        os.write(fd, b"junk")
        close_fails(second, errno.EPERM, "the first close")
        close_fails(fd, errno.EPERM, "the last close of a refused draft")
        refusals = lambda: log_lines(mount.text(), "demo_0002.wav: not a sound file")
        wait_for(lambda: refusals(), "the refusal logged")
        time.sleep(0.2)  # a second line would come as soon
        check(len(refusals()) == 1, f"dropped and logged once: {mount.text()!r}")
        same_folder(shown(mount.folder), {**stored, "demo_0002.wav": new1},
                    "a refused draft dropped: the save before it shows")
    with bounded("a file removed while open leaves nothing"):
        with open(mount.folder / "notes.txt", "w+b") as notes:
            notes.write(b"removed while open")
            os.unlink(mount.folder / "notes.txt")
            check(listing(mount.folder) == sorted(stored), f"nothing left: {listing(mount.folder)}")
            notes.seek(0)
            check(notes.read() == b"removed while open", "a removed open file reads on")
        check(listing(mount.folder) == sorted(stored), f"after its close: {listing(mount.folder)}")
    with bounded("a file renamed over a clip while still open (GIO saves so)"):
        with open(mount.folder / ".goutputstream-X", "wb") as temporary:
            temporary.write(new3)
            os.rename(mount.folder / ".goutputstream-X", clip)
        same_folder(shown(mount.folder), {**stored, "demo_0002.wav": new3},
                    "renamed while open, then closed")
        with open(mount.folder / ".goutputstream-Y", "wb") as temporary:
            temporary.write(b"junk")
            os.rename(mount.folder / ".goutputstream-Y", clip)
            close_refused(temporary, "a refused file renamed while open")
        same_folder(shown(mount.folder), {**stored, "demo_0002.wav": new3},
                    "a refused file renamed while open: the clip as it was")
    check(mount.unmount() == 0, "the mount ends with status 0")
    expected = replaced_by_pev(pev, scratch, base, [(2, sources / "demo_0003.wav")], "ro.pev")
    check(archive.read_bytes() == expected, "open files: the last accepted save in the archive")


def test_removed_clips(pev, scratch, base, sources, stored):
    """A clip's file removed, or renamed away, and not written again shows
    again as it was; renamed back unchanged, nothing is saved."""
    archive = fresh(scratch, base, "w-rm")
    mount = Mount(pev, archive, scratch / "w-rm-m", "--write")
    with bounded("a removed clip shows again"):
        os.unlink(mount.folder / "demo_0001.wav")
        names = listing(mount.folder)
        check(names == ["demo_0002.wav", "demo_0003.wav"], f"removed: {names}")
        check(not (mount.folder / "demo_0001.wav").exists(), "a removed clip's name is free")
        wait_for(lambda: listing(mount.folder) == sorted(stored), "the removed clip back")
        same_folder(shown(mount.folder), stored, "a removed clip shown again")
        check("demo_0001.wav was removed and not written again" in mount.text(),
              f"logged: {mount.text()!r}")
    with bounded("a clip renamed away and back"):
        os.rename(mount.folder / "demo_0002.wav", mount.folder / "demo_0002.wav~")
        same_folder(shown(mount.folder), {"demo_0001.wav": stored["demo_0001.wav"],
                                          "demo_0002.wav~": stored["demo_0002.wav"],
                                          "demo_0003.wav": stored["demo_0003.wav"]},
                    "a clip renamed away: its bytes under the new name")
        os.rename(mount.folder / "demo_0002.wav~", mount.folder / "demo_0002.wav")
        same_folder(shown(mount.folder), stored, "renamed back")
        run("sync", mount.folder)
        check("rewritten" not in mount.text(), f"nothing saved by renaming back: {mount.text()!r}")
    check(mount.unmount() == 0, "the mount ends with status 0")
    check(archive.read_bytes() == base.read_bytes(), "removals and renames change no clip")


def stamp(path):
    status = os.stat(path)
    return status.st_atime_ns, status.st_mtime_ns


def test_times(pev, scratch, base, sources):
    """Times set with touch, by name and by handle, shown as set, and kept
    by a saved clip after the rewrite."""
    archive = fresh(scratch, base, "w-time")
    mount = Mount(pev, archive, scratch / "w-time-m", "--write")
    folder = mount.folder
    a_time, m_time = 981158400 * 10**9, 1012521600 * 10**9  # 2001-02-03, 2002-02-01
    with bounded("times set by name"):
        for name in ("notes.txt", "demo_0001.wav"):
            if name == "notes.txt":
                (folder / name).write_text("notes")
            atime, _ = stamp(folder / name)
            run("touch", "-m", "-d", "2002-02-01 00:00:00 UTC", folder / name)
            check(stamp(folder / name) == (atime, m_time),
                  f"{name}: touch -m sets the modification time alone: {stamp(folder / name)}")
            run("touch", "-a", "-d", "2001-02-03 00:00:00 UTC", folder / name)
            check(stamp(folder / name) == (a_time, m_time),
                  f"{name}: touch -a sets the access time alone: {stamp(folder / name)}")
            os.utime(folder / name, ns=(a_time, a_time))
            check(stamp(folder / name) == (a_time, a_time), f"{name}: both by utime")
    with bounded("times set by handle, and kept through the rewrite"):
        with open(folder / "demo_0002.wav", "r+b") as file:
            data = file.read()
            file.seek(0)
            file.write(data)  # saved as it was: a save all the same
            file.flush()
            os.utime(file.fileno(), ns=(a_time, m_time))
            check(stamp(folder / "demo_0002.wav") == (a_time, m_time), "futimens on a clip")
        check(stamp(folder / "demo_0002.wav") == (a_time, m_time), "a saved clip keeps its times")
        run("sync", folder)
        check(stamp(folder / "demo_0002.wav") == (a_time, m_time),
              f"a saved clip's times after the rewrite: {stamp(folder / 'demo_0002.wav')}")
        before = stamp(folder / "demo_0003.wav")
        with open(folder / "demo_0003.wav", "wb") as file:
            file.write(b"junk")
            close_refused(file, "a refused save")
        check(stamp(folder / "demo_0003.wav") == before, "a refused save leaves the times")
    check(mount.unmount() == 0, "the mount ends with status 0")


def test_converted_and_batched(pev, scratch, base, sources):
    # A recording pev converts (a 44.1 kHz stereo WAV file, where pev has
    # sound files): taken as pev replace takes it; elsewhere refused.
    with bounded("a recording to convert"):
        archive = fresh(scratch, base, "w-conv")
        other = scratch / "w-other.wav"
        other.write_bytes(wav_bytes(tone(2000, 5), rate=44100, channels=2))
        converts = "--no-dither" in run(pev, "help", "replace").stdout
        mount = Mount(pev, archive, scratch / "w-conv-m", "--write")
        try:
            shutil.copyfile(other, mount.folder / "demo_0002.wav")
            check(converts, "a 44.1 kHz stereo file was taken by a pev without sound files")
        except OSError as error:
            check(not converts and error.errno == errno.EPERM, f"a converted recording: {error}")
        check(mount.unmount() == 0, "the mount ends with status 0")
        if converts:
            expected = replaced_by_pev(pev, scratch, base, [(2, other)], "r2c.pev")
            check(archive.read_bytes() == expected, "a converted recording equals pev replace's")

    # 50 cp's: one rewrite, equal to pev replace with the same 50 files.
    with bounded("50 saves, one rewrite at unmount"):
        generated = scratch / "gen.pev"
        if not generated.exists():
            from read_cases import generated_archive
            generated = generated_archive(pev, scratch)
        big = scratch / "w-big" / "gen.pev"
        big.parent.mkdir()
        shutil.copy(generated, big)
        mount = Mount(pev, big, scratch / "w-big-m", "--write")
        rng = random.Random(5)
        picks = sorted(rng.sample(range(1, 2001), 50))
        pairs = []
        for i, clip in enumerate(picks):
            source = sources / f"new_{i}.wav"
            source.write_bytes(wav_bytes(tone(rng.randint(1, 5000), 1000 + i)))
            shutil.copy(source, mount.folder / f"gen_{clip:04d}.wav")
            pairs.append((clip, source))
        # Unmounting writes what waits: no sync first.
        check(mount.unmount() == 0, "the mount ends with status 0")
        expected = replaced_by_pev(pev, scratch, generated, pairs, "r3.pev")
        check(big.read_bytes() == expected, "50 cp's + unmount equal pev replace")
        check(mount.text().count("rewritten with") == 1 and "50 clips replaced" in mount.text(),
              f"one rewrite for the batch: {mount.text()!r}")

    # pev unmount writes what waits before the folder goes.
    with bounded("pev unmount writes what waits"):
        archive = fresh(scratch, base, "w-unmount")
        folder = scratch / "w-unmount-m"
        folder.mkdir()
        mount_in_background(pev, archive, folder, "--write")
        shutil.copy(sources / "demo_0002.wav", folder / "demo_0003.wav")
        result = run(pev, "unmount", folder, ok=False)
        expected = replaced_by_pev(pev, scratch, base, [(3, sources / "demo_0002.wav")], "r4.pev")
        check(result.returncode == 0 and archive.read_bytes() == expected,
              f"pev unmount wrote what waited: {result.stderr}")
