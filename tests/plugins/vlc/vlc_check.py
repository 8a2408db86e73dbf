#!/usr/bin/python3
"""The VLC module as people meet it: cvlc, headless, with the module found
through VLC_PLUGIN_PATH, side by side with the same cvlc runs on the WAV files
`pev extract` wrote (VLC's own WAV reader). Every clip alone; the archive as
a playlist (titles, lengths, track numbers, all of it played); a pipe; time
seeks from the command line (--start-time, --stop-time, --input-repeat);
time and position seeks made while paused through the rc interface; damaged,
cut and foreign files. Each cvlc run has its own time limit and, run as root,
runs as nobody (VLC refuses root) in a scratch folder.

    vlc_check.py MODULE LIBPEV ARCHIVE EXTRACTED_FOLDER [ARCHIVE EXTRACTED_FOLDER ...]

MODULE is the built libpev_plugin.so, LIBPEV the libpev.so.1 it links."""
import glob
import os
import random
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import wave

LIMIT = 60  # seconds for any one cvlc run
passes = 0
failures = 0


def check(what, ok, detail=""):
    global passes, failures
    print(("PASS " if ok else "FAIL ") + what + ("" if ok else f" ({detail})"), flush=True)
    passes += 1 if ok else 0
    failures += 0 if ok else 1
    return ok


class Vlc:
    """Runs cvlc as VLC's users do, as nobody when this script is root."""

    def __init__(self, scratch, module_dir):
        self.scratch = scratch
        self.module_dir = module_dir
        self.runs = 0

    def command(self, args, plugin_dir=None, program=("cvlc", "--no-one-instance")):
        """`program` with `args`, as nobody, a fresh HOME and a time limit."""
        self.runs += 1
        home = os.path.join(self.scratch, f"home-{self.runs}")
        os.mkdir(home)
        os.chmod(home, 0o777)
        plugin_dir = plugin_dir or self.module_dir
        env = ["env", "-i", f"HOME={home}", "PATH=/usr/bin:/bin", "LANG=C.UTF-8",
               f"VLC_PLUGIN_PATH={plugin_dir}", f"LD_LIBRARY_PATH={plugin_dir}"]
        user = ["runuser", "-u", "nobody", "--"] if os.geteuid() == 0 else []
        return user + env + ["timeout", "-k", "5", str(LIMIT)] + list(program) + args

    def items(self, paths):
        """vlc_items.py's lines for `paths`: libvlc's preparser on each."""
        helper = readable_copy(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                            "vlc_items.py"), self.scratch)
        process = subprocess.run(self.command(paths, program=("/usr/bin/python3", helper)),
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 timeout=LIMIT + 10, check=False)
        lines = process.stdout.decode(errors="replace").splitlines()
        return [tuple(line.split("\t")) for line in lines], process.stderr.decode(errors="replace")

    def run(self, args, stdin=None, plugin_dir=None):
        """(exit status, stderr) of one run; its own time limit."""
        process = subprocess.Popen(self.command(args, plugin_dir), stdin=stdin,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                   start_new_session=True)
        try:
            _, err = process.communicate(timeout=LIMIT + 10)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            return None, "cvlc did not end"
        return process.returncode, err.decode(errors="replace")

    def play(self, name, args, stdin=None):
        """The samples cvlc's file output writes, stderr, and exit status."""
        out = os.path.join(self.scratch, "out", name)
        if os.path.exists(out):
            os.remove(out)
        status, err = self.run(["-I", "dummy", "--aout", "afile", f"--audiofile-file={out}",
                                "--audiofile-format=s16", "--no-audiofile-wav"] + args +
                               ["vlc://quit"], stdin=stdin)
        data = open(out, "rb").read() if os.path.exists(out) else b""
        return data, err, status

    def stream_out(self, name, inputs):
        """What a playlist of inputs sends to a raw file kept open across them."""
        out = os.path.join(self.scratch, "out", name)
        status, err = self.run(["-I", "dummy", "--sout-keep",
                                f"--sout=#std{{access=file,mux=raw,dst={out}}}"] + inputs +
                               ["vlc://quit"])
        data = open(out, "rb").read() if os.path.exists(out) else b""
        return data, err, status


class Rc:
    """cvlc driven through its rc interface, started paused."""

    PROMPT = r"(?:^|\n)> "

    def __init__(self, vlc, name, args):
        self.out = os.path.join(vlc.scratch, "out", name)
        if os.path.exists(self.out):
            os.remove(self.out)
        command = vlc.command(["-I", "rc", "--start-paused", "--play-and-exit", "--aout", "afile",
                               f"--audiofile-file={self.out}", "--audiofile-format=s16",
                               "--no-audiofile-wav"] + args)
        self.errors = tempfile.TemporaryFile()
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=self.errors, start_new_session=True)
        self.text = ""
        self.read_until(self.PROMPT)  # the banner

    def read_until(self, pattern, limit=20):
        """What is read up to the first match of `pattern`; None after `limit` s."""
        deadline = time.monotonic() + limit
        while not (match := re.search(pattern, self.text)):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.process.stdout], [], [], left)[0]:
                return None
            chunk = os.read(self.process.stdout.fileno(), 65536)
            if not chunk:
                return None
            self.text += chunk.decode(errors="replace").replace("\r", "")
        answer, self.text = self.text[:match.start()], self.text[match.end():]
        return answer

    def ask(self, line):
        """The answer to one command, up to the next prompt (None if none comes)."""
        try:
            self.process.stdin.write(line.encode() + b"\n")
            self.process.stdin.flush()
        except BrokenPipeError:
            return None
        return self.read_until(self.PROMPT)

    def ask_until(self, line, accept):
        """Asks again, up to 20 s, until `accept` takes the answer; the last answer."""
        for _ in range(100):
            answer = self.ask(line)
            if answer is None or accept(answer):
                return answer
            time.sleep(0.2)
        return answer

    def paused(self):
        answer = self.ask_until("status", lambda a: "( state paused )" in a)
        return answer is not None and "( state paused )" in answer

    def end(self, play=False):
        """Plays on to the end (play) or quits; the samples written, None on a hang.
        (Standard input stays open meanwhile: at its end rc quits VLC.)"""
        try:
            self.process.stdin.write(b"pause\n" if play else b"quit\n")
            self.process.stdin.flush()
            self.process.wait(LIMIT)
        except BrokenPipeError:
            self.process.wait(LIMIT)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
            return None
        finally:
            for pipe in (self.process.stdin, self.process.stdout):
                try:
                    pipe.close()
                except BrokenPipeError:
                    pass
        return open(self.out, "rb").read() if os.path.exists(self.out) else b""

    def stderr(self):
        self.errors.seek(0)
        return self.errors.read().decode(errors="replace")


def paused_play(vlc, name, args, commands=()):
    """What cvlc writes when it starts paused, takes `commands` on rc, then
    plays to the end, with what rc's get_time and get_length said before it
    played: started paused, the options' own seek (--start-time) is made
    before anything is decoded. (Started playing, VLC decodes its first block
    meanwhile, which sometimes reaches the output before the seek's flush: a
    race in VLC, for its WAV reader as for any other.) None on a failure."""
    rc = Rc(vlc, name, args)
    if not rc.paused():
        rc.end()
        return None
    for command in commands:
        rc.ask(command)
    said = [settled(rc, "get_time"), settled(rc, "get_length")]
    return rc.end(play=True), said


def settled(rc, command):
    """rc's answer once it no longer changes: the input thread makes rc's
    seeks after rc has answered them."""
    answers = [None]
    for _ in range(40):
        time.sleep(0.25)
        answers.append((rc.ask(command) or "").strip())
        if answers[-1] == answers[-2]:
            break
    return answers[-1]


def reference(folder):
    """The extracted clips: rate, and (position, title, path, samples) in order."""
    clips = []
    rate = 0
    for path in sorted(glob.glob(os.path.join(folder, "*_[0-9][0-9][0-9][0-9].wav"))):
        with wave.open(path) as wav:
            rate = wav.getframerate()
            data = wav.readframes(wav.getnframes())
        title = os.path.basename(path)
        clips.append((int(title[-8:-4]), title, path, data))
    return rate, clips


def readable_copy(source, folder, name=None):
    """A copy nobody can read, in a folder nobody can enter."""
    os.makedirs(folder, mode=0o755, exist_ok=True)
    os.chmod(folder, 0o755)
    target = os.path.join(folder, name or os.path.basename(source))
    shutil.copyfile(source, target)
    os.chmod(target, 0o644)
    return target


def listed(answer):
    """(title, duration) of each item of rc's playlist listing."""
    return re.findall(r"^\|\s+\*?\d+ - (.*) \((\d\d:\d\d:\d\d)\)", answer or "", re.M)


def meta(answer, field):
    found = re.search(rf"^\| {field}: (.*)$", answer or "", re.M)
    return found.group(1) if found else None


def check_module_found(vlc, scratch):
    check("VLC_PLUGIN_PATH: cvlc -l lists the module (from a folder without plugins.dat)",
          re.search(r"^\s+pev\s+Voice archive", listing(vlc), re.M) is not None)
    cache_gen = sorted(glob.glob("/usr/lib/*/vlc/vlc-cache-gen"))
    if not cache_gen:
        print("SKIP a stale plugins.dat: vlc-cache-gen not found")
        return
    stale = os.path.join(scratch, "stale-modules")
    for name in os.listdir(vlc.module_dir):
        readable_copy(os.path.join(vlc.module_dir, name), stale)
    subprocess.run([cache_gen[0], stale], env={"LD_LIBRARY_PATH": stale}, timeout=LIMIT,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    with open(os.path.join(stale, "libpev_plugin.so"), "ab") as module:
        module.write(b"\0")  # a rebuilt module: its size and time no longer match the cache
    check("VLC_PLUGIN_PATH: a stale plugins.dat there does not hide the rebuilt module",
          os.path.exists(os.path.join(stale, "plugins.dat")) and
          re.search(r"^\s+pev\s+Voice archive", listing(vlc, stale), re.M) is not None)


def listing(vlc, plugin_dir=None):
    """cvlc -l's module list (it goes to standard output)."""
    process = subprocess.run(vlc.command(["-l"], plugin_dir), stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, timeout=LIMIT + 10, check=False)
    return process.stdout.decode(errors="replace")


def check_clips_alone(vlc, archive, clips):
    for position, title, wav, data in clips:
        ours, err, status = vlc.play(f"clip{position}.raw", [f"--pev-clip={position}", archive])
        theirs, _, _ = vlc.play(f"wav{position}.raw", [wav])
        check(f"--pev-clip={position} plays {title} as cvlc plays its WAV file, sample for sample",
              status == 0 and ours == theirs == data,
              f"status {status}, {len(ours)} bytes, WAV {len(theirs)}, extracted {len(data)}; {err}")


def archive_clip_count(archive):
    with open(archive, "rb") as file:
        return struct.unpack_from("<i", file.read(32), 16)[0]


def check_playlist(vlc, name, archive, clips):
    count = archive_clip_count(archive)
    rc = Rc(vlc, f"{name}-list.raw", [archive])
    ours = rc.ask_until("playlist", lambda a: len(listed(a)) == len(clips))
    described = []
    for position, title, _, _ in clips:
        info = rc.ask_until("info", lambda a, t=title: meta(a, "title") == t)
        described.append((meta(info, "title"), meta(info, "track_number"), meta(info, "track_total")))
        rc.ask("next")
    rc.end()
    wavs = Rc(vlc, f"{name}-wavlist.raw", [wav for _, _, wav, _ in clips])
    theirs = wavs.ask_until("playlist", lambda a: len(listed(a)) == len(clips))
    wavs.end()
    check(f"{name}: the archive opens as a playlist of its clips, titled and timed as the WAV files",
          listed(ours) == listed(theirs) and [t for t, _ in listed(ours)] == [c[1] for c in clips],
          f"{listed(ours)} against {listed(theirs)}")
    check(f"{name}: each item playing has its title, track number and the archive's clip count",
          described == [(c[1], str(c[0]), str(count)) for c in clips], f"{described}")
    # What a playlist shows before anything plays: VLC's preparser.
    ours, err = vlc.items([archive])
    theirs, _ = vlc.items([c[2] for c in clips])
    check(f"{name}: preparsed, each item has its title, track number, clip count, and the WAV "
          "file's duration to the millisecond",
          ours == [(t, str(n), str(count), duration) for (n, t, _, _), (_, _, _, duration) in
                   zip(clips, theirs)] and len(theirs) == len(clips),
          f"{ours} against {theirs}: {err}")
    ours, err, status = vlc.stream_out(f"{name}-played.raw", [archive])
    theirs, _, _ = vlc.stream_out(f"{name}-wavs-played.raw", [c[2] for c in clips])
    check(f"{name}: the playlist plays every clip as a playlist of the WAV files plays",
          status == 0 and len(ours) > 0 and ours == theirs,
          f"status {status}, {len(ours)} bytes against {len(theirs)}; {err}")


def check_pipe(vlc, name, archive, clips):
    """Standard input, a pipe or a file: played once, all clips in a row."""
    whole = b"".join(c[3] for c in clips)
    with open(archive, "rb") as source:
        ours, err, status = vlc.play(f"{name}-stdin.raw", ["-"], stdin=source)
    check(f"{name}: standard input from the file, the clips play one after another",
          status == 0 and ours == whole, f"status {status}, {len(ours)} bytes; {err}")
    with subprocess.Popen(["cat", archive], stdout=subprocess.PIPE) as cat:
        ours, err, status = vlc.play(f"{name}-pipe.raw", ["-"], stdin=cat.stdout)
        cat.stdout.close()
    check(f"{name}: from a pipe, the clips play one after another",
          status == 0 and ours == whole, f"status {status}, {len(ours)} bytes; {err}")


def seconds(value):
    return f"{value:.3f}"


def check_command_line_seeks(vlc, name, archive, rate, clips, rng):
    """Seeks in time from the command line, on the first and last clips."""
    for position, title, wav, data in clips[:1] + clips[1:][-1:]:
        length = len(data) / 2 / rate
        early, late = sorted(rng.uniform(0, length) for _ in range(2))
        cases = [["--start-time", seconds(early)],
                 ["--stop-time", seconds(late)],
                 ["--start-time", seconds(early), "--stop-time", seconds(late)],
                 ["--start-time", seconds(late), "--input-repeat", "1"],
                 ["--start-time", seconds(length + 1)]]
        for options in cases:
            label = " ".join(options)
            ours = paused_play(vlc, "seek.raw", options + [f"--pev-clip={position}", archive])
            theirs = paused_play(vlc, "seek-wav.raw", options + [wav])
            past_end = options == ["--start-time", seconds(length + 1)]
            check(f"{name}: {title} with {label} gives the WAV file's samples, time and length",
                  ours is not None and ours == theirs and (len(ours[0]) == 0) == past_end,
                  described(ours, theirs))


def described(ours, theirs):
    """The difference between two paused_play results, for a failure."""
    def one(result):
        return "no result" if result is None else f"{len(result[0])} bytes, time and length {result[1]}"
    return f"{one(ours)} against {one(theirs)}"


def check_rc_seeks(vlc, name, archive, rate, clips, rng):
    """Seeks in position and in time while paused, through the rc interface."""
    position, title, wav, data = clips[0]
    whole_seconds = int(len(data) / 2 / rate)
    cases = [["seek 0%"], [f"seek {rng.uniform(1, 99):.2f}%"], ["seek 99.99%"], ["seek 100%"],
             [f"seek {rng.randrange(1, max(2, whole_seconds))}"],
             ["seek 80%", f"seek {max(1, whole_seconds // 2)}"]]
    for commands in cases:
        label = ", then ".join(commands)
        ours = paused_play(vlc, "rc.raw", [f"--pev-clip={position}", archive], commands)
        theirs = paused_play(vlc, "rc-wav.raw", [wav], commands)
        check(f"{name}: {title} paused, {label}, played: the WAV file's samples, time and length",
              ours is not None and ours == theirs and
              (len(ours[0]) == 0) == (commands[-1] == "seek 100%"), described(ours, theirs))


def check_damaged_clips(vlc, name, archive, clips):
    """Clips that pev extract skipped are left out with a message, and fail alone."""
    present = {c[0] for c in clips}
    base = clips[0][1][:-9]
    missing = [n for n in range(1, archive_clip_count(archive) + 1) if n not in present]
    if not missing:
        return
    _, err, status = vlc.stream_out(f"{name}-damaged.raw", [archive])
    check(f"{name}: each damaged clip is left out of the playlist with a message",
          status == 0 and all(f"clip {n} ({base}_{n:04}.wav) cannot be decoded and is left out"
                              in err for n in missing), f"status {status}: {err}")
    ours, err, status = vlc.play(f"{name}-damaged-alone.raw", [f"--pev-clip={missing[0]}", archive])
    check(f"{name}: --pev-clip={missing[0]} (damaged) says why and plays nothing",
          status == 0 and not ours and f"clip {missing[0]} ({base}_{missing[0]:04}.wav) "
          "cannot be decoded:" in err, f"status {status}, {len(ours)} bytes: {err}")


def check_foreign_files(vlc, scratch, archive, clips):
    """Files that are not whole archives: a message, never a crash or a hang."""
    media = os.path.join(scratch, "foreign")
    os.makedirs(media, mode=0o755, exist_ok=True)
    whole = open(archive, "rb").read()
    cases = [("text.pev", b"not an archive\n", "cannot open the voice archive: not a voice archive"),
             ("empty.pev", b"", "cannot open the voice archive: not a voice archive"),
             ("cut-table.pev", whole[:40], "cannot open the voice archive: the entry table is cut"),
             ("cut-data.pev", whole[:len(whole) * 2 // 3], "cannot be decoded and is left out: "
              "its stored bytes run past the end of the file")]
    for file_name, content, message in cases:
        path = os.path.join(media, file_name)
        with open(path, "wb") as file:
            file.write(content)
        os.chmod(path, 0o644)
        _, err, status = vlc.stream_out("foreign.raw", [path])
        check(f"{file_name}: the module says why (\"{message}\"), and cvlc ends normally",
              status == 0 and re.search(rf"pev demux error: .*{re.escape(message)}", err),
              f"status {status}: {err}")
    # A rate VLC's WAV reader refuses is refused too.
    fast = bytearray(whole)
    fast[24:28] = (400000).to_bytes(4, "little")
    path = os.path.join(media, "fast.pev")
    with open(path, "wb") as file:
        file.write(fast)
    os.chmod(path, 0o644)
    ours, err, status = vlc.play("fast.raw", ["--pev-clip=1", path])
    check("a rate of 400000 Hz is refused with a message, as VLC's WAV reader refuses it",
          status == 0 and not ours and "400000 samples per second is more than VLC plays" in err,
          f"status {status}, {len(ours)} bytes: {err}")
    # A clip whose bytes are gone when it starts playing (the file was cut
    # after VLC opened it) is reported and skipped.
    cut = readable_copy(archive, media, "cut-later.pev")
    os.chmod(cut, 0o666)
    position, title = clips[-1][0], f"cut-later_{clips[-1][0]:04}.wav"
    rc = Rc(vlc, "cut-later.raw", [f"--pev-clip={position}", cut])
    paused = rc.paused()
    os.truncate(cut, 100)
    ended = rc.end(play=True)
    check("a clip cut away after opening is reported and skipped, and cvlc ends normally",
          paused and ended is not None and rc.process.returncode == 0 and
          f"clip {position} ({title}) cannot be read and is skipped:" in rc.stderr(),
          f"status {rc.process.returncode}: {rc.stderr()}")
    # Known by its content, whatever its name.
    renamed = readable_copy(archive, media, "noext.bin")
    position, _, _, data = clips[0]
    ours, err, status = vlc.play("renamed.raw", [f"--pev-clip={position}", renamed])
    check("an archive named noext.bin is known by its content and plays",
          status == 0 and ours == data, f"status {status}, {len(ours)} bytes; {err}")
    rc = Rc(vlc, "renamed-list.raw", [renamed])
    titles = [t for t, _ in listed(rc.ask_until("playlist", lambda a: len(listed(a)) == len(clips)))]
    rc.end()
    check("noext.bin opens as a playlist of its clips",
          titles == [f"noext.bin_{c[0]:04}.wav" for c in clips], f"{titles}")


def check_hostile_archives(vlc, scratch):
    """The fuzzers' hostile archives: each opens, lists and plays what it
    can, says why it cannot do the rest, and cvlc ends normally."""
    corpus = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fuzz_corpus")
    media = os.path.join(scratch, "hostile")
    for source in sorted(glob.glob(os.path.join(corpus, "capi", "*")) +
                         glob.glob(os.path.join(corpus, "extract", "*"))):
        path = readable_copy(source, media, os.path.basename(source) + ".pev")
        endings = []
        for options in ([], ["--pev-clip=1"]):
            played, err, status = vlc.play("hostile.raw", options + [path])
            said = "pev demux error:" in err
            endings.append(status if status != 0 or played or said else "neither played nor said")
        check(f"{os.path.basename(source)}: played or refused with a message, as a playlist and "
              "with --pev-clip=1, and cvlc ends normally", endings == [0, 0], f"{endings}")


def main():
    if len(sys.argv) < 5 or len(sys.argv) % 2 == 0:
        print(__doc__, file=sys.stderr)
        return 2
    module, libpev = sys.argv[1:3]
    archives = list(zip(sys.argv[3::2], sys.argv[4::2]))
    scratch = tempfile.mkdtemp(prefix="pev-vlc-")
    try:
        os.chmod(scratch, 0o755)
        os.mkdir(os.path.join(scratch, "out"))
        os.chmod(os.path.join(scratch, "out"), 0o777)
        modules = os.path.join(scratch, "modules")
        readable_copy(module, modules, "libpev_plugin.so")
        readable_copy(libpev, modules, "libpev.so.1")
        vlc = Vlc(scratch, modules)
        check_module_found(vlc, scratch)
        rng = random.Random(2024)
        for number, (archive_path, folder) in enumerate(archives):
            name = os.path.basename(archive_path)
            rate, clips = reference(folder)
            media = os.path.join(scratch, f"media{number}")
            archive = readable_copy(archive_path, media)
            clips = [(n, t, readable_copy(w, media), d) for n, t, w, d in clips]
            check_clips_alone(vlc, archive, clips)
            check_playlist(vlc, name, archive, clips)
            check_pipe(vlc, name, archive, clips)
            check_damaged_clips(vlc, name, archive, clips)
            if number == 0:  # (the others' clips are sought as these are)
                check_command_line_seeks(vlc, name, archive, rate, clips, rng)
                check_rc_seeks(vlc, name, archive, rate, clips, rng)
                check_foreign_files(vlc, scratch, archive, clips)
                check_hostile_archives(vlc, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"vlc: {passes} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
