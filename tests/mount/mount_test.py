#!/usr/bin/env python3
"""Mounts archives with `pev mount` and checks them as programs use them.

    tests/mount/mount_test.py --pev BUILD/pev GROUP...

read:      every file equals `pev extract`'s, on the demo and on 2000
           generated clips; random slices; several readers at once; the
           folder read-only; the refusals of bad input, each one line,
           nothing mounted.
write:     a --write mount's promises, on what the folder shows after every
           save, refusal and rewrite and on the archive after: saves judged
           once written, refused ones kept open, removed clips shown again,
           times, 50 saves as one rewrite equal to `pev replace`.
programs:  real programs saving over a clip (shells, dd, truncate, tee, cp,
           install, rsync, sox, ffmpeg, Python, an editor's two ways, tar,
           unzip) side by side with the same command in a plain folder: the
           archive then equals `pev replace` with the plain folder's file.
refusals:  the same programs saving files pev refuses: each fails where the
           program checks, and nothing changes.
paths:     archives and folders named with a comma, a blank, a newline and
           a byte that is no UTF-8, through every step; --log; --write
           refused at mount for archives it could not rewrite.
faults:    the rewrite with its system calls failed one at a time under
           strace, on a full tmpfs (asked and timed), and SIGKILLed midway;
           drafts on a full disk; the archive whole, nothing beside it,
           nothing saved lost while the mount lives.

Exits 77 (skipped) where /dev/fuse is missing or mounting is refused. Every
mount is unmounted at the end, whatever failed; every step has a bound of
its own (support.py).
"""

import sys

import fault_cases
import path_cases
import program_cases
import read_cases
import support
import write_cases

if __name__ == "__main__":
    sys.exit(support.main({
        "read": read_cases.test_read,
        "write": write_cases.test_write,
        "programs": program_cases.test_programs,
        "refusals": program_cases.test_refusals,
        "paths": path_cases.test_paths,
        "faults": fault_cases.test_faults,
    }))
