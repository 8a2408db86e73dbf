#!/usr/bin/python3
"""pevdemux as applications use it, through the plugin file in GST_PLUGIN_PATH:
random ACCURATE and KEY_UNIT seeks in samples and in time land on the right
sample, a segment seek plays exactly its samples and says when it is done,
the duration in time and in samples, the table of contents, each clip's tags
as it begins, and the clip property. The reference is what `pev extract`
wrote: python3 pevdemux_check.py ARCHIVE EXTRACTED_FOLDER"""
import glob
import os
import random
import sys
import wave

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstApp", "1.0")
from gi.repository import Gst, GstApp  # noqa: E402

WAIT = 20 * Gst.SECOND  # a hang fails here, not at the script's time limit
failures = 0


def check(what, ok, detail=""):
    global failures
    print(("PASS " if ok else "FAIL ") + what + ("" if ok else f" ({detail})"))
    failures += 0 if ok else 1


def reference(folder):
    """Every extracted clip's position, title and samples, in order."""
    clips = []
    for path in sorted(glob.glob(os.path.join(folder, "*_[0-9][0-9][0-9][0-9].wav"))):
        with wave.open(path) as wav:
            rate = wav.getframerate()
            data = wav.readframes(wav.getnframes())
        title = os.path.basename(path)
        clips.append((int(title[-8:-4]), title, data))
    return rate, clips


class Player:
    def __init__(self, archive, clip=0):
        self.pipeline = Gst.parse_launch(
            f"filesrc name=source ! pevdemux name=demux clip={clip} ! appsink name=sink sync=false")
        self.pipeline.get_by_name("source").set_property("location", archive)
        self.sink = self.pipeline.get_by_name("sink")
        self.tags = []  # (sample the tag came before, title)
        self.next_sample = 0
        pad = self.sink.get_static_pad("sink")
        pad.add_probe(Gst.PadProbeType.EVENT_DOWNSTREAM | Gst.PadProbeType.BUFFER, self.probe)
        self.pipeline.set_state(Gst.State.PAUSED)
        self.pipeline.get_state(WAIT)
        self.toc = None
        while (message := self.pipeline.get_bus().pop_filtered(Gst.MessageType.TOC)) is not None:
            self.toc = message.parse_toc()[0]

    def probe(self, pad, info):
        if info.type & Gst.PadProbeType.BUFFER:
            self.next_sample = info.get_buffer().offset_end
        else:
            event = info.get_event()
            if event.type == Gst.EventType.TAG:
                ok, title = event.parse_tag().get_string(Gst.TAG_TITLE)
                if ok:
                    self.tags.append((self.next_sample, title))
        return Gst.PadProbeReturn.OK

    def seek(self, fmt, flags, start, stop=-1):
        stop_type = Gst.SeekType.NONE if stop < 0 else Gst.SeekType.SET
        done = self.pipeline.seek(1.0, fmt, Gst.SeekFlags.FLUSH | flags, Gst.SeekType.SET, start,
                                  stop_type, stop)
        self.pipeline.get_state(WAIT)
        return done

    def first_buffer(self):
        sample = self.sink.try_pull_preroll(WAIT)
        return sample.get_buffer() if sample else None

    def play_all(self):
        self.pipeline.set_state(Gst.State.PLAYING)
        data = bytearray()
        while (sample := self.sink.try_pull_sample(WAIT)) is not None:
            data += sample.get_buffer().extract_dup(0, sample.get_buffer().get_size())
        return bytes(data)

    def close(self):
        self.pipeline.set_state(Gst.State.NULL)


def check_whole_stream(archive, rate, clips):
    everything = b"".join(data for _, _, data in clips)
    total = len(everything) // 2
    player = Player(archive)
    ok, samples = player.pipeline.query_duration(Gst.Format.DEFAULT)
    check("duration in samples", ok and samples == total, f"{samples} for {total}")
    ok, time = player.pipeline.query_duration(Gst.Format.TIME)
    check("duration in time", ok and time == total * Gst.SECOND // rate, time)

    entries = player.toc.get_entries() if player.toc else []
    starts, start = [], 0
    for _, _, data in clips:
        starts.append(start)
        start += len(data) // 2
    expected_toc = [(title, starts[i] * Gst.SECOND // rate,
                     (starts[i] + len(data) // 2) * Gst.SECOND // rate)
                    for i, (_, title, data) in enumerate(clips)]
    toc = [(e.get_tags().get_string(Gst.TAG_TITLE)[1], *e.get_start_stop_times()[1:]) for e in entries]
    check("table of contents: one entry per clip, with title, start and stop", toc == expected_toc,
          toc[:3])

    rng = random.Random(33)
    seeks = [(Gst.Format.DEFAULT, Gst.SeekFlags.ACCURATE), (Gst.Format.TIME, Gst.SeekFlags.ACCURATE),
             (Gst.Format.DEFAULT, Gst.SeekFlags.KEY_UNIT), (Gst.Format.TIME, Gst.SeekFlags.KEY_UNIT)]
    for fmt, flags in seeks:
        wrong = []
        for _ in range(40):
            if fmt == Gst.Format.DEFAULT:
                position = landing = rng.randrange(total)
            else:
                position = rng.randrange(total * Gst.SECOND // rate)
                landing = -(-position * rate // Gst.SECOND)  # the first sample at or after it
            buffer = player.first_buffer() if player.seek(fmt, flags, position) else None
            got = buffer and (buffer.offset, buffer.pts, buffer.extract_dup(0, 2))
            if got != (landing, landing * Gst.SECOND // rate, everything[2 * landing:2 * landing + 2]):
                wrong.append((position, landing, got))
        check(f"seeks in {fmt.value_nick}, {flags.first_value_nick} land on their sample", not wrong,
              wrong[:3])

    back = player.pipeline.seek(1.0, Gst.Format.DEFAULT, Gst.SeekFlags.FLUSH | Gst.SeekFlags.ACCURATE,
                                Gst.SeekType.END, -1000, Gst.SeekType.NONE, -1)
    player.pipeline.get_state(WAIT)
    buffer = player.first_buffer() if back else None
    check("a seek 1000 samples before the end lands there", buffer and buffer.offset == total - 1000)

    first, last = total // 3, total // 3 + 5000
    player.seek(Gst.Format.DEFAULT, Gst.SeekFlags.ACCURATE | Gst.SeekFlags.SEGMENT, first, last)
    player.pipeline.set_state(Gst.State.PLAYING)
    data = bytearray()
    while len(data) < 2 * (last - first) and (sample := player.sink.try_pull_sample(WAIT)):
        data += sample.get_buffer().extract_dup(0, sample.get_buffer().get_size())
    done = player.pipeline.get_bus().timed_pop_filtered(WAIT, Gst.MessageType.SEGMENT_DONE)
    check("a segment seek plays its samples and is done", bytes(data) == everything[2 * first:2 * last]
          and done is not None, len(data))
    player.close()

    player = Player(archive)
    played = player.play_all()
    check("playing gives every extracted clip's samples in order", played == everything,
          f"{len(played)} bytes for {len(everything)}")
    check("each clip's title comes as it begins", player.tags == list(zip(starts, [t for _, t, _ in clips])),
          player.tags[:3])
    player.close()


def check_clip_property(archive, clips):
    position, title, data = clips[len(clips) // 2]
    player = Player(archive, position)
    check(f"clip={position} plays {title} alone", player.play_all() == data)
    player.close()


def main():
    archive, folder = sys.argv[1:3]
    Gst.init(None)
    check("pevdemux is found through GST_PLUGIN_PATH", Gst.ElementFactory.find("pevdemux") is not None)
    rate, clips = reference(folder)
    check_whole_stream(archive, rate, clips)
    check_clip_property(archive, clips)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
