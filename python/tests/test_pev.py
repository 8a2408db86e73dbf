"""The package's public calls against the library they are given
(PEV_LIBRARY, or the installed one) and the repository's demo archive."""

import os
import pathlib
import subprocess
import sys

import pytest

import pev

DEMO = pathlib.Path(__file__).resolve().parents[2] / "examples" / "demo.pev"


@pytest.fixture(params=["path", "bytes"])
def demo(request):
    source = DEMO if request.param == "path" else DEMO.read_bytes()
    with pev.open(source) as archive:
        yield archive


def test_clips_are_listed_read_and_imaged(demo):
    assert len(demo) == 3 and demo.rate == 22050
    assert [clip.id for clip in demo] == [0, 1, 2]
    assert [clip.samples for clip in demo] == [120828, 103248, 122202]
    clip = demo[-1]
    samples = clip.read()
    assert samples.dtype == "int16" and len(samples) == clip.samples
    image = clip.wav_bytes()
    assert image[:4] == b"RIFF" and image[44:] == samples.astype("<i2").tobytes()
    assert clip.problem is None


def test_streaming_gives_the_decoded_samples_in_pieces(demo):
    clip = demo[1]
    whole = clip.read()
    pieces = list(clip.stream(1000))
    assert all(len(piece) == 1000 for piece in pieces[:-1])
    assert list(map(int, sum((list(p) for p in pieces), []))) == list(map(int, whole))
    with clip.reader() as reader:
        reader.seek(54321)
        assert list(reader.read(700)) == list(whole[54321:55021])
        assert reader.tell() == 55021
        with pytest.raises(pev.Error):
            reader.seek(len(whole) + 1)


def test_pack_like_the_demo_gives_it_back(tmp_path, demo):
    packed = pev.pack(list(demo), demo.rate, like=demo)
    assert packed == DEMO.read_bytes()
    out = tmp_path / "again.pev"
    pev.pack([clip.read() for clip in demo], 22050, like=DEMO, path=out)
    assert out.read_bytes() == packed
    with pytest.raises(pev.Error) as refused:
        pev.pack([[1, 2, 3]], 22050, path=out)
    assert refused.value.status == 12  # the file exists; replace=True replaces it
    pev.pack([[1000, -1000, 5000]], 8000, path=out, replace=True)
    assert [list(map(int, c.read())) for c in pev.open(out)] == [
        list(map(int, pev.open(pev.pack([[1000, -1000, 5000]], 8000))[0].read()))
    ]


def test_clips_of_an_archive_are_copied_beside_new_ones(demo):
    replaced = pev.open(pev.pack([demo[0], [5, 6, 7], demo[2]], demo.rate, like=demo))
    assert [c.stored_bytes for c in replaced][::2] == [demo[0].stored_bytes, demo[2].stored_bytes]
    assert replaced[2].wav_bytes() == demo[2].wav_bytes() and replaced[1].samples == 4


def test_failures_raise_with_their_status(tmp_path):
    with pytest.raises(pev.Error) as error:
        pev.open(b"not an archive")
    assert error.value.status == 20
    with pytest.raises(pev.Error) as error:
        pev.open(tmp_path)
    assert error.value.status == 13  # a folder
    samples, rate = pev.read_wav(pev.open(DEMO)[0].wav_bytes())
    assert rate == 22050 and len(samples) == 120828
    with pytest.raises(pev.Error, match="WAV"):
        pev.read_wav(b"RIFF....WAVE")


def run_python(code, **environment):
    env = dict(os.environ, **environment)
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env)


def test_without_numpy_samples_are_arrays_of_h():
    code = (
        "import sys; sys.modules['numpy'] = None\n"
        "import pev, array\n"
        f"clip = pev.open({str(DEMO)!r})[0]\n"
        "samples = clip.read()\n"
        "assert isinstance(samples, array.array) and samples.typecode == 'h'\n"
        "assert samples.tobytes() == clip.wav_bytes()[44:]\n"
        "assert pev.pack([samples], 22050)[:6] == b'PEVPAC'\n"
    )
    result = run_python(code)
    assert result.returncode == 0, result.stderr


def test_a_missing_library_is_named_clearly():
    result = run_python("import pev", PEV_LIBRARY="/nowhere/libpev.so")
    assert result.returncode != 0
    assert "LibraryNotFound" in result.stderr and "PEV_LIBRARY" in result.stderr


def test_a_file_cut_after_opening_raises_instead_of_reading_zeros(tmp_path):
    path = tmp_path / "cut.pev"
    path.write_bytes(DEMO.read_bytes())
    with pev.open(path) as archive:
        clip = archive[2]
        reader = clip.reader()  # its blocks were found while the file was whole
        os.truncate(path, 100000)
        for read in (clip.read, lambda: reader.read(100000)):
            with pytest.raises(pev.Error) as error:
                read()
            assert error.value.status == 14  # a read came up short
        reader.close()


def test_a_clip_at_another_rate_is_packed_from_its_samples(demo):
    # Copied as stored, it would keep the demo's rate, and the library refuses
    # a clip at another rate than the archive's.
    packed = pev.open(pev.pack([demo[0]], 8000))
    assert packed.rate == 8000
    assert list(packed[0].read()) == list(demo[0].read())
