"""Paths as people name them, through every step of a mount: archives,
folders and logs named with a comma (an option separator to libfuse), a
blank and a newline (escaped in the system's table of mounts) and a byte
that is no UTF-8; --log; and --write refused at mount, with the reason,
for archives no rewrite could replace, which still mount for reading."""

import os
import shutil
import struct
import subprocess

from support import (Mount, bounded, check, close_refused, extracted, is_mounted, listing,
                     mount_in_background, replaced_by_pev, run, same_folder, shown, tested_clean)

ODD_NAMES = ["talks,2024", "my clips", "two\nlines", os.fsdecode(b"caf\xe9 r\xf6ck")]


def test_paths(pev, scratch):
    demo = scratch / "demo.pev"
    new = scratch / "x-new.wav"
    shutil.copy(extracted_clip(pev, demo, 3), new)
    for number, odd in enumerate(ODD_NAMES):
        with bounded(f"the name {odd!r} through every step"):
            every_step(pev, scratch, demo, new, number, odd)
    with bounded("--log FILE"):
        logged(pev, scratch, demo)
    rewrites_refused(pev, scratch, demo)


def extracted_clip(pev, archive, number):
    out = archive.parent / f"one-{number}"
    run(pev, "extract", "-q", "-c", str(number), "-o", out, archive)
    return next(out.iterdir())


def every_step(pev, scratch, demo, new, number, odd):
    home = scratch / f"n{number}" / odd
    home.mkdir(parents=True)
    archive = home / f"{odd}.pev"
    shutil.copy(demo, archive)
    folder = home / f"{odd} mounted"
    folder.mkdir()
    what = repr(odd)
    # Mounted in the background, read, saved into, synced, unmounted by pev.
    result = mount_in_background(pev, archive, folder, "--write", ok=False)
    if not check(result.returncode == 0 and is_mounted(folder),
                 f"{what}: pev mount: {result.returncode} {result.stderr!r}"):
        return
    expected = extracted(pev, archive)
    check(sorted(expected) == [f"{odd}_{n:04d}.wav" for n in (1, 2, 3)], f"{what}: names")
    same_folder(shown(folder), expected, f"{what}: the folder")
    shutil.copy(new, folder / f"{odd}_0002.wav")
    run("sync", folder)
    reference = replaced_by_pev(pev, scratch, demo, [(2, new)], f"n{number}.pev")
    check(archive.read_bytes() == reference, f"{what}: the rewrite equals pev replace's")
    check(listing(home) == sorted([archive.name, folder.name]), f"{what}: beside the archive")
    result = run(pev, "unmount", folder, ok=False)
    check(result.returncode == 0 and not is_mounted(folder),
          f"{what}: pev unmount: {result.returncode} {result.stderr!r}")
    # In the foreground, logging to a file of such a name, unmounted by
    # fusermount3 -u.
    log = home / f"{odd}.log"
    mount = Mount(pev, archive, folder, "--write", "--log", log)
    try:
        (folder / f"{odd}_0001.wav").write_bytes(b"refused")
        check(False, f"{what}: a refused save was taken")
    except PermissionError:
        pass
    shutil.copy(new, folder / f"{odd}_0003.wav")
    check(mount.unmount() == 0, f"{what}: fusermount3 -u: {mount.text()!r}")
    text = log.read_text(errors="surrogateescape")
    check(f"{odd}_0001.wav: not a sound file".replace("\n", "#012") in text and
          "rewritten with 1 clip replaced" in text and text.count("\n") == 2,
          f"{what}: the log, a line an event: {text!r}")
    check(mount.text() == "", f"{what}: nothing on standard error with --log: {mount.text()!r}")
    reference = replaced_by_pev(pev, scratch, reference_archive(scratch, number),
                                [(3, new)], f"n{number}b.pev")
    check(archive.read_bytes() == reference, f"{what}: the second rewrite")
    tested_clean(pev, archive, what)


def reference_archive(scratch, number):
    return scratch / f"n{number}.pev"


def logged(pev, scratch, demo):
    """--log in the background: a line a refusal and a rewrite, each with
    its time and the mount's process id; a relative name is the caller's."""
    home = scratch / "log"
    home.mkdir()
    archive = home / "demo.pev"
    shutil.copy(demo, archive)
    folder = home / "m"
    folder.mkdir()
    result = mount_in_background(pev, archive, folder, "--write", "--log", "mount.log",
                                 cwd=home, ok=False)
    check(result.returncode == 0 and result.stderr == "",
          f"--log: mounted, quietly: {result.returncode} {result.stderr!r}")
    with open(folder / "demo_0001.wav", "wb") as file:
        file.write(b"text")
        close_refused(file, "--log: a refused save")
    run(pev, "unmount", folder)
    lines = (home / "mount.log").read_text().splitlines()
    check(len(lines) == 1 and " pev[" in lines[0] and
          lines[0].endswith("demo_0001.wav: not a sound file pev can read (format not "
                            "recognised); the clip is as it was"),
          f"--log: the refusal, timed, with the process id: {lines}")


def damaged_archives(scratch, demo):
    """Archives whose clip cannot be copied as stored: a block size with
    bit 15 set in clip 2, and a file cut short inside clip 3."""
    data = bytearray(demo.read_bytes())
    table = 32
    second = struct.unpack_from("<I", data, table + 8 + 4)[0]
    malformed = bytearray(data)
    struct.pack_into("<H", malformed, second, 0x8001)
    cut = data[:len(data) - 1000]
    made = []
    for name, content in (("malformed", malformed), ("cut", cut)):
        path = scratch / f"d-{name}" / "demo.pev"
        path.parent.mkdir()
        path.write_bytes(bytes(content))
        made.append(path)
    return made


def chattr(flag, path):
    return subprocess.run(["chattr", flag, str(path)], capture_output=True).returncode == 0


def rewrites_refused(pev, scratch, demo):
    cases = []
    for archive, clip in zip(damaged_archives(scratch, demo), ("clip 0002", "clip 0003")):
        cases.append((f"a damaged archive ({archive.parent.name})", archive,
                      f"{clip} (id ", "cannot be copied", None))
    # A read-only file system: a tmpfs mounted read-only.
    ro = scratch / "d-ro"
    ro.mkdir()
    if run("mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", ro, ok=False).returncode == 0:
        from support import mounts
        mounts.append([ro, None])
        shutil.copy(demo, ro / "demo.pev")
        run("mount", "-o", "remount,ro", ro)
        cases.append(("a read-only file system", ro / "demo.pev", "read-only file system", "",
                      None))
    else:
        print("no tmpfs can be mounted here: the read-only file system is not tried", flush=True)
    # File attributes (ext4 and others keep them; tmpfs and overlayfs may not).
    for flag, what, words in (("+i", "an immutable archive", "immutable (chattr +i)"),
                              ("+a", "an append-only archive", "append-only (chattr +a)")):
        archive = scratch / f"d{flag[1]}" / "demo.pev"
        archive.parent.mkdir()
        shutil.copy(demo, archive)
        cases.append((what, archive, words, "", (flag, archive)))
    folder = scratch / "di-folder"
    folder.mkdir()
    shutil.copy(demo, folder / "demo.pev")
    cases.append(("an immutable folder", folder / "demo.pev", f"its folder {folder} is immutable",
                  "", ("+i", folder)))
    for what, archive, words, more, attribute in cases:
        with bounded(f"--write of {what}"):
            if attribute and not chattr(attribute[0], attribute[1]):
                print(f"chattr {attribute[0]} is not kept here: {what} is not tried", flush=True)
                continue
            try:
                folder = archive.parent.parent / (archive.parent.name + "-m")
                folder.mkdir()
                result = run(pev, "mount", "--write", archive, folder, ok=False)
                # One line says why (and, first, which clip is left out).
                said = [line for line in result.stderr.splitlines() if "left out" not in line]
                check(result.returncode == 1 and len(said) == 1 and
                      words in result.stderr and more in result.stderr and
                      "mount it without --write" in result.stderr and not is_mounted(folder),
                      f"--write of {what}: {result.returncode} {result.stderr!r}")
                # Read-only it mounts, and serves what can be decoded.
                mount = Mount(pev, archive, folder)
                same_folder(shown(folder), extracted(pev, archive), f"{what}: read-only mount")
                check(mount.unmount() == 0, f"{what}: unmounted")
            finally:
                if attribute:
                    chattr("-" + attribute[0][1], attribute[1])
