"""Real programs saving over a clip of a --write mount, each judged side
by side with the same command run in a plain folder of `pev extract`'s
files: the mounted folder must then show what the plain one holds, and,
once unmounted, the archive must be what `pev replace` makes from the plain
folder's file, with `pev test` clean. The same programs saving files pev
refuses must fail where the program checks its close or rename, and
change nothing."""

import shutil
import sys
import tempfile
from pathlib import Path

from support import (Mount, bounded, check, extracted, files_of, listing, log_lines,
                     replaced_by_pev, run, same_folder, shown, skip_unless, tested_clean, tone,
                     wait_for, wav_bytes)

CLIP = "demo_0002.wav"


def shell(script, *arguments):
    return run("sh", "-c", script, "-", *arguments, ok=False)


def python(code, *arguments):
    return run(sys.executable, "-c", code, *arguments, ok=False)


def packed(tool, target, source):
    """`source` in a tar or zip file under the name of `target`."""
    folder = Path(tempfile.mkdtemp(dir=Path(source).parent))
    shutil.copy2(source, folder / Path(target).name)
    if tool == "tar":
        run("tar", "-cf", folder / "x.tar", "-C", folder, Path(target).name)
        return folder / "x.tar"
    run("zip", "-q", "-j", folder / "x.zip", folder / Path(target).name)
    return folder / "x.zip"


# The editor's two ways of saving: vim renames the file to a backup, writes
# a new one and removes the backup (backupcopy=no, as it does where it can);
# GIO (gio save, as GNOME's editors save) writes a temporary file and
# renames it over the file, still open.
VIM = ["vim", "-u", "NONE", "-N", "-es", "-b",
       "-c", "set writebackup nobackup backupcopy=no backupskip="]


def vim_edit(target, _source):
    return run(*VIM, "-c", "5s/^./X/", "-c", "wq", target, ok=False)


def vim_put(target, source):
    # The whole buffer replaced by `source`'s bytes, then saved.
    return run(*VIM, "-c", "%d", "-c", f"r {source}", "-c", "1d", "-c", "wq", target, ok=False)


class Writer:
    def __init__(self, label, tools, save, refuse=None, checks_close=True, says_why=True,
                 sets_time=False):
        self.label = label
        self.tools = tools
        self.save = save              # save(target, source): the program's run
        self.refuse = refuse or save  # refuse(target, file): saving a file pev refuses
        self.checks_close = checks_close
        self.says_why = says_why      # prints the system's words for a failed close
        self.sets_time = sets_time    # gives the file the time the source had


def sox_refusal(target, source):
    if source.suffix == ".txt":  # text taken as raw samples, written raw
        return run("sox", "-t", "raw", "-r", "22050", "-e", "signed", "-b", "16", "-c", "1",
                   source, "-t", "raw", target, ok=False)
    return run("sox", source, "-t", source.suffix[1:], target, ok=False)


def ffmpeg_refusal(target, source):
    if source.suffix == ".txt":
        return run("ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "u8", "-ar", "22050",
                   "-ac", "1", "-i", source, "-f", "u8", target, ok=False)
    return run("ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", source, "-c", "copy",
               "-f", "flac" if source.suffix == ".flac" else "wav", target, ok=False)


WRITERS = [
    Writer("sh: cat > clip", ["cat"], lambda t, s: shell('cat "$1" > "$2"', s, t)),
    Writer("bash: exec 3> clip", ["bash"],
           lambda t, s: run("bash", "-c", 'exec 3>"$2"; cat "$1" >&3; exec 3>&-', "-", s, t,
                            ok=False)),
    Writer("dd", ["dd"], lambda t, s: run("dd", f"if={s}", f"of={t}", "status=none", ok=False)),
    # Two blocks of the clip's bytes written over in place.
    Writer("dd conv=notrunc", ["dd"],
           lambda t, s: run("dd", f"if={s}", f"of={t}", "bs=1000", "skip=3", "seek=3", "count=2",
                            "conv=notrunc", "status=none", ok=False),
           refuse=lambda t, s: run("dd", f"if={s}", f"of={t}", "conv=notrunc", "status=none",
                                   ok=False)),
    Writer("truncate -s 0, then cat >>", ["truncate"],
           lambda t, s: shell('truncate -s 0 "$2" && cat "$1" >> "$2"', s, t)),
    Writer("tee", ["tee"], lambda t, s: shell('tee "$2" < "$1" > /dev/null', s, t)),
    Writer("cp", ["cp"], lambda t, s: run("cp", s, t, ok=False)),
    Writer("cp --reflink=auto", ["cp"], lambda t, s: run("cp", "--reflink=auto", s, t, ok=False)),
    Writer("install", ["install"], lambda t, s: run("install", "-m", "644", s, t, ok=False)),
    Writer("rsync", ["rsync"], lambda t, s: run("rsync", s, t, ok=False)),
    Writer("rsync --inplace", ["rsync"], lambda t, s: run("rsync", "--inplace", s, t, ok=False)),
    # sox does not check its close: a refusal shows only in the log.
    Writer("sox", ["sox"], lambda t, s: run("sox", "-D", s, t, "vol", "0.5", ok=False),
           refuse=sox_refusal, checks_close=False),
    Writer("ffmpeg -y", ["ffmpeg"],
           lambda t, s: run("ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", s, "-fflags",
                            "+bitexact", "-flags:a", "+bitexact", t, ok=False),
           refuse=ffmpeg_refusal),
    Writer("python: open('wb')", [],
           lambda t, s: python("import sys\nwith open(sys.argv[1], 'wb') as f:\n"
                               "    f.write(open(sys.argv[2], 'rb').read())", t, s)),
    Writer("python: shutil.copyfile", [],
           lambda t, s: python("import shutil, sys; shutil.copyfile(sys.argv[2], sys.argv[1])",
                               t, s)),
    Writer("python: os.replace", [],
           lambda t, s: python("import os, sys\nt = sys.argv[1] + '.part'\n"
                               "with open(t, 'wb') as f:\n"
                               "    f.write(open(sys.argv[2], 'rb').read())\n"
                               "try:\n"
                               "    os.replace(t, sys.argv[1])\n"
                               "except OSError:\n"
                               "    os.unlink(t)\n"
                               "    raise", t, s)),
    Writer("vim: backup, then a new file", ["vim"], vim_edit, refuse=vim_put, says_why=False),
    Writer("gio save: a temporary file, then a rename", ["gio"],
           lambda t, s: shell('gio save "$2" < "$1"', s, t)),
    Writer("tar -x", ["tar"],
           lambda t, s: run("tar", "-xf", packed("tar", t, s), "-C", Path(t).parent, ok=False),
           sets_time=True),
    # unzip does not check its close: a refusal shows only in the log.
    Writer("unzip -o", ["unzip", "zip"],
           lambda t, s: run("unzip", "-qo", packed("zip", t, s), "-d", Path(t).parent, ok=False),
           checks_close=False, sets_time=True),
]


def setting_up(pev, scratch):
    base = scratch / "demo.pev"
    new = scratch / "p-new.wav"
    new.write_bytes(wav_bytes(tone(30000, 9)))
    return base, new, extracted(pev, base)


def test_programs(pev, scratch):
    base, new, stored = setting_up(pev, scratch)
    print(f"{len(WRITERS)} programs save over a clip", flush=True)
    for number, writer in enumerate(WRITERS):
        if not skip_unless(*writer.tools):
            continue
        label = writer.label
        with bounded(label):
            plain = scratch / f"p{number}-plain"
            run(pev, "extract", "-q", "-o", plain, base)
            done = writer.save(plain / CLIP, new)
            if not check(done.returncode == 0, f"{label} in a plain folder: {done.stderr}"):
                continue
            expected_folder = files_of(plain)
            archive = scratch / f"p{number}" / "demo.pev"
            archive.parent.mkdir()
            shutil.copy(base, archive)
            mount = Mount(pev, archive, scratch / f"p{number}-m", "--write")
            done = writer.save(mount.folder / CLIP, new)
            check(done.returncode == 0, f"{label}: status {done.returncode}: {done.stderr}")
            same_folder(shown(mount.folder), expected_folder, f"{label}: the folder after it")
            if writer.sets_time:
                given = int((plain / CLIP).stat().st_mtime)
                check(int((mount.folder / CLIP).stat().st_mtime) == given,
                      f"{label}: the clip's time is the one the program gave it")
            result = run(pev, "unmount", mount.folder, ok=False)
            check(result.returncode == 0 and mount.wait() == 0,
                  f"{label}: unmounted: {result.stderr}{mount.text()}")
            expected = replaced_by_pev(pev, scratch, base, [(2, plain / CLIP)], "p-ref.pev")
            check(archive.read_bytes() == expected, f"{label}: the archive equals pev replace's")
            tested_clean(pev, archive, label)
            check(listing(archive.parent) == ["demo.pev"], f"{label}: beside the archive: "
                                                           f"{listing(archive.parent)}")
            check(not log_lines(mount.text(), "the clip is as it was"),
                  f"{label}: a refusal on the way: {mount.text()!r}")


def refused_files(pev, scratch, new):
    """Files `pev replace` refuses, by what is wrong with them: text, an
    8-bit WAV file (taken where pev converts recordings), a clip too long
    (a FLAC file of 50 min of silence at 8 kHz, made with sox)."""
    text = scratch / "r-junk.txt"
    text.write_text("not a sound file, just text\n" * 20)
    eight = scratch / "r-8bit.wav"
    eight.write_bytes(wav_bytes(tone(5000, 3), bits=8))
    files = {"text": (text, "Operation not permitted"),
             "an 8-bit WAV file": (eight, "Operation not permitted")}
    if shutil.which("sox"):
        long = scratch / "r-long.flac"
        run("sox", "-D", "-n", "-r", "8000", "-b", "16", "-c", "1", long, "trim", "0", "3044")
        converts = "--no-dither" in run(pev, "help", "replace").stdout
        files["a clip too long"] = (long, "File too large" if converts else
                                    "Operation not permitted")
    refused = {}
    for kind, (path, words) in files.items():
        result = run(pev, "replace", scratch / "demo.pev", f"2={path}", "-o",
                     scratch / "r-probe.pev", "--force", ok=False)
        if result.returncode == 0:
            print(f"pev replace takes {kind}: not a refusal here", flush=True)
        else:
            refused[kind] = (path, words)
    return refused


def test_refusals(pev, scratch):
    base, new, stored = setting_up(pev, scratch)
    refused = refused_files(pev, scratch, new)
    for kind, (path, words) in refused.items():
        for number, writer in enumerate(WRITERS):
            if not skip_unless(*writer.tools):
                continue
            label = f"{writer.label}, {kind}"
            with bounded(label):
                archive = scratch / f"r{number}-{len(kind)}" / "demo.pev"
                archive.parent.mkdir()
                shutil.copy(base, archive)
                mount = Mount(pev, archive, scratch / f"r{number}-{len(kind)}-m", "--write")
                done = writer.refuse(mount.folder / CLIP, path)
                # Seen: a status other than 0, or the system's words for
                # the refusal (ffmpeg, and cat under bash's exec 3>, say it
                # and end with 0); and the words read true.
                if writer.checks_close:
                    check(done.returncode != 0 or words in done.stderr,
                          f"{label}: unseen: status {done.returncode}: {done.stderr!r}")
                if writer.checks_close and writer.says_why:
                    check(words in done.stderr, f"{label}: not '{words}': {done.stderr!r}")
                same_folder(shown(mount.folder), stored, f"{label}: the folder after it")
                wait_for(lambda: log_lines(mount.text(), f"{CLIP}: "), f"{label}: the log", 5)
                result = run(pev, "unmount", mount.folder, ok=False)
                check(result.returncode == 0 and mount.wait() == 0,
                      f"{label}: unmounted: {result.stderr}{mount.text()}")
                check(archive.read_bytes() == base.read_bytes(), f"{label}: the archive changed")
                check(listing(archive.parent) == ["demo.pev"], f"{label}: beside the archive")
