#!/usr/bin/env python3
"""Mounts archives with `pev mount` and checks them as programs use them.

    tests/mount/mount_test.py --pev BUILD/pev GROUP...    (GROUP: read, write, faults)

read:   every file equals `pev extract`'s, on the demo and on 2000 generated
        clips; random slices; several readers at once; the folder read-only;
        the refusals of bad input, each one line, nothing mounted.
write:  cp over a clip, save-then-rename, a file that cannot be packed (close
        fails, archive unchanged), 50 cp's as one rewrite equal to `pev replace`
        with the same files, unmount writing what waits, names refused.
faults: the rewrite with its system calls failed one at a time under strace,
        on a full tmpfs, and SIGKILLed midway: the archive whole (as it was or
        as pev replace makes it), nothing beside it, nothing saved lost while
        the mount lives.

Exits 77 (skipped) where /dev/fuse is missing or mounting is refused. Every
mount is unmounted at the end, whatever failed.
"""

import argparse
import concurrent.futures
import mmap
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
DEMO = ROOT / "examples" / "demo.pev"
SKIP = 77
STEP_LIMIT = 60  # seconds any one command may take

failures = []
mounts = []  # (folder, process or None), unmounted at the end


def check(condition, what):
    if not condition:
        failures.append(what)
        print(f"FAILED: {what}", flush=True)
    return condition


def run(*command, ok=True, **options):
    result = subprocess.run([str(c) for c in command], capture_output=True, text=True,
                            timeout=STEP_LIMIT, **options)
    if ok and result.returncode != 0:
        raise RuntimeError(f"{command}: status {result.returncode}: {result.stderr}")
    return result


def wav_bytes(samples, rate=22050, channels=1):
    data = struct.pack(f"<{len(samples)}h", *samples)
    return (b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, channels, rate, rate * 2 * channels, 2 * channels, 16) +
            b"data" + struct.pack("<I", len(data)) + data)


def tone(count, seed):
    rng = random.Random(seed)
    step = rng.choice([1, 3, 40, 900])  # smooth, noisy, jumpy
    value, samples = 0, []
    for _ in range(count):
        value = max(-32768, min(32767, value + rng.randint(-step, step)))
        samples.append(value)
    return samples


def wait_mounted(folder, process=None):
    for _ in range(1000):  # a bound, not a measure: mounting takes milliseconds
        if os.path.ismount(folder):
            return True
        if process is not None and process.poll() is not None:
            return False
        time.sleep(0.01)
    return False


class Mount:
    """`pev mount -f` as a child, its log in a file; unmounted on leaving."""

    def __init__(self, pev, archive, folder, *options, env=None):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.log_path = self.folder.parent / (self.folder.name + ".log")
        self.log = open(self.log_path, "w")
        self.process = subprocess.Popen([str(pev), "mount", "-f", *options, str(archive),
                                         str(folder)], stderr=self.log, env=env)
        mounts.append((self.folder, self.process))
        if not wait_mounted(folder, self.process):
            raise RuntimeError(f"{archive} was not mounted: {self.text()}")

    def text(self):
        self.log.flush()
        return self.log_path.read_text()

    def unmount(self, command=("fusermount3", "-u")):
        run(*command, self.folder)
        return self.wait()

    def wait(self):
        status = self.process.wait(timeout=STEP_LIMIT)
        return status


def unmount_all():
    for folder, process in mounts:
        if os.path.ismount(folder) or process is not None and process.poll() is None:
            subprocess.run(["fusermount3", "-uz", str(folder)], capture_output=True)
        if process is not None:
            try:
                process.wait(timeout=STEP_LIMIT)
            except subprocess.TimeoutExpired:
                process.kill()


def same_files(folder_a, folder_b, what):
    names_a = sorted(os.listdir(folder_a))
    names_b = sorted(os.listdir(folder_b))
    if not check(names_a == names_b, f"{what}: names {names_a[:3]}... against {names_b[:3]}..."):
        return
    for name in names_a:
        a, b = Path(folder_a, name), Path(folder_b, name)
        check(a.stat().st_size == b.stat().st_size, f"{what}: {name} size")
        check(a.read_bytes() == b.read_bytes(), f"{what}: {name} bytes")


# ---------------------------------------------------------------- read

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


def test_read(pev, scratch):
    for archive in (scratch / "demo.pev", generated_archive(pev, scratch)):
        extracted = scratch / (archive.stem + "-x")
        run(pev, "extract", "-q", "-o", extracted, archive)
        folder = scratch / (archive.stem + "-m")
        folder.mkdir()
        mount = None
        if archive.name == "demo.pev":
            # The default: back in the background once mounted.
            run(pev, "mount", archive, folder)
            mounts.append((folder, None))
        else:
            # In the foreground, so that its status (and under ThreadSanitizer,
            # a race among the readers below) is seen; with libfuse's pool of
            # threads, which bench/mount compares with the one thread.
            mount = Mount(pev, archive, folder, env=dict(os.environ, PEV_MOUNT_THREADS="1"))
        same_files(extracted, folder, f"{archive.name} mounted")
        check(folder.stat().st_mtime == archive.stat().st_mtime, "the folder has the archive's time")
        names = sorted(os.listdir(folder))
        rng = random.Random(1)
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
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            wrong = [name for name in pool.map(read_some, range(16)) if name]
        check(not wrong, f"{archive.name}: readers at once read {wrong}")
        # Read-only: every change refused by the system with EROFS.
        probe = subprocess.run(["sh", "-c", f"echo x > '{folder / names[0]}'"],
                               capture_output=True, text=True)
        check("Read-only file system" in probe.stderr, f"writing a read-only mount: {probe.stderr}")
        result = run(pev, "unmount", folder, ok=False)
        check(result.returncode == 0 and not os.path.ismount(folder),
              f"pev unmount: {result.returncode} {result.stderr}")
        if mount is not None:
            check(mount.wait() == 0 and mount.text() == "", f"the mount ended: {mount.text()}")

    # Bad input: one line, status 1 (2 for a wrong command line), nothing mounted.
    empty = scratch / "empty"
    empty.mkdir()
    full = scratch / "full"
    full.mkdir()
    (full / "a").write_text("a")
    not_archive = scratch / "text.pev"
    not_archive.write_text("not an archive at all, but long enough to be one\n")
    cases = [
        ([scratch / "missing.pev", empty], 1, "no such file"),
        ([not_archive, empty], 1, "not a voice archive"),
        ([scratch / "demo.pev", scratch / "nowhere"], 1, "does not exist: make the folder"),
        ([scratch / "demo.pev", full], 1, "is not empty"),
        ([scratch / "demo.pev", not_archive], 1, "is not a folder"),
        ([scratch / "demo.pev", empty, "-o", "no_such_option"], 2,
         "-o: unknown option(s): `-o no_such_option'"),
        ([scratch / "demo.pev", empty, "--name", "{x}.wav"], 2, "unknown placeholder"),
        ([scratch / "demo.pev", empty, "--name", "same.wav"], 2, "put {n} in the name"),
        (["-", empty], 2, "standard input"),
    ]
    for arguments, status, words in cases:
        result = run(pev, "mount", *arguments, ok=False)
        lines = [line for line in result.stderr.splitlines() if not line.startswith("Run `")]
        check(result.returncode == status and len(lines) == 1 and words in lines[0]
              and not os.path.ismount(empty),
              f"pev mount {arguments[-1]}: {result.returncode} {result.stderr!r}")
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
        result = run(*prefix, pev, "mount", scratch / "demo.pev", empty, ok=False)
        check(result.returncode == 1 and result.stderr.count("\n") == 1 and words in result.stderr
              and not os.path.ismount(empty), f"{words}: {result.returncode} {result.stderr!r}")


# ---------------------------------------------------------------- write

def replaced_by_pev(pev, scratch, archive, pairs, name):
    """The archive `pev replace` makes from `archive` with `pairs` (N, file)."""
    reference = scratch / name
    run(pev, "replace", "-q", archive, *[f"{n}={f}" for n, f in pairs], "-o", reference)
    return reference.read_bytes()


def test_write(pev, scratch):
    demo = scratch / "demo.pev"
    base = scratch / "w-demo.pev"
    shutil.copy(demo, base)
    sources = scratch / "w-src"
    run(pev, "extract", "-q", "-o", sources, demo)
    archive = scratch / "w" / "demo.pev"
    archive.parent.mkdir()

    # cp over a clip, then sync DIR: pev replace's archive, byte for byte.
    shutil.copy(base, archive)
    mount = Mount(pev, archive, scratch / "w-m1", "--write")
    shutil.copy(sources / "demo_0003.wav", mount.folder / "demo_0001.wav")
    check((mount.folder / "demo_0001.wav").read_bytes() == (sources / "demo_0003.wav").read_bytes(),
          "a saved clip reads back as saved")
    run("sync", mount.folder)
    expected = replaced_by_pev(pev, scratch, base, [(1, sources / "demo_0003.wav")], "r1.pev")
    check(archive.read_bytes() == expected, "cp + sync DIR equals pev replace")
    fds = Path(f"/proc/{mount.process.pid}/fd")
    held = [os.readlink(fd) for fd in fds.iterdir() if os.readlink(fd).endswith("(deleted)")
            and "demo.pev" in os.readlink(fd)]
    check(not held, f"the archive before the rewrite is still held open: {held}")
    # Nothing asked: the rewrite comes by itself after the last close, while
    # the folder is being read (the timer's thread beside the one answering).
    shutil.copy(sources / "demo_0001.wav", mount.folder / "demo_0003.wav")
    rewrites = mount.text().count("rewritten with")
    for _ in range(3000):  # a bound, not a measure: it comes 2 s after the close
        if mount.text().count("rewritten with") > rewrites:
            break
        for name in ("demo_0001.wav", "demo_0002.wav"):
            (mount.folder / name).read_bytes()
        time.sleep(0.01)
    expected = replaced_by_pev(pev, scratch, base, [(1, sources / "demo_0003.wav"),
                                                    (3, sources / "demo_0001.wav")], "r1t.pev")
    check(archive.read_bytes() == expected, "the rewrite after the last close equals pev replace")
    # Saved under another name, renamed over a clip (as editors save).
    (mount.folder / ".demo_0002.wav.swp").write_bytes((sources / "demo_0001.wav").read_bytes())
    os.rename(mount.folder / ".demo_0002.wav.swp", mount.folder / "demo_0002.wav")
    check(sorted(os.listdir(mount.folder)) == ["demo_0001.wav", "demo_0002.wav", "demo_0003.wav"],
          "the temporary name is gone after the rename")
    # A file that cannot be packed: close fails with EINVAL, archive unchanged.
    before = archive.read_bytes()
    # (A WAV file at another rate, or in stereo, is converted where pev has
    # sound files, so only what no build reads is refused everywhere.)
    for bad in (b"not a wav file", wav_bytes(tone(100, 1))[:30]):
        fd = os.open(mount.folder / "demo_0003.wav", os.O_WRONLY | os.O_TRUNC)
        os.write(fd, bad)
        try:
            os.close(fd)
            check(False, f"close of a refused file succeeded ({bad[:12]!r})")
        except OSError as error:
            check(error.errno == 22, f"close of a refused file: {error}")
    check("the clip is as it was" in mount.text(), "the refusal is logged")
    # Names: a clip cannot go, a new clip number cannot come; others may.
    for action, errno_wanted in ((lambda: os.unlink(mount.folder / "demo_0001.wav"), 1),
                                 (lambda: open(mount.folder / "demo_0009.wav", "wb"), 1),
                                 (lambda: os.rename(mount.folder / "demo_0001.wav",
                                                    mount.folder / "x.wav"), 1)):
        try:
            action()
            check(False, "a change of the clips' names was allowed")
        except OSError as error:
            check(error.errno == errno_wanted, f"names: {error}")
    (mount.folder / "notes.txt").write_text("kept till unmount")
    os.unlink(mount.folder / "notes.txt")
    check(mount.unmount() == 0, "the mount ends with status 0")
    expected = replaced_by_pev(pev, scratch, base, [(1, sources / "demo_0003.wav"),
                                                    (2, sources / "demo_0001.wav"),
                                                    (3, sources / "demo_0001.wav")], "r2.pev")
    check(archive.read_bytes() == expected, "rename + unmount equals pev replace")
    check(sorted(os.listdir(archive.parent)) == ["demo.pev"], "nothing beside the archive")

    # A recording pev converts (a 44.1 kHz stereo WAV file, where pev has
    # sound files): taken as pev replace takes it; elsewhere refused.
    other = scratch / "w-other.wav"
    other.write_bytes(wav_bytes(tone(2000, 5), rate=44100, channels=2))
    converts = "--no-dither" in run(pev, "help", "replace").stdout
    mount = Mount(pev, archive, scratch / "w-mnt", "--write")
    try:
        shutil.copyfile(other, mount.folder / "demo_0002.wav")
        check(converts, "a 44.1 kHz stereo file was taken by a pev without sound files")
    except OSError as error:
        check(not converts and error.errno == 22, f"a converted recording: {error}")
    check(mount.unmount() == 0, "the mount ends with status 0")
    if converts:
        expected = replaced_by_pev(pev, scratch, scratch / "r2.pev", [(2, other)], "r2c.pev")
        check(archive.read_bytes() == expected, "a converted recording equals pev replace's")

    # 50 cp's: one rewrite, equal to pev replace with the same 50 files.
    generated = scratch / "gen.pev"
    if not generated.exists():
        generated = generated_archive(pev, scratch)
    big = scratch / "w" / "gen.pev"
    shutil.copy(generated, big)
    mount = Mount(pev, big, scratch / "w-m2", "--write")
    rng = random.Random(5)
    picks = sorted(rng.sample(range(1, 2001), 50))
    pairs = []
    for i, clip in enumerate(picks):
        source = scratch / "w-src" / f"new_{i}.wav"
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
    shutil.copy(base, archive)
    folder = scratch / "w-m3"
    folder.mkdir()
    run(pev, "mount", "--write", archive, folder)
    mounts.append((folder, None))
    shutil.copy(sources / "demo_0002.wav", folder / "demo_0003.wav")
    result = run(pev, "unmount", folder, ok=False)
    expected = replaced_by_pev(pev, scratch, base, [(3, sources / "demo_0002.wav")], "r4.pev")
    check(result.returncode == 0 and archive.read_bytes() == expected,
          f"pev unmount wrote what waited: {result.stderr}")


# ---------------------------------------------------------------- faults

def strace_attach(pid, *injection):
    """strace on every thread of `pid`, failing what `injection` says."""
    tracer = subprocess.Popen(["strace", "-f", "-qq", "-o", "/dev/null", *injection, "-p",
                               str(pid)], stderr=subprocess.PIPE, text=True)
    # strace says nothing once attached; wait for the tracer to show in /proc.
    for _ in range(1000):
        status = Path(f"/proc/{pid}/status").read_text()
        if "TracerPid:\t0" not in status:
            return tracer
        time.sleep(0.01)
    raise RuntimeError("strace did not attach")


def rewrite_under(pev, scratch, label, injection, base, source, expected, killed=False,
                  tmpfs_bytes=None):
    """Saves clip 1 from `source`, then fails the rewrite as `injection` says."""
    where = scratch / f"f-{label}"
    where.mkdir()
    if tmpfs_bytes is not None:
        run("mount", "-t", "tmpfs", "-o", f"size={tmpfs_bytes}", "tmpfs", where)
        mounts.append((where, None))
    archive = where / "demo.pev"
    shutil.copy(base, archive)
    # LeakSanitizer cannot work in a traced process.
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
    mount = Mount(pev, archive, scratch / f"f-{label}-m", "--write", env=env)
    shutil.copy(source, mount.folder / "demo_0001.wav")
    tracer = strace_attach(mount.process.pid, *injection) if injection else None
    synced = subprocess.run(["sync", str(mount.folder)], capture_output=True, timeout=STEP_LIMIT)
    if tracer is not None:
        if killed:
            mount.wait()
        tracer.terminate()
        tracer.wait(timeout=STEP_LIMIT)
    now = archive.read_bytes()
    print(f"{label}: sync status {synced.returncode}, archive "
          f"{'replaced' if now == expected else 'as it was' if now == base.read_bytes() else '?'}")
    check(now in (base.read_bytes(), expected), f"{label}: the archive is whole")
    # A failure is never reported as success. (One after the new archive took
    # its name, syncing the folder, is still reported: the name may not last.)
    check(synced.returncode != 0 or now == expected, f"{label}: sync succeeded, archive unchanged")
    beside = sorted(os.listdir(where))
    if killed:
        # Killed between linking the new archive under its temporary name and
        # renaming it over the old one, the mount leaves that name (no call
        # replaces a name with an unnamed file); mounting it again for writing
        # clears it away, as does the next archive written in the folder.
        left = [name for name in beside if name.startswith(f".pev-{mount.process.pid}-")]
        check(beside == sorted(["demo.pev", *left]) and len(left) <= 1,
              f"{label}: beside the archive: {beside}")
        check(mount.process.returncode == -signal.SIGKILL, f"{label}: the mount was killed")
        run("fusermount3", "-u", mount.folder)
        again = Mount(pev, archive, scratch / f"f-{label}-again", "--write")
        check(sorted(os.listdir(where)) == ["demo.pev"],
              f"{label}: beside the archive once mounted again: {sorted(os.listdir(where))}")
        shutil.copy(source, again.folder / "demo_0001.wav")
        check(again.unmount() == 0 and archive.read_bytes() == expected,
              f"{label}: the next rewrite after the kill")
        check(sorted(os.listdir(where)) == ["demo.pev"],
              f"{label}: beside the archive after the next rewrite: {sorted(os.listdir(where))}")
        return
    check(beside == ["demo.pev"], f"{label}: beside the archive: {beside}")
    if now != expected:
        check("1 clip wait (demo_0001.wav)" in mount.text(),
              f"{label}: the log names what waits: {mount.text()!r}")
    if tmpfs_bytes is not None:
        # Still no room: pev unmount says so and keeps the folder mounted;
        # then the mount ends anyway and the log says what was lost.
        result = run(pev, "unmount", mount.folder, ok=False)
        check(result.returncode == 1 and os.path.ismount(mount.folder),
              f"{label}: pev unmount with no room: {result.stderr}")
        mount.unmount()
        check("never reached" in mount.text() and archive.read_bytes() == base.read_bytes(),
              f"{label}: the loss is logged: {mount.text()!r}")
        return
    # Nothing is lost while the mount lives: unmounting writes it now.
    check(mount.unmount() == 0, f"{label}: the mount ends with status 0")
    check(archive.read_bytes() == expected, f"{label}: the replacement reached the archive")


def test_faults(pev, scratch):
    if shutil.which("strace") is None:
        print("strace is missing: the fault cases are skipped")
        return
    base = scratch / "demo.pev"
    sources = scratch / "f-src"
    run(pev, "extract", "-q", "-o", sources, base)
    source = sources / "demo_0003.wav"
    expected = replaced_by_pev(pev, scratch, base, [(1, source)], "rf.pev")
    cases = []
    # The rewrite's calls on the thread that runs it, counted from the attach:
    # the drafts were written before it.
    for call, numbers in (("pwrite64", [1, 2, 3, 4, 5]), ("openat", [1, 2, 3]),
                          ("fsync", [1, 2]), ("linkat", [1, 2]), ("rename", [1])):
        for number in numbers:
            for error in ("ENOSPC", "EIO") if call == "pwrite64" else ("ENOSPC",):
                cases.append((f"{call}{number}-{error}",
                              ["-e", f"inject={call}:error={error}:when={number}"], False))
    for call, number in (("pwrite64", 2), ("pwrite64", 4), ("fsync", 1), ("linkat", 1),
                         ("rename", 1)):
        cases.append((f"kill-at-{call}{number}", ["-e", f"inject={call}:signal=KILL:when={number}"],
                      True))
    for label, injection, killed in cases:
        rewrite_under(pev, scratch, label, injection, base, source, expected, killed)
    # A disk that really fills: a tmpfs with room for the archive alone.
    size = base.stat().st_size
    rewrite_under(pev, scratch, "full-tmpfs", [], base, source, expected,
                  tmpfs_bytes=((size + 4095) // 4096 + 2) * 4096)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pev", required=True)
    parser.add_argument("groups", nargs="+", choices=["read", "write", "faults"])
    options = parser.parse_args()
    if not os.path.exists("/dev/fuse"):
        print("/dev/fuse is missing: pev mount cannot be tested here")
        return SKIP
    pev = Path(options.pev).resolve()
    with tempfile.TemporaryDirectory(prefix="pev-mount-") as name:
        scratch = Path(name)
        shutil.copy(DEMO, scratch / "demo.pev")
        probe = scratch / "probe"
        probe.mkdir()
        result = subprocess.run([str(pev), "mount", str(scratch / "demo.pev"), str(probe)],
                                capture_output=True, text=True, timeout=STEP_LIMIT)
        if result.returncode != 0:
            print(f"mounting is refused here: {result.stderr.strip()}")
            return SKIP if "this build" not in result.stderr else 1
        run(pev, "unmount", probe)
        try:
            for group in options.groups:
                {"read": test_read, "write": test_write, "faults": test_faults}[group](pev, scratch)
        finally:
            unmount_all()
    print(f"{len(failures)} failure(s)" if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
