#!/usr/bin/env python3
"""The verdict of scripts/compare-outputs.sh, and the AVI reduction it rests on.

  compare_outputs.py verdict WORK DEVICE...   reads WORK/old<N>/<DEVICE> and WORK/new<N>/<DEVICE>
                                              (each one run of both tours), prints one line per
                                              output that the new program made differently and a
                                              summary; exit 0 when nothing but timing differs, 1
                                              otherwise (with --undecided: print the devices that
                                              should run again instead)
  compare_outputs.py avi FILE                 prints what of a movie does not depend on timing

The runs use the still scene (LUMO_STILL_SCENE), so a photo, a screenshot or a movie picture no
longer depends on when it was taken. What still depends on timing, shown by running each program
more than once:
  - texts the program draws by the clock: the Lumosnapper prompt, "Rec" and "Shoots:" blink,
    the movie choice page shows the seconds recorded ("2s" or "3s" at a boundary), the overlay
    the frame rate it measured ("fps:24" under load);
  - how many shots an interval run takes before the action key stops it (a file exists or not);
  - a movie's frame and sound-chunk counts, their interleaving, its index and the counts in its
    headers.
Every file of every run is reduced to one variant: its bytes (photos, screenshots), the reduction
below (movies), or "absent". An output passes when every variant the new program made, the old
one made too; a variant only the new program made is a change. A variant only the old program made
is listed but does not fail the comparison (a rarer timing the new runs missed), unless the new
program never made that output at all. Devices with a new-only variant (that the pixel judgement
below does not pass) are run again, as often as the shell script allows, before the verdict, so a
rare timing is not mistaken for a change.

A screenshot whose blinking text or counter was caught in a state the old runs never happened
to catch is still a new-only variant after every run. Such a variant is judged by its pixels (read
by ffmpeg), in squares of 8 x 8 (a character cell): it passes as timing when it differs from a
variant the old program made only in squares where screenshots of the same size are seen to change
with timing, that is where two variants that one program made of one screenshot on one device in
different runs differ. When the new program never made a variant the old one made (the seconds
shown came out one higher in every new run, say), only the same screenshot, on other devices or
in the old program's runs, counts as evidence. The new program's variants of the screenshot being
judged, on its device, never count, so a change outside the texts that follow the clock still
fails.
"""
import hashlib
import os
import struct
import subprocess
import sys

# Byte offsets of count fields in the AVI header chunks (the payload, after id and size).
AVIH_TOTAL_FRAMES = 16
STRH_LENGTH = 32
DMLH_GRAND_FRAMES = 0
COUNT_FIELDS = {b"avih": (AVIH_TOTAL_FRAMES,), b"strh": (STRH_LENGTH,), b"dmlh": (DMLH_GRAND_FRAMES,)}
CHUNK_HEADER = 8  # four-character id, 32-bit little-endian size
IDX1_ENTRY = 16  # id, flags, offset, size


def zero_fields(payload, offsets):
    data = bytearray(payload)
    for offset in offsets:
        if offset + 4 <= len(data):
            data[offset:offset + 4] = b"\0\0\0\0"
    return bytes(data)


SAMPLE = 2  # bytes of a 16-bit sample
MAX_TONE_PERIOD = 4096  # samples


def tone(samples):
    """A sound made of pieces of one steady tone, each recording start beginning it anew (a movie
    paused and continued): the tone's period in samples and one period in its smallest rotation,
    or None when the sound is anything else. Where a piece begins (at whatever point of the tone
    the recording picked it up) the period breaks for less than one period."""
    values = [samples[i:i + SAMPLE] for i in range(0, len(samples) - SAMPLE + 1, SAMPLE)]
    count = len(values)
    for period in range(1, min(MAX_TONE_PERIOD, count // 2) + 1):
        breaks = []
        for k in range(period, count):
            if values[k] != values[k - period]:
                breaks.append(k)
                if len(breaks) > count // 3:
                    break
        if len(breaks) > count // 3:
            continue
        clusters = []
        for k in breaks:
            if clusters and k - clusters[-1][1] < period:
                clusters[-1][1] = k
            else:
                clusters.append([k, k])
        # A period repeated whole: no break in the period after it.
        broken = set(breaks)
        clean = next((k for k in range(period, count - period + 1)
                      if not any(j in broken for j in range(k, k + period))), None)
        if clean is None:
            return None
        one = values[clean - period:clean]
        cycle = one + one

        # Each cluster of breaks is where a piece begins, at any point of the tone: from some j
        # on, the next period (or what is left) is a stretch of the tone.
        def restart(start, end):
            for j in range(max(end - period + 1, 0), start + 1):
                window = values[j:j + period]
                if any(cycle[r:r + len(window)] == window for r in range(period)):
                    return True
            return False

        if not all(restart(start, end) for start, end in clusters):
            return None
        return period, min(b"".join(one[i:] + one[:i]) for i in range(period))
    return None


def reduce_avi(data):
    """The lines of a movie that do not depend on timing (see the module's account)."""
    lines = []
    pictures = {}  # stream id -> set of payload digests
    sound = {}  # stream id -> bytearray of every sound payload in order
    chunks = []  # (offset of the id relative to movi's type, id, size) for the index check
    movi_base = None

    def walk(offset, end, depth):
        nonlocal movi_base
        while offset + CHUNK_HEADER <= end:
            fourcc = data[offset:offset + 4]
            size = struct.unpack_from("<I", data, offset + 4)[0]
            body = offset + CHUNK_HEADER
            if body + size > len(data):
                lines.append("  " * depth + f"{fourcc!r} cut off")
                return
            if fourcc in (b"RIFF", b"LIST"):
                kind = data[body:body + 4]
                if kind == b"movi":
                    movi_base = body
                    lines.append("  " * depth + "LIST movi")
                    walk_movi(body + 4, body + size)
                else:
                    # A list's size follows its contents; the contents are compared one by one.
                    lines.append("  " * depth + f"{fourcc.decode()} {kind.decode()}")
                    walk(body + 4, body + size, depth + 1)
            elif fourcc == b"idx1":
                lines.append("  " * depth + "idx1 " + check_index(body, size))
            elif fourcc in (b"indx", b"ix00", b"ix01"):
                lines.append("  " * depth + fourcc.decode())  # OpenDML index: follows the counts
            else:
                payload = zero_fields(data[body:body + size], COUNT_FIELDS.get(fourcc, ()))
                lines.append("  " * depth + f"{fourcc.decode(errors='replace')} {size} "
                             + hashlib.sha1(payload).hexdigest())
            offset = body + size + (size & 1)

    def walk_movi(offset, end):
        while offset + CHUNK_HEADER <= end:
            fourcc = data[offset:offset + 4]
            size = struct.unpack_from("<I", data, offset + 4)[0]
            payload = data[offset + CHUNK_HEADER:offset + CHUNK_HEADER + size]
            chunks.append((offset - movi_base, fourcc, size))
            stream, kind = fourcc[:2], fourcc[2:]
            if kind == b"wb":
                sound.setdefault(stream, bytearray()).extend(payload)
            elif fourcc == b"LIST":
                walk_movi(offset + CHUNK_HEADER + 4, offset + CHUNK_HEADER + size)
            else:
                pictures.setdefault(fourcc, set()).add(hashlib.sha1(payload).hexdigest())
            offset += CHUNK_HEADER + size + (size & 1)

    def check_index(body, size):
        by_offset = {offset: (fourcc, length) for offset, fourcc, length in chunks}
        for entry in range(body, body + size - IDX1_ENTRY + 1, IDX1_ENTRY):
            fourcc = data[entry:entry + 4]
            offset, length = struct.unpack_from("<II", data, entry + 8)
            if by_offset.get(offset) != (fourcc, length):
                return f"points at no {fourcc!r} chunk of {length} bytes at {offset}"
        return "agrees with the chunks"

    walk(0, len(data), 0)
    for fourcc in sorted(pictures):
        lines.append(f"pictures {fourcc.decode()}: " + " ".join(sorted(pictures[fourcc])))
    for stream in sorted(sound):
        samples = bytes(sound[stream])
        found = tone(samples)
        if found is None:
            lines.append(f"sound {stream.decode()}: not one steady tone, "
                         + hashlib.sha1(samples).hexdigest())
        else:
            # Where the tone starts and where a piece ends follow timing: the smallest rotation
            # of one period stands for every piece.
            lines.append(f"sound {stream.decode()}: tone of {found[0]} samples {found[1].hex()}")
    return lines


def variant(path):
    """One output's variant: a digest of its bytes or of its movie reduction, or "absent"."""
    if not os.path.isfile(path):
        return "absent"
    with open(path, "rb") as f:
        data = f.read()
    if path.lower().endswith(".avi"):
        data = "\n".join(reduce_avi(data)).encode()
    return hashlib.sha1(data).hexdigest()[:12]


OUTPUT_TYPES = (".jpg", ".bmp", ".avi", ".png")


def outputs(run):
    """The photos, movies and screenshots of one run, relative to the run's folder."""
    found = []
    for top in ("device", "shots"):
        for folder, dirs, files in os.walk(os.path.join(run, top)):
            rel = os.path.relpath(folder, run)
            if rel.startswith(os.path.join("device", ".device")) or \
               rel.startswith(os.path.join("device", "Windows")):
                continue
            found += [os.path.join(rel, f) for f in files if f.lower().endswith(OUTPUT_TYPES)]
    return found


def runs_of(work, side, device):
    numbered = []
    for entry in os.listdir(work):
        if entry.startswith(side) and entry[len(side):].isdigit():
            path = os.path.join(work, entry, device)
            if os.path.isdir(path):
                numbered.append((int(entry[len(side):]), path))
    return [path for _, path in sorted(numbered)]


def judge(work, device):
    """(problems, notes, undecided, identical, timing, changed) for one device; changed lists
    (name, new-only variants, old variants, {variant: a file holding it}, whether the new program
    also made an old variant) for every output of which the new program made a variant the old
    one did not, for the pixel judgement."""
    old_runs, new_runs = runs_of(work, "old", device), runs_of(work, "new", device)
    problems, notes, identical, timing, changed = [], [], 0, 0, []
    for run in old_runs + new_runs:
        with open(os.path.join(run, "tour.log"), errors="replace") as log:
            if any(line.startswith("TOUR-FAILED") for line in log):
                problems.append(f"a tour failed: {run}/tour.log")
    names = sorted({name for run in old_runs + new_runs for name in outputs(run)})
    undecided = False
    for name in names:
        old = [variant(os.path.join(run, name)) for run in old_runs]
        new = [variant(os.path.join(run, name)) for run in new_runs]
        only_new = sorted(set(new) - set(old))
        only_old = sorted(set(old) - set(new))
        where = f"{device}/{name}"
        if set(new) == {"absent"} and "absent" not in old:
            undecided = True
            problems.append(f"missing: {where}: the new program never made it")
        elif only_new:
            undecided = True
            kind = "made by the new program only" if set(old) != {"absent"} else "new"
            problems.append(f"changed: {where}: {kind}: {', '.join(only_new)} "
                            f"(old made {', '.join(sorted(set(old)))})")
            files = {v: os.path.join(run, name) for run, v in zip(old_runs + new_runs, old + new)}
            changed.append((name, only_new, sorted(set(old) - {"absent"}), files,
                            bool(set(new) & set(old))))
        elif only_old:
            timing += 1
            notes.append(f"note: {where}: old also made {', '.join(only_old)} (timing)")
        elif len(set(old)) == 1:
            identical += 1
        else:
            timing += 1
    return problems, notes, undecided, identical, timing, changed


def picture(path, cache={}):
    """A screenshot's pixels as (width, height, rows of RGB bytes), or None when it is no PNG
    ffmpeg can read."""
    if path not in cache:
        cache[path] = None
        with open(path, "rb") as f:
            head = f.read(24)
        if head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR":
            width, height = struct.unpack(">II", head[16:24])
            try:
                raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo",
                                      "-pix_fmt", "rgb24", "-"], capture_output=True).stdout
            except OSError:
                raw = b""
            row = 3 * width
            if width and len(raw) == row * height:
                cache[path] = (width, height, [raw[y * row:(y + 1) * row] for y in range(height)])
    return cache[path]


BLOCK = 8  # px: the side of the squares pixels are judged in, a character cell of the texts


def differing(a, b):
    """The BLOCK x BLOCK squares, as (row, column), where two pictures of one size differ."""
    width, height, rows_a = a
    rows_b = b[2]
    found = set()
    for y in range(height):
        if rows_a[y] != rows_b[y]:
            for x in range(0, width, BLOCK):
                if rows_a[y][3 * x:3 * (x + BLOCK)] != rows_b[y][3 * x:3 * (x + BLOCK)]:
                    found.add((y // BLOCK, x // BLOCK))
    return found


def timing_squares(work, devices):
    """{(device, side, screenshot): (size, squares)}: for every screenshot of which one program
    made more than one variant on a device, the squares where those variants differ."""
    found = {}
    for device in devices:
        for side in ("old", "new"):
            runs = runs_of(work, side, device)
            for name in sorted({n for run in runs for n in outputs(run) if n.endswith(".png")}):
                seen = {}
                for run in runs:
                    path = os.path.join(run, name)
                    if os.path.isfile(path):
                        seen.setdefault(variant(path), path)
                pictures = [picture(path) for path in seen.values()]
                if len(pictures) < 2 or not all(pictures):
                    continue
                squares = set()
                for i, a in enumerate(pictures):
                    for b in pictures[i + 1:]:
                        if a[:2] == b[:2]:
                            squares |= differing(a, b)
                found[(device, side, name)] = (pictures[0][:2], squares)
    return found


def judge_pixels(device, changed, squares):
    """Of one device's outputs with new-only variants, the lines for those that pass as timing
    (see the module's account): (name, line) each. SQUARES is timing_squares()."""
    passed = []
    for name, only_new, old, files, shared in changed:
        if not name.lower().endswith(".png") or not old:
            continue
        accounts = []
        for new_variant in only_new:
            new_pixels = picture(files[new_variant])
            if not new_pixels:
                break
            # Where screenshots of this size change with timing (only this screenshot, when the
            # new program never made what the old one made), not counting the variants of this
            # very screenshot that the new program made here.
            region = set()
            for key, (size, seen) in squares.items():
                if size == new_pixels[:2] and key != (device, "new", name) and \
                        (shared or key[2] == name):
                    region |= seen
            account = None
            for old_variant in old:
                old_pixels = picture(files[old_variant])
                if old_pixels and old_pixels[:2] == new_pixels[:2]:
                    differ = differing(new_pixels, old_pixels)
                    if differ <= region:
                        account = (f"{new_variant} differs from {old_variant} in {len(differ)} "
                                   f"squares of {BLOCK} px, all among the {len(region)} where "
                                   + ("screenshots change" if shared else
                                      "this screenshot changes") + " with timing")
                        break
            if account is None:
                break
            accounts.append(account)
        else:
            passed.append((name, f"timing: {device}/{name}: " + "; ".join(accounts)))
    return passed


def main(argv):
    if len(argv) == 3 and argv[1] == "avi":
        with open(argv[2], "rb") as f:
            print("\n".join(reduce_avi(f.read())))
        return 0
    if len(argv) >= 4 and argv[1] == "verdict":
        undecided_only = argv[2] == "--undecided"
        work, devices = (argv[3], argv[4:]) if undecided_only else (argv[2], argv[3:])
        problems, notes, undecided, identical, timing, phases = [], [], [], 0, 0, 0
        squares = None
        for device in devices:
            p, n, u, i, t, changed = judge(work, device)
            if changed:
                # A screenshot's rare blink phase is judged by its pixels; the device runs
                # again only for what that leaves.
                if squares is None:
                    squares = timing_squares(work, devices)
                for name, line in judge_pixels(device, changed, squares):
                    p = [q for q in p if not q.startswith(f"changed: {device}/{name}: ")]
                    n.append(line)
                    phases += 1
                u = any(q.startswith(("changed:", "missing:")) for q in p)
            if u:
                undecided.append(device)
            problems += p
            notes += n
            identical += i
            timing += t
        if undecided_only:
            print(" ".join(undecided))
            return 0
        for line in notes + problems:
            print(line)
        print(f"== {len(devices)} devices: {identical} outputs byte-identical in every run, "
              f"{timing} timing-dependent with every variant made by both programs, "
              f"{phases} with a variant that differs only where timing shows, "
              f"{len(problems)} problems")
        return 0 if not problems else 1
    print("usage: compare_outputs.py verdict [--undecided] WORK DEVICE... | avi FILE",
          file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
