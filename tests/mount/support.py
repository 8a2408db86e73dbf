"""What the mount's tests share: mounts driven as children, bounded steps,
the folder as a program sees it, and the references (`pev extract`,
`pev replace`) it is judged against.

Every step that can loop or wait runs under `bounded`: past its bound the
watchdog prints which step hung and every thread's stack, kills every
mount, unmounts every folder lazily and ends the run with status 1, so a
loop fails in seconds with a message instead of at ctest's time limit.
"""

import contextlib
import errno
import faulthandler
import os
import random
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
DEMO = ROOT / "examples" / "demo.pev"
SKIP = 77
STEP_LIMIT = 30  # seconds any one step may take, under a sanitizer too
# Seconds a whole run may take: below ctest's limit of 120, so that a group
# whose every step ends in time but slowly (a wait that fails in each of 60
# cases) is still torn down cleanly instead of killed with its mounts.
RUN_LIMIT = int(os.environ.get("PEV_MOUNT_TEST_LIMIT", "110"))

failures = []
mounts = []  # [folder, process or pid or None], unmounted at the end
scratch_folders = []  # removed by the watchdog too


def check(condition, what):
    if not condition:
        failures.append(what)
        print(f"FAILED: {what}", flush=True)
    return condition


# ---------------------------------------------------------------- bounds

class Watchdog:
    def __init__(self):
        self.lock = threading.Lock()
        self.deadline = None
        self.what = None
        self.limit = None
        self.run_deadline = time.monotonic() + RUN_LIMIT
        threading.Thread(target=self.watch, daemon=True).start()

    def watch(self):
        while True:
            time.sleep(0.1)
            with self.lock:
                deadline, what, limit = self.deadline, self.what, self.limit
            if time.monotonic() > self.run_deadline:
                deadline, what, limit = (self.run_deadline, f"the run (at {what})" if what else
                                         "the run", RUN_LIMIT)
            if deadline is not None and time.monotonic() > deadline:
                print(f"FAILED: {what}: not done after {limit} s (a loop or a hang); "
                      "every mount is killed", flush=True)
                faulthandler.dump_traceback(all_threads=True)
                tear_down(kill=True)
                for folder in scratch_folders:
                    shutil.rmtree(folder, ignore_errors=True)
                os._exit(1)


watchdog = Watchdog()


@contextlib.contextmanager
def bounded(what, seconds=STEP_LIMIT):
    """Runs the block with a bound of its own (steps do not nest)."""
    with watchdog.lock:
        watchdog.deadline, watchdog.what, watchdog.limit = time.monotonic() + seconds, what, seconds
    try:
        yield
    finally:
        with watchdog.lock:
            watchdog.deadline = None


def wait_for(predicate, what, seconds=10, pause=0.01):
    """Polls `predicate` until it holds; False (and a failure) past `seconds`."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(pause)
    return check(predicate(), f"{what}: not so after {seconds} s")


# ---------------------------------------------------------------- commands

def run(*command, ok=True, timeout=STEP_LIMIT, binary=False, **options):
    # Names need not be UTF-8: their bytes come back as they were.
    text = {} if binary else {"text": True, "errors": "surrogateescape"}
    result = subprocess.run([c if isinstance(c, bytes) else str(c) for c in command],
                            capture_output=True, timeout=timeout, **text, **options)
    if ok and result.returncode != 0:
        raise RuntimeError(f"{command}: status {result.returncode}: {result.stderr}")
    return result


def wav_bytes(samples, rate=22050, channels=1, bits=16):
    if bits == 8:
        data = bytes((s >> 8) + 128 for s in samples)
    else:
        data = struct.pack(f"<{len(samples)}h", *samples)
    width = bits // 8
    return (b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, channels, rate, rate * width * channels,
                        width * channels, bits) +
            b"data" + struct.pack("<I", len(data)) + data)


def tone(count, seed):
    rng = random.Random(seed)
    step = rng.choice([1, 3, 40, 900])  # smooth, noisy, jumpy
    value, samples = 0, []
    for _ in range(count):
        value = max(-32768, min(32767, value + rng.randint(-step, step)))
        samples.append(value)
    return samples


# ---------------------------------------------------------------- mounts

def is_mounted(folder):
    """Mounted, whether its program still serves it or not (the folder of a
    mount whose program is gone cannot even be looked at: ENOTCONN)."""
    try:
        os.lstat(folder)
    except OSError as error:
        if error.errno == errno.ENOTCONN:
            return True
    return os.path.ismount(folder)


def wait_mounted(folder, process=None):
    end = time.monotonic() + STEP_LIMIT
    while time.monotonic() < end:
        if is_mounted(folder):
            return True
        if process is not None and process.poll() is not None:
            return False
        time.sleep(0.01)
    return False


class Mount:
    """`pev mount -f` as a child, its log in a file; unmounted at the end."""

    def __init__(self, pev, archive, folder, *options, env=None, log=None):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.log_path = Path(log) if log else self.folder.parent / (self.folder.name + ".log")
        self.log = open(self.log_path, "w")
        self.process = subprocess.Popen([str(pev), "mount", "-f", *options, str(archive),
                                         str(folder)], stderr=self.log, env=env)
        mounts.append([self.folder, self.process])
        if not wait_mounted(folder, self.process):
            raise RuntimeError(f"{archive} was not mounted: {self.text()}")

    def text(self):
        self.log.flush()
        return self.log_path.read_text(errors="replace")

    def unmount(self, command=("fusermount3", "-u")):
        run(*command, self.folder)
        return self.wait()

    def wait(self):
        return self.process.wait(timeout=STEP_LIMIT)


def pid_running(argv):
    """The process whose command line is exactly `argv`, or None."""
    wanted = b"\0".join(a if isinstance(a, bytes) else os.fsencode(str(a)) for a in argv) + b"\0"
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                if (entry / "cmdline").read_bytes() == wanted:
                    return int(entry.name)
            except OSError:
                pass
    return None


def mount_in_background(pev, archive, folder, *options, ok=True, **how):
    """`pev mount` as users run it: back once mounted, serving from the background."""
    argv = [str(pev), "mount", *[str(o) for o in options], str(archive), str(folder)]
    result = run(*argv, ok=ok, **how)
    if result.returncode == 0:
        mounts.append([Path(folder), pid_running(argv)])
    return result


def tear_down(kill=False):
    """Unmounts every folder; with `kill`, kills every mount first (a hang)."""
    for folder, server in mounts:
        if kill and isinstance(server, subprocess.Popen):
            server.kill()
        elif kill and isinstance(server, int):
            with contextlib.suppress(OSError):
                os.kill(server, signal.SIGKILL)
        if is_mounted(folder) or isinstance(server, subprocess.Popen) and server.poll() is None:
            subprocess.run(["fusermount3", "-uz", folder], capture_output=True, timeout=10)
            if is_mounted(folder):
                subprocess.run(["umount", "-l", folder], capture_output=True, timeout=10)
        if isinstance(server, subprocess.Popen):
            try:
                server.wait(timeout=STEP_LIMIT)
            except subprocess.TimeoutExpired:
                server.kill()


# ---------------------------------------------------------------- the folder

def listing(folder):
    """The folder's names, listed by another process with a bound of its own:
    a listing that never ends fails here in seconds."""
    try:
        result = run("find", folder, "-mindepth", "1", "-maxdepth", "1", "-printf", "%f\\0",
                     binary=True, timeout=10)
    except subprocess.TimeoutExpired:
        # Nothing else can work on such a folder: the group ends here.
        check(False, f"listing {folder} did not end within 10 s")
        raise RuntimeError(f"listing {folder} never ends") from None
    return sorted(os.fsdecode(name) for name in result.stdout.split(b"\0") if name)


def shown(folder):
    """Every file of the folder and its bytes, as a program sees them; a
    file's size as stat says it must agree with what a read gives."""
    files = {}
    for name in listing(folder):
        path = Path(folder, name)
        data = path.read_bytes()
        check(path.stat().st_size == len(data),
              f"{name}: stat says {path.stat().st_size} bytes, a read gives {len(data)}")
        files[name] = data
    return files


def files_of(folder):
    return {p.name: p.read_bytes() for p in sorted(Path(folder).iterdir()) if p.is_file()}


def same_folder(got, expected, what):
    """Two {name: bytes} views of a folder, compared name by name."""
    if not check(sorted(got) == sorted(expected), f"{what}: names {sorted(got)} against "
                                                  f"{sorted(expected)}"):
        return False
    wrong = [name for name in got if got[name] != expected[name]]
    return check(not wrong, f"{what}: bytes of {wrong}")


def extracted(pev, archive, where=None):
    """{name: bytes} of the files `pev extract` writes for `archive`."""
    with tempfile.TemporaryDirectory(dir=where) as folder:
        run(pev, "extract", "-q", "-o", folder, archive, ok=False)  # a damaged clip is left out
        return files_of(folder)


def replaced_by_pev(pev, scratch, archive, pairs, name):
    """The archive `pev replace` makes from `archive` with `pairs` (N, file)."""
    reference = Path(scratch) / name
    run(pev, "replace", "-q", "--force", archive, *[f"{n}={f}" for n, f in pairs], "-o",
        reference)
    return reference.read_bytes()


def tested_clean(pev, archive, what):
    result = run(pev, "test", archive, ok=False)
    return check(result.returncode == 0, f"{what}: pev test: {result.stdout}{result.stderr}")


def skip_unless(*tools):
    missing = [tool for tool in tools if shutil.which(tool) is None]
    if missing:
        print(f"{', '.join(missing)} missing here: skipped", flush=True)
    return not missing


def close_refused(file, what, wanted=errno.EPERM):
    """Closes `file`, a save the mount must refuse: its close fails with `wanted`."""
    try:
        file.close()
        return check(False, f"{what}: the close succeeded")
    except OSError as error:
        return check(error.errno == wanted, f"{what}: the close failed with {error}")


def log_lines(text, words):
    return [line for line in text.splitlines() if words in line]


def main(groups):
    """Runs the named groups: {name: function(pev, scratch)}."""
    import argparse
    parser = argparse.ArgumentParser()
    parser.add_argument("--pev", required=True)
    parser.add_argument("groups", nargs="+", choices=sorted(groups))
    options = parser.parse_args()
    if not os.path.exists("/dev/fuse"):
        print("/dev/fuse is missing: pev mount cannot be tested here")
        return SKIP
    pev = Path(options.pev).resolve()
    with tempfile.TemporaryDirectory(prefix="pev-mount-") as name:
        scratch = Path(name)
        scratch_folders.append(scratch)
        # Background mounts with no system log log into the state folder.
        os.environ["XDG_STATE_HOME"] = str(scratch / "state")
        shutil.copy(DEMO, scratch / "demo.pev")
        probe = scratch / "probe"
        probe.mkdir()
        with bounded("mounting the demo archive to see whether this system mounts"):
            result = subprocess.run([str(pev), "mount", str(scratch / "demo.pev"), str(probe)],
                                    capture_output=True, text=True, timeout=STEP_LIMIT)
            if result.returncode != 0:
                print(f"mounting is refused here: {result.stderr.strip()}")
                return SKIP if "this build" not in result.stderr else 1
            run(pev, "unmount", probe)
        try:
            for group in options.groups:
                groups[group](pev, scratch)
        finally:
            with bounded("unmounting everything at the end"):
                tear_down()
    print(f"{len(failures)} failure(s)" if failures else "all passed")
    return 1 if failures else 0
