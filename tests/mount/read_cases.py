"""Reading: every file of a mounted archive equals `pev extract`'s, on the
demo and on 2000 generated clips, in random slices and with several
readers at once; the folder read-only; the one-line refusals."""

import concurrent.futures
import mmap
import os
import random
import shutil

from support import (Mount, bounded, check, files_of, listing, mount_in_background, run,
                     same_folder, shown, tone, wav_bytes)


def generated_archive(pev, scratch, count=2000):
    """2000 clips of every kind of length: empty, one sample, odd, many blocks."""
    source = scratch / "gen-src"
    source.mkdir()
    lengths = [0, 1, 2, 1023, 1024, 1025, 4097, 30001]
    rng = random.Random(7)
    for i in range(count):
        length = lengths[i] if i < len(lengths) else rng.randint(1, 6000)
        (source / f"g_{i + 1:04d}.wav").write_bytes(wav_bytes(tone(length, i)))
    archive = scratch / "gen.pev"
    run(pev, "pack", "-q", archive, source)
    return archive


def system_log_listens():
    import socket
    for kind in (socket.SOCK_DGRAM, socket.SOCK_STREAM):
        with socket.socket(socket.AF_UNIX, kind) as probe:
            try:
                probe.connect("/dev/log")
                return True
            except OSError:
                pass
    return False


def test_read(pev, scratch):
    with bounded("making 2000 clips"):
        generated = generated_archive(pev, scratch)
    for archive in (scratch / "demo.pev", generated):
        extracted = scratch / (archive.stem + "-x")
        run(pev, "extract", "-q", "-o", extracted, archive)
        folder = scratch / (archive.stem + "-m")
        folder.mkdir()
        mount = None
        with bounded(f"mounting {archive.name}"):
            if archive.name == "demo.pev":
                # The default: back in the background once mounted, saying
                # where it logs where no system log listens.
                result = mount_in_background(pev, archive, folder)
                notice = "this mount's messages go to " + str(scratch / "state/pev/mount.log")
                check((notice in result.stderr) != system_log_listens(),
                      f"where a mount in the background logs: {result.stderr!r}")
            else:
                # In the foreground, so that its status (and under
                # ThreadSanitizer, a race among the readers below) is seen;
                # with libfuse's pool of threads, which bench/mount compares
                # with the one thread.
                mount = Mount(pev, archive, folder, env=dict(os.environ, PEV_MOUNT_THREADS="1"))
        with bounded(f"{archive.name}: every file against pev extract's"):
            same_folder(shown(folder), files_of(extracted), f"{archive.name} mounted")
            check(folder.stat().st_mtime == archive.stat().st_mtime,
                  "the folder has the archive's time")
        names = listing(folder)
        rng = random.Random(1)
        with bounded(f"{archive.name}: random slices"):
            # Random slices, odd offsets, across the header and past the end.
            for name in rng.sample(names, min(40, len(names))):
                whole = (extracted / name).read_bytes()
                with open(folder / name, "rb") as file:
                    for _ in range(25):
                        offset = rng.choice([0, 1, 43, 44, 45, rng.randrange(len(whole) + 8)])
                        length = rng.choice([1, 2, 3, 4096, rng.randrange(1, 300000)])
                        file.seek(offset)
                        got = file.read(length)
                        check(got == whole[offset:offset + length],
                              f"{name}: {length} bytes at {offset}")
            with open(folder / names[-1], "rb") as file, mmap.mmap(file.fileno(), 0,
                                                                 access=mmap.ACCESS_READ) as mapped:
                check(mapped[:] == (extracted / names[-1]).read_bytes(), f"{names[-1]} mapped")

        # Several readers at once, over the same files and different ones.
        def read_some(seed):
            local = random.Random(seed)
            for name in local.sample(names, min(30, len(names))):
                if (folder / name).read_bytes() != (extracted / name).read_bytes():
                    return name
            return None
        with bounded(f"{archive.name}: readers at once"):
            with concurrent.futures.ThreadPoolExecutor(8) as pool:
                wrong = [name for name in pool.map(read_some, range(16)) if name]
            check(not wrong, f"{archive.name}: readers at once read {wrong}")
        with bounded(f"{archive.name}: read-only, then unmounted"):
            # Read-only: every change refused by the system with EROFS.
            probe = run("sh", "-c", f"echo x > '{folder / names[0]}'", ok=False)
            check("Read-only file system" in probe.stderr,
                  f"writing a read-only mount: {probe.stderr}")
            result = run(pev, "unmount", folder, ok=False)
            check(result.returncode == 0 and not os.path.ismount(folder),
                  f"pev unmount: {result.returncode} {result.stderr}")
            if mount is not None:
                # libfuse 3.14 prints this line when the kernel ends the
                # connection with ECONNABORTED rather than ENODEV, which it
                # does at times for an unmounted folder: an ordinary end.
                said = mount.text().replace(
                    "fuse: reading device: Software caused connection abort\n", "")
                check(mount.wait() == 0 and said == "", f"the mount ended: {mount.text()}")

    with bounded("the one-line refusals"):
        refusals(pev, scratch)


def refusals(pev, scratch):
    # Bad input: one line, status 1 (2 for a wrong command line), nothing mounted.
    empty = scratch / "empty"
    empty.mkdir()
    full = scratch / "full"
    full.mkdir()
    (full / "a").write_text("a")
    not_archive = scratch / "text.pev"
    not_archive.write_text("not an archive at all, but long enough to be one\n")
    demo = scratch / "demo.pev"
    cases = [
        ([scratch / "missing.pev", empty], 1, "no such file"),
        ([not_archive, empty], 1, "not a voice archive"),
        ([demo, scratch / "nowhere"], 1, "does not exist: make the folder"),
        ([demo, full], 1, "is not empty"),
        ([demo, not_archive], 1, "is not a folder"),
        ([demo, empty, "-o", "no_such_option"], 2, "-o: unknown option(s): `-o no_such_option'"),
        ([demo, empty, "--name", "{x}.wav"], 2, "unknown placeholder"),
        ([demo, empty, "--name", "same.wav"], 2, "put {n} in the name"),
        # A mounted clip is a WAV file, whatever its name says.
        ([demo, empty, "--name", "{n}.flac"], 2, "a mounted clip is a WAV file"),
        ([demo, empty, "--name", "{base}-{n}.OGG"], 2, "cannot end in .ogg"),
        ([demo, empty, "--log", empty / "log.txt"], 2, "the log cannot be inside"),
        ([demo, empty, "--log", demo], 2, "is the archive itself"),
        ([demo, empty, "--log", scratch / "nowhere/log.txt"], 1, "cannot open the log"),
        (["-", empty], 2, "standard input"),
    ]
    for arguments, status, words in cases:
        result = run(pev, "mount", *arguments, ok=False)
        lines = [line for line in result.stderr.splitlines() if not line.startswith("Run `")]
        check(result.returncode == status and len(lines) == 1 and words in lines[0]
              and not os.path.ismount(empty) and listing(empty) == [],
              f"pev mount {arguments[-1]}: {result.returncode} {result.stderr!r}")
    # A name with another extension that no format takes is a WAV file's, as
    # pev extract names it.
    mount = Mount(pev, demo, empty, "--name", "{n}.clip")
    check(listing(empty) == ["0001.clip", "0002.clip", "0003.clip"], "--name {n}.clip")
    check(mount.unmount() == 0, "the mount ends with status 0")
    result = run(pev, "unmount", empty, ok=False)
    check(result.returncode == 1 and "not a mounted archive" in result.stderr,
          f"pev unmount of a plain folder: {result.stderr!r}")
    # No /dev/fuse (an empty /dev in a mount namespace of its own), and, where
    # the device is closed to others, a user who may not open it.
    denied = []
    if os.geteuid() == 0 and shutil.which("unshare"):
        denied.append((["unshare", "-m", "sh", "-c", 'mount -t tmpfs tmpfs /dev && exec "$@"',
                         "-"], "/dev/fuse is missing"))
    if os.geteuid() == 0 and shutil.which("setpriv") and not os.stat("/dev/fuse").st_mode & 0o006:
        scratch.chmod(0o755)  # the user must reach the archive
        empty.chmod(0o777)
        denied.append((["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"],
                       "no permission to use /dev/fuse"))
    for prefix, words in denied:
        result = run(*prefix, pev, "mount", demo, empty, ok=False)
        check(result.returncode == 1 and result.stderr.count("\n") == 1 and words in result.stderr
              and not os.path.ismount(empty), f"{words}: {result.returncode} {result.stderr!r}")
