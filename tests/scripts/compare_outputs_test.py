"""The verdict of scripts/compare_outputs.py on made-up runs, and its reduction of movies."""
import importlib.util
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "compare_outputs.py")
spec = importlib.util.spec_from_file_location("compare_outputs", SCRIPT)
co = importlib.util.module_from_spec(spec)
spec.loader.exec_module(co)


def chunk(fourcc, payload):
    return fourcc + struct.pack("<I", len(payload)) + payload + (b"\0" if len(payload) & 1 else b"")


def lst(kind, fourcc, *children):
    body = fourcc + b"".join(children)
    return kind + struct.pack("<I", len(body)) + body


TONE_VALUES = [0, 230, 424, 554, 600, 554, 424, 230, 0, -230, -424, -554, -600, -554, -424, -230]
TONE = struct.pack("<16h", *TONE_VALUES)
BEEP = struct.pack("<16h", *[20 * v for v in TONE_VALUES])


def avi(pictures, sound_chunks, width=640, rate=25, index_shift=0):
    """A movie like the program's: two streams, pictures and sound interleaved as given (pictures
    and sound_chunks are lists of payloads), an idx1 index; header counts from what is there."""
    avih = bytearray(56)
    struct.pack_into("<I", avih, 0, 1000000 // rate)
    struct.pack_into("<I", avih, co.AVIH_TOTAL_FRAMES, len(pictures))
    struct.pack_into("<II", avih, 32, width, 480)
    strh_video, strh_sound = bytearray(56), bytearray(56)
    strh_video[0:4], strh_sound[0:4] = b"vids", b"auds"
    struct.pack_into("<I", strh_video, 24, rate)
    struct.pack_into("<I", strh_video, co.STRH_LENGTH, len(pictures))
    struct.pack_into("<I", strh_sound, co.STRH_LENGTH, sum(len(s) for s in sound_chunks) // 2)
    hdrl = lst(b"LIST", b"hdrl", chunk(b"avih", bytes(avih)),
               lst(b"LIST", b"strl", chunk(b"strh", bytes(strh_video)), chunk(b"strf", bytes(40))),
               lst(b"LIST", b"strl", chunk(b"strh", bytes(strh_sound)), chunk(b"strf", bytes(16))))
    movi, index, offset = b"", b"", 4
    for i in range(max(len(pictures), len(sound_chunks))):
        for fourcc, payloads in ((b"00dc", pictures), (b"01wb", sound_chunks)):
            if i < len(payloads):
                index += fourcc + struct.pack("<III", 16, offset + index_shift, len(payloads[i]))
                c = chunk(fourcc, payloads[i])
                movi += c
                offset += len(c)
    return lst(b"RIFF", b"AVI ", hdrl, lst(b"LIST", b"movi", movi), chunk(b"idx1", index))


class MovieReduction(unittest.TestCase):
    def reduce(self, data):
        return co.reduce_avi(data)

    def test_counts_interleaving_and_where_the_tone_starts_do_not_count(self):
        frame = b"\xff\xd8picture\xff\xd9"
        short = avi([frame] * 3, [TONE * 4, TONE * 2])
        # More pictures, other chunk sizes, the sound starting half a period in.
        longer = avi([frame] * 7, [TONE[16:], TONE * 5, TONE * 3 + TONE[:16]])
        self.assertEqual(self.reduce(short), self.reduce(longer))
        # Paused and continued: the second piece picks the tone up anywhere, wherever the first
        # one ended.
        for cut, resume in ((10, 0), (10, 18), (30, 4)):
            paused = avi([frame] * 5, [TONE * 2 + TONE[:cut], TONE[resume:] + TONE * 3])
            self.assertEqual(self.reduce(short), self.reduce(paused), (cut, resume))
        self.assertIn("idx1 agrees with the chunks", [l.strip() for l in self.reduce(short)])

    def test_what_does_not_follow_timing_counts(self):
        frame = b"\xff\xd8picture\xff\xd9"
        base = self.reduce(avi([frame] * 3, [TONE * 4]))
        cases = {
            "a picture changed": avi([frame, frame + b"!", frame], [TONE * 4]),
            "the sound changed": avi([frame] * 3, [TONE * 3 + TONE[:30] + b"\x01\x00"]),
            "a beep in the sound": avi([frame] * 3, [TONE * 2 + BEEP + TONE]),
            "a header field changed": avi([frame] * 3, [TONE * 4], width=320),
            "the frame rate changed": avi([frame] * 3, [TONE * 4], rate=15),
            "the index points wrong": avi([frame] * 3, [TONE * 4], index_shift=2),
        }
        for what, data in cases.items():
            with self.subTest(what):
                self.assertNotEqual(self.reduce(data), base)


class Verdict(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.work.cleanup()

    def make(self, side, run, files, failed=False, device="dev"):
        root = os.path.join(self.work.name, f"{side}{run}", device)
        os.makedirs(os.path.join(root, "shots"), exist_ok=True)
        with open(os.path.join(root, "tour.log"), "w") as log:
            log.write("TOUR-FAILED\n" if failed else "fine\n")
        for name, data in files.items():
            path = os.path.join(root, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)

    def verdict(self, *extra):
        result = subprocess.run([sys.executable, SCRIPT, "verdict", *extra, self.work.name, "dev"],
                                capture_output=True, text=True)
        return result.returncode, result.stdout

    def test_cases(self):
        photo = "device/My Pictures/1.jpg"
        shot = "shots/a.png"
        # name: (old runs, new runs, exit status, a word the report must hold)
        cases = {
            "the same bytes every run": ([{photo: b"P"}] * 2, [{photo: b"P"}] * 2, 0,
                                         "1 outputs byte-identical"),
            "a blink caught both ways on both sides": ([{shot: b"on"}, {shot: b"off"}],
                                                       [{shot: b"off"}, {shot: b"on"}], 0,
                                                       "1 timing-dependent"),
            "a state the new runs missed": ([{shot: b"on"}, {shot: b"off"}], [{shot: b"on"}] * 2,
                                            0, "note: dev/shots/a.png"),
            "an interval shot more or less": ([{photo: b"P"}, {}], [{}, {photo: b"P"}], 0,
                                              "1 timing-dependent"),
            "a shot the new runs happened not to take": ([{photo: b"P"}, {}], [{}, {}], 0,
                                                         "note: dev/" + photo),
            "changed bytes": ([{photo: b"P"}] * 2, [{photo: b"Q"}] * 2, 1, "changed: dev/" + photo),
            "one variant changed": ([{shot: b"on"}, {shot: b"off"}],
                                    [{shot: b"on"}, {shot: b"of2"}], 1, "changed: dev/shots"),
            "new output": ([{}] * 2, [{photo: b"P"}] * 2, 1, "new"),
            "output no longer made": ([{photo: b"P"}] * 2, [{}] * 2, 1, "missing: dev/" + photo),
        }
        for what, (old, new, status, word) in cases.items():
            with self.subTest(what):
                self.tearDown()
                self.setUp()
                for n, files in enumerate(old, 1):
                    self.make("old", n, files)
                for n, files in enumerate(new, 1):
                    self.make("new", n, files)
                code, out = self.verdict()
                self.assertEqual(code, status, out)
                self.assertIn(word, out)
                undecided = self.verdict("--undecided")[1].split()
                self.assertEqual(undecided, ["dev"] if status else [])

    def test_a_failed_tour_fails_the_comparison(self):
        self.make("old", 1, {"shots/a.png": b"x"})
        self.make("new", 1, {"shots/a.png": b"x"}, failed=True)
        code, out = self.verdict()
        self.assertEqual(code, 1)
        self.assertIn("a tour failed", out)


def png(width, height, lit=()):
    """A black RGB picture with white 1 x 1 pixels at LIT, as a PNG ffmpeg reads."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)  # filter type: none
        rows.extend(b"".join(b"\xff\xff\xff" if (x, y) in lit else b"\0\0\0" for x in range(width)))

    def part(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data)))

    return (b"\x89PNG\r\n\x1a\n" + part(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + part(b"IDAT", zlib.compress(bytes(rows))) + part(b"IEND", b""))


@unittest.skipUnless(shutil.which("ffmpeg"), "ffmpeg not installed")
class PixelJudgement(Verdict):
    """A screenshot variant only the new program made, judged by where it differs."""
    SHOT = "shots/a.png"

    def verdict(self, *extra):
        result = subprocess.run([sys.executable, SCRIPT, "verdict", *extra, self.work.name, "dev",
                                 "other"], capture_output=True, text=True)
        return result.returncode, result.stdout

    def runs(self, dev_old, dev_new, other, other_size=(32, 24), other_shot=SHOT):
        """Two runs of each program; DEV_OLD, DEV_NEW: the lit pixels of the device's screenshot
        in each run; OTHER: those of another device's screenshot OTHER_SHOT (run by both
        programs)."""
        for n in (1, 2):
            self.make("old", n, {self.SHOT: png(32, 24, dev_old[n - 1])})
            self.make("new", n, {self.SHOT: png(32, 24, dev_new[n - 1])})
            for side in ("old", "new"):
                self.make(side, n, {other_shot: png(*other_size, other[n - 1])}, device="other")

    def test_cases(self):
        text, blink = {(1, 1), (2, 2)}, {(20, 17)}  # a text that stays; a blinking dot
        near = {(21, 18)}  # in the blinking dot's 8 x 8 square
        away = {(3, 3)}  # outside it
        elsewhere = "shots/b.png"  # another screenshot, whose dot blinks in the same place
        # name: (device's old runs, its new runs, the other device's runs, its size, the other
        # device's screenshot, status)
        cases = {
            "a blink phase seen only on another device":
                ([text, text], [text, text | blink], [set(), blink], (32, 24), self.SHOT, 0),
            "a blink phase seen only on another screen":
                ([text, text], [text, text | blink], [set(), blink], (32, 24), elsewhere, 0),
            "another state of a counter in the same square":
                ([text | blink] * 2, [text | near, text | blink], [set(), blink], (32, 24),
                 self.SHOT, 0),
            "a change outside the squares that follow the clock":
                ([text, text], [text, text | blink | away], [set(), blink], (32, 24), self.SHOT,
                 1),
            "no evidence: the other device never blinked":
                ([text, text], [text, text | blink], [blink, blink], (32, 24), self.SHOT, 1),
            "evidence from a screen of another size does not count":
                ([text, text], [text, text | blink], [set(), blink], (32, 32), self.SHOT, 1),
            "every new run shifted, as this screen does on another device":
                ([text, text], [text | blink] * 2, [set(), blink], (32, 24), self.SHOT, 0),
            "every new run changed where only another screen blinks":
                ([text, text], [text | blink] * 2, [set(), blink], (32, 24), elsewhere, 1),
        }
        for what, (old, new, other, size, other_shot, status) in cases.items():
            with self.subTest(what):
                self.tearDown()
                self.setUp()
                self.runs(old, new, other, size, other_shot)
                code, out = self.verdict()
                self.assertEqual(code, status, out)
                self.assertIn("timing: dev/shots/a.png" if status == 0 else "changed: dev/", out)
                self.assertEqual(self.verdict("--undecided")[1].split(), ["dev"] if status else [])

if __name__ == "__main__":
    unittest.main()
