"""Failures as they happen in life, on a --write mount: system calls of the
rewrite failed one at a time under strace, a real full disk (asked for and
timed), kills midway; drafts on a full disk; a refused draft kept open when
the mount is killed; failed truncations by handle and log writes. The
promises: the archive whole (as it was or as `pev replace` makes it),
nothing beside it, no failure reported as success, nothing saved lost while
the mount lives, and a full disk retried after a pause, not in a loop."""

import os
import shutil
import signal
import subprocess
import time
from pathlib import Path

from support import (Mount, STEP_LIMIT, bounded, check, extracted, listing, log_lines, mounts,
                     replaced_by_pev, run, same_folder, shown, wait_for)


def strace_attach(pid, *injection):
    """strace on every thread of `pid`, failing what `injection` says."""
    tracer = subprocess.Popen(["strace", "-f", "-qq", "-o", "/dev/null", *injection, "-p",
                               str(pid)], stderr=subprocess.PIPE, text=True)
    # strace says nothing once attached; wait for the tracer to show in /proc.
    end = time.monotonic() + STEP_LIMIT
    while time.monotonic() < end:
        status = Path(f"/proc/{pid}/status").read_text()
        if "TracerPid:\t0" not in status:
            return tracer
        time.sleep(0.01)
    raise RuntimeError("strace did not attach")


def detach(tracer):
    tracer.terminate()
    tracer.wait(timeout=STEP_LIMIT)


def small_tmpfs(where, size):
    where.mkdir()
    run("mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", where)
    mounts.append([where, None])
    return where


# No LeakSanitizer in a traced process (it cannot work under strace).
TRACED = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")


def rewrite_under(pev, scratch, label, injection, base, source, expected, killed=False,
                  tmpfs_bytes=None):
    """Saves clip 1 from `source`, then fails the rewrite as `injection` says."""
    where = scratch / f"f-{label}"
    if tmpfs_bytes is not None:
        small_tmpfs(where, tmpfs_bytes)
    else:
        where.mkdir()
    archive = where / "demo.pev"
    shutil.copy(base, archive)
    mount = Mount(pev, archive, scratch / f"f-{label}-m", "--write", env=TRACED)
    shutil.copy(source, mount.folder / "demo_0001.wav")
    tracer = strace_attach(mount.process.pid, *injection) if injection else None
    synced = subprocess.run(["sync", str(mount.folder)], capture_output=True, timeout=STEP_LIMIT)
    if tracer is not None:
        if killed:
            mount.wait()
        detach(tracer)
    now = archive.read_bytes()
    print(f"{label}: sync status {synced.returncode}, archive "
          f"{'replaced' if now == expected else 'as it was' if now == base.read_bytes() else '?'}")
    check(now in (base.read_bytes(), expected), f"{label}: the archive is whole")
    # A failure is never reported as success. (One after the new archive took
    # its name, syncing the folder, is still reported: the name may not last.)
    check(synced.returncode != 0 or now == expected, f"{label}: sync succeeded, archive unchanged")
    beside = listing(where)
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
        check(listing(where) == ["demo.pev"],
              f"{label}: beside the archive once mounted again: {listing(where)}")
        shutil.copy(source, again.folder / "demo_0001.wav")
        check(again.unmount() == 0 and archive.read_bytes() == expected,
              f"{label}: the next rewrite after the kill")
        check(listing(where) == ["demo.pev"],
              f"{label}: beside the archive after the next rewrite: {listing(where)}")
        return
    check(beside == ["demo.pev"], f"{label}: beside the archive: {beside}")
    if now != expected:
        check("1 clip waits (demo_0001.wav)" in mount.text(),
              f"{label}: the log names what waits: {mount.text()!r}")
    if tmpfs_bytes is not None:
        # Still no room: pev unmount says so and keeps the folder mounted;
        # then the mount ends anyway and the log says what was lost.
        result = run(pev, "unmount", mount.folder, ok=False)
        check(result.returncode == 1 and os.path.ismount(mount.folder),
              f"{label}: pev unmount with no room: {result.stderr}")
        mount.unmount()
        check("1 clip saved in the folder never reached" in mount.text() and
              "and is lost: demo_0001.wav" in mount.text() and
              archive.read_bytes() == base.read_bytes(), f"{label}: the loss is logged: "
                                                         f"{mount.text()!r}")
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
        with bounded(label):
            rewrite_under(pev, scratch, label, injection, base, source, expected, killed)
    # A disk that really fills: a tmpfs with room for the archive alone.
    size = base.stat().st_size
    room = ((size + 4095) // 4096 + 2) * 4096
    with bounded("a full disk at sync"):
        rewrite_under(pev, scratch, "full-tmpfs", [], base, source, expected, tmpfs_bytes=room)
    with bounded("a full disk at the timed rewrite", 60):
        timed_on_a_full_disk(pev, scratch, base, source, expected, room)
    with bounded("drafts on a full disk"):
        drafts_on_a_full_disk(pev, scratch, base, sources)
    with bounded("a refused draft kept open when the mount is killed"):
        killed_with_a_refused_draft_open(pev, scratch, base)
    with bounded("failed truncations by handle and log writes"):
        failed_truncation_and_log(pev, scratch, base, sources)


def timed_on_a_full_disk(pev, scratch, base, source, expected, room):
    """The rewrite 2 s after a save finds no room: it is tried again after a
    pause that doubles, not in a loop, and once there is room it goes in by
    itself."""
    where = small_tmpfs(scratch / "f-timed", room)
    archive = where / "demo.pev"
    shutil.copy(base, archive)
    mount = Mount(pev, archive, scratch / "f-timed-m", "--write")
    shutil.copy(source, mount.folder / "demo_0001.wav")
    failed = lambda: log_lines(mount.text(), "1 clip waits (demo_0001.wav)")
    wait_for(failed, "the timed rewrite's failure")
    first = time.monotonic()
    time.sleep(3)
    tries = len(failed())
    check(1 <= tries <= 2, f"a full disk tried {tries} times in 3 s: {mount.text()[-300:]!r}")
    check("tried again in 2 s" in mount.text() and "tried again in 4 s" in mount.text() or
          tries == 1, f"the pauses double: {mount.text()!r}")
    times = Path(f"/proc/{mount.process.pid}/stat").read_text().split()[13:15]
    cpu = (int(times[0]) + int(times[1])) / os.sysconf("SC_CLK_TCK")
    check(cpu < 2, f"the mount spent {cpu} s of CPU waiting for room")
    check(archive.read_bytes() == base.read_bytes() and listing(where) == ["demo.pev"],
          "a full disk: the archive as it was, nothing beside it")
    # Room again: the next timed try puts the save in, with nothing asked.
    run("mount", "-o", f"remount,size={room * 3}", where)
    wait_for(lambda: "rewritten with 1 clip" in mount.text(), "the save once there is room", 20)
    print(f"full disk, timed: {tries} tries in 3 s, in after {time.monotonic() - first:.1f} s")
    check(archive.read_bytes() == expected, "the timed rewrite once there is room")
    check(mount.unmount() == 0, "the mount ends with status 0")


def drafts_on_a_full_disk(pev, scratch, base, sources):
    """Files being written live in TMPDIR: a save that does not fit fails in
    the program, the clip is as it was, and nothing is left there."""
    drafts = small_tmpfs(scratch / "f-drafts", 4 << 20)
    archive = scratch / "f-drafts-a" / "demo.pev"
    archive.parent.mkdir()
    shutil.copy(base, archive)
    mount = Mount(pev, archive, scratch / "f-drafts-m", "--write",
                  env=dict(os.environ, TMPDIR=str(drafts)))
    # 64 KiB left once the mount runs (ThreadSanitizer keeps a file of its
    # own in TMPDIR too).
    room = lambda: os.statvfs(drafts).f_bavail * os.statvfs(drafts).f_frsize
    run("dd", "if=/dev/zero", f"of={drafts / 'filler'}", "bs=4096",
        f"count={(room() - 64 * 1024) // 4096}", "status=none")
    stored = extracted(pev, base)
    result = run("cp", sources / "demo_0003.wav", mount.folder / "demo_0002.wav", ok=False)
    check(result.returncode == 1 and "No space left on device" in result.stderr,
          f"cp with no room for the draft: {result.stderr!r}")
    same_folder(shown(mount.folder), stored, "a save with no room: the folder as it was")
    # Said, and its room given back, when the kernel's release comes, after
    # cp has ended.
    wait_for(lambda: "demo_0002.wav: cannot write it: No space left on device" in mount.text(),
             "the log says why")
    small = sources / "small.wav"
    small.write_bytes(stored["demo_0002.wav"][:44 + 20000])
    wait_for(lambda: room() > 2 * len(small.read_bytes()), "the refused draft's room back")
    run("cp", small, mount.folder / "demo_0002.wav")
    check(mount.unmount() == 0, "the mount ends with status 0")
    check(listing(drafts) == ["filler"], f"nothing left among the drafts: {listing(drafts)}")
    expected = replaced_by_pev(pev, scratch, base, [(2, small)], "rd.pev")
    check(archive.read_bytes() == expected, "a save that fits, after one that did not")


def killed_with_a_refused_draft_open(pev, scratch, base):
    archive = scratch / "f-open" / "demo.pev"
    archive.parent.mkdir()
    shutil.copy(base, archive)
    mount = Mount(pev, archive, scratch / "f-open-m", "--write")
    shutil.copy(scratch / "f-src" / "demo_0003.wav", mount.folder / "demo_0001.wav")
    fd = os.open(mount.folder / "demo_0002.wav", os.O_WRONLY | os.O_TRUNC)
    second = os.dup(fd)
    os.write(fd, b"refused")
    try:
        os.close(second)
        check(False, "a refused draft's close succeeded")
    except OSError:
        pass
    mount.process.kill()
    mount.wait()
    try:
        os.close(fd)
    except OSError:
        pass
    run("fusermount3", "-u", mount.folder)
    check(archive.read_bytes() == base.read_bytes() and listing(archive.parent) == ["demo.pev"],
          "killed with a save waiting and a refused draft open: the archive as it was")


def failed_truncation_and_log(pev, scratch, base, sources):
    """A truncation by handle that fails (the draft's ftruncate) fails in the
    program and changes nothing; a log on a full disk stops nothing."""
    archive = scratch / "f-trunc" / "demo.pev"
    archive.parent.mkdir()
    shutil.copy(base, archive)
    full = small_tmpfs(scratch / "f-trunc-log", 64 * 1024)
    log = full / "mount.log"
    mount = Mount(pev, archive, scratch / "f-trunc-m", "--write", "--log", log, env=TRACED)
    # Filled once the log is open: every line it writes finds no room.
    subprocess.run(["dd", "if=/dev/zero", f"of={full / 'filler'}", "bs=4096"],
                   capture_output=True, timeout=STEP_LIMIT)
    stored = extracted(pev, base)
    # (Only the truncation is failed by strace: failing every write would
    # fail AddressSanitizer's own, and end the process.)
    tracer = strace_attach(mount.process.pid, "-e", "inject=ftruncate:error=EIO")
    result = run("truncate", "-s", "0", mount.folder / "demo_0002.wav", ok=False)
    check(result.returncode == 1 and "Input/output error" in result.stderr,
          f"a failed truncation by handle: {result.stderr!r}")
    same_folder(shown(mount.folder), stored, "after a failed truncation: the folder as it was")
    with open(mount.folder / "demo_0003.wav", "wb") as file:
        file.write(b"refused, and logged nowhere")
        try:
            file.close()
        except OSError:
            pass
    shutil.copy(sources / "demo_0001.wav", mount.folder / "demo_0002.wav")
    run("sync", mount.folder)
    detach(tracer)
    check(log.read_text() == "", f"no line reached the log: {log.read_text()!r}")
    check(mount.unmount() == 0, "the mount ends with status 0 though its log failed")
    expected = replaced_by_pev(pev, scratch, base, [(2, sources / "demo_0001.wav")], "rt.pev")
    check(archive.read_bytes() == expected, "the save after a failed truncation and log")
