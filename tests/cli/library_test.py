#!/usr/bin/env python3
"""End-to-end tests of `versewell batch` and `versewell library`.

Runs the real binaries against the sample wiki served by versewell-wiki on
127.0.0.1. Audio files are made at run time with lame, flac, oggenc and
opusenc (scripts/install-deps.sh installs them); a missing tool fails the
test. Includes the interrupt test (SIGINT) and the kill test (SIGKILL during
--embed: every audio file must be as it was or complete with its lyrics).

usage: library_test.py --cli PATH --wiki PATH --sample DIR [--plugin PATH] [unittest args]
"""
import json
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wiki_support  # noqa: E402
from wiki_support import clean_env  # noqa: E402

ARGS = None
TEMP_MARKERS = (".versewell-tmp-", ".part-", ".vw-")


class WikiServer(wiki_support.WikiServer):
    """The wiki program given on the command line (--wiki) serving `root`."""

    def __init__(self, root, delay_ms=0):
        super().__init__(ARGS.wiki, root, delay_ms=delay_ms)


def silent_wav(path, seconds=0.2):
    samples = int(44100 * seconds)
    data = b"\0" * (samples * 2)
    header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " + struct.pack(
        "<IHHIIHH", 16, 1, 1, 44100, 88200, 2, 16) + b"data" + struct.pack("<I", len(data))
    with open(path, "wb") as f:
        f.write(header + data)


def tool(cmd):
    """Runs an audio tool; a missing one is a failure, never a skip."""
    if shutil.which(cmd[0]) is None:
        raise AssertionError("%s is not installed (scripts/install-deps.sh installs it)" % cmd[0])
    subprocess.run(cmd, check=True, capture_output=True)


def make_audio(folder, name, artist, title, wav):
    path = os.path.join(folder, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    ext = name.rsplit(".", 1)[1]
    if ext == "mp3":
        cmd = ["lame", "--quiet", "--id3v2-only"] + (["--ta", artist] if artist else []) + \
              (["--tt", title] if title else []) + [wav, path]
    elif ext == "flac":
        cmd = ["flac", "--totally-silent", "-f", "-T", "ARTIST=" + artist, "-T", "TITLE=" + title, "-o", path, wav]
    elif ext == "ogg":
        cmd = ["oggenc", "-Q", "-a", artist, "-t", title, "-o", path, wav]
    elif ext == "opus":
        cmd = ["opusenc", "--quiet", "--artist", artist, "--title", title, wav, path]
    else:
        raise ValueError(ext)
    tool(cmd)
    return path


def id3v2_split(data):
    """(tag, rest) of an MP3 file: the ID3v2 tag and everything after it."""
    if data[:3] != b"ID3":
        return b"", data
    size = 0
    for b in data[6:10]:
        size = (size << 7) | (b & 0x7F)
    end = 10 + size + (10 if data[5] & 0x10 else 0)
    return data[:end], data[end:]


def temp_files(folder):
    found = []
    for root, _, files in os.walk(folder):
        found += [os.path.join(root, f) for f in files if any(m in f for m in TEMP_MARKERS)]
    return found


class LibraryTestCase(unittest.TestCase):
    server = None

    @classmethod
    def setUpClass(cls):
        cls.server = WikiServer(ARGS.sample)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="versewell-library-test-")
        self.wav = os.path.join(self.tmp, "silence.wav")
        silent_wav(self.wav)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def command(self, *args, proxy=None):
        cmd = [ARGS.cli]
        if ARGS.plugin:
            cmd += ["--plugin", ARGS.plugin]
        cmd += ["--proxy", proxy or self.server.proxy, "--no-cache"]
        return cmd + list(args)

    def run_cli(self, *args, stdin=None, proxy=None, timeout=300):
        return subprocess.run(self.command(*args, proxy=proxy), input=stdin, capture_output=True,
                              timeout=timeout, env=clean_env())

    def lyrics_of(self, artist, title):
        result = self.run_cli("lyrics", artist, title)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)


SONGS = b"""# artist and title, two ways
Quillfeather\tSalt Road
Corrie Fen - Loch Lomond
quillfeather - GREENSLEEVES

Quillfeather - Salt Road (1998)
"""


class BatchTest(LibraryTestCase):
    def test_songs_from_standard_input_are_saved_under_the_template(self):
        out = self.path("out")
        result = self.run_cli("--stats", "batch", "--out", out, "--jobs", "3", stdin=SONGS)
        err = result.stderr.decode()
        self.assertEqual(result.returncode, 0, err)
        self.assertIn("found 4, not on the wiki 0, network failures 0, skipped 0, written 4", err)
        # Two artists: each looked up once and its song list read once.
        self.assertRegex(err, r"downloads (\d+) = artist lookups [12] \+ song lists 2 \+ lyrics pages 4")
        with open(os.path.join(out, "Quillfeather", "Salt Road.txt"), "rb") as f:
            self.assertEqual(f.read(), self.lyrics_of("Quillfeather", "Salt Road"))
        with open(os.path.join(out, "Quillfeather", "Salt Road (1998).txt"), "rb") as f:
            self.assertEqual(f.read(), self.lyrics_of("Quillfeather", "Salt Road (1998)"))
        with open(os.path.join(out, "Corrie Fen", "Loch Lomond.txt"), "rb") as f:
            text = f.read()
        self.assertNotIn(b"\r", text)
        self.assertEqual(text, self.lyrics_of("Corrie Fen", "Loch Lomond"))

        again = self.run_cli("batch", "--out", out, stdin=SONGS)
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertIn(b"skipped 4, written 0", again.stderr)

        crlf = self.run_cli("batch", "--out", self.path("crlf"), "--crlf", stdin=b"Corrie Fen - Loch Lomond\n")
        self.assertEqual(crlf.returncode, 0, crlf.stderr)
        with open(self.path("crlf", "Corrie Fen", "Loch Lomond.txt"), "rb") as f:
            self.assertEqual(f.read(), text.replace(b"\n", b"\r\n"))

    def test_a_song_listed_many_times_is_fetched_once_with_many_jobs(self):
        # Three pages, each named by several lines; more workers than pages,
        # and runs enough for the workers to meet on a page in any order.
        lines = [b"Quillfeather\tSalt Road", b"quillfeather - salt road", b"Corrie Fen - Loch Lomond",
                 b"CORRIE FEN\tLoch Lomond", b"Quillfeather - Greensleeves"]
        songs = b"\n".join(lines * 3) + b"\n"
        expected = r"downloads \d+ = artist lookups [12] \+ song lists 2 \+ lyrics pages 3\b"
        for run in range(6):
            out = self.path("dup%d" % run)
            saved = self.run_cli("--stats", "batch", "--out", out, "--jobs", "8", "--no-progress", stdin=songs)
            err = saved.stderr.decode()
            self.assertEqual(saved.returncode, 0, err)
            self.assertRegex(err, expected)
            self.assertIn("found 3, not on the wiki 0, network failures 0, skipped 12, written 3", err)
            listed = self.run_cli("--stats", "batch", "--jsonl", "--jobs", "8", "--no-progress", stdin=songs)
            err = listed.stderr.decode()
            self.assertEqual(listed.returncode, 0, err)
            self.assertRegex(err, expected)
            objects = [json.loads(line) for line in listed.stdout.decode().splitlines()]
            self.assertEqual(len(objects), 15)
            by_url = {}
            for o in objects:
                by_url.setdefault(o["url"], set()).add(o["lyrics"])
            self.assertEqual(len(by_url), 3)
            self.assertTrue(all(len(texts) == 1 for texts in by_url.values()), by_url)

    def test_jsonl_gives_one_object_per_song_and_exit_one_when_a_song_is_not_on_the_wiki(self):
        listing = self.path("songs.txt")
        with open(listing, "wb") as f:
            f.write(b"Quillfeather - Salt Road\nthis line has no separator\nNo Such Artist Here - Song\n"
                    b"Quillfeather - zzzz\n")
        result = self.run_cli("batch", listing, "--jsonl")
        self.assertEqual(result.returncode, 1, result.stderr)
        objects = [json.loads(line) for line in result.stdout.decode().splitlines()]
        self.assertEqual(len(objects), 3)
        by_line = {o["line"]: o for o in objects}
        self.assertEqual(by_line[1]["artist"], "Quillfeather")
        self.assertEqual(by_line[1]["match"], "exact")
        self.assertTrue(by_line[1]["url"].endswith("/wiki/Quillfeather:Salt_Road"))
        self.assertIn("\r\n", by_line[1]["lyrics"])
        self.assertEqual(by_line[3]["error"]["kind"], "not_found")
        self.assertEqual((by_line[3]["query"], by_line[3]["query_title"]), ("No Such Artist Here", "Song"))
        self.assertEqual(by_line[4]["error"]["kind"], "not_found")
        self.assertIn("line 2", result.stderr.decode())
        self.assertIn("not on the wiki 2", result.stderr.decode())

        closest = self.run_cli("batch", listing, "--jsonl", "--closest")
        by_line = {o["line"]: o for o in map(json.loads, closest.stdout.decode().splitlines())}
        self.assertEqual(by_line[4]["match"], "closest")

    def test_network_failures_exit_three(self):
        # Nothing listens on port 1 of the loopback interface.
        result = self.run_cli("batch", "--jsonl", "--retries", "0", stdin=b"Quillfeather - Salt Road\n",
                              proxy="127.0.0.1:1")
        self.assertEqual(result.returncode, 3, result.stderr)
        self.assertEqual(json.loads(result.stdout)["error"]["kind"], "network")
        self.assertIn(b"network failures 1", result.stderr)

    def test_usage_errors_and_dry_run(self):
        self.assertEqual(self.run_cli("batch", stdin=b"").returncode, 2)
        self.assertEqual(self.run_cli("batch", "--out", self.path("o"), "--jobs", "0", stdin=b"").returncode, 2)
        self.assertEqual(self.run_cli("batch", "--out", self.path("o"), "--template", "../{title}.txt",
                                      stdin=b"").returncode, 2)
        self.assertEqual(self.run_cli("batch", self.path("missing.txt"), "--jsonl").returncode, 2)
        dry = self.run_cli("--stats", "batch", "--out", self.path("dry"), "--dry-run", stdin=SONGS)
        self.assertEqual(dry.returncode, 0, dry.stderr)
        self.assertIn(b"would fetch Corrie Fen - Loch Lomond", dry.stdout)
        self.assertFalse(os.path.exists(self.path("dry")))


class LibraryTest(LibraryTestCase):
    def make_library(self):
        root = self.path("music")
        files = {
            "salt.mp3": make_audio(root, "Quillfeather/salt.mp3", "Quillfeather", "Salt Road", self.wav),
            "loch.flac": make_audio(root, "Corrie Fen/loch.flac", "Corrie Fen", "Loch Lomond", self.wav),
            "green.ogg": make_audio(root, "Quillfeather/green.ogg", "Quillfeather", "Greensleeves", self.wav),
            "glass.opus": make_audio(root, "Corrie Fen/deeper/glass.opus", "Corrie Fen", "The Parting Glass",
                                     self.wav),
            "untitled.mp3": make_audio(root, "untitled.mp3", "Quillfeather", "", self.wav),
            "absent.mp3": make_audio(root, "absent.mp3", "Quillfeather", "No Such Song", self.wav),
        }
        with open(os.path.join(root, "broken.flac"), "wb") as f:
            f.write(b"not audio")
        with open(os.path.join(root, "notes.txt"), "wb") as f:
            f.write(b"not a song")
        return root, files

    def snapshot(self, root):
        state = {}
        for folder, _, names in os.walk(root):
            for name in names:
                with open(os.path.join(folder, name), "rb") as f:
                    state[os.path.join(folder, name)] = f.read()
        return state

    def test_text_files_beside_each_song_and_the_summary(self):
        root, files = self.make_library()
        before = self.snapshot(root)
        dry = self.run_cli("library", root, "--dry-run")
        self.assertEqual(dry.returncode, 1, dry.stderr)  # broken.flac cannot be read, as in a real run
        self.assertEqual(self.snapshot(root), before, "--dry-run changes nothing")
        self.assertIn(b"would fetch Quillfeather - Salt Road", dry.stdout)

        result = self.run_cli("--stats", "library", root, "--jobs", "3")
        err = result.stderr.decode()
        self.assertEqual(result.returncode, 1, err)  # "No Such Song" is not on the wiki
        self.assertIn("found 4, not on the wiki 1, network failures 0, skipped 2, written 4", err)
        self.assertIn("untitled.mp3: no title tag", err)
        self.assertIn("broken.flac", err)
        self.assertRegex(err, r"song lists 2 \+ lyrics pages 4")
        with open(files["salt.mp3"][:-4] + ".txt", "rb") as f:
            self.assertEqual(f.read(), self.lyrics_of("Quillfeather", "Salt Road"))
        with open(files["glass.opus"][:-5] + ".txt", "rb") as f:
            self.assertEqual(f.read(), self.lyrics_of("Corrie Fen", "The Parting Glass"))
        for name in ("salt.mp3", "loch.flac", "green.ogg", "glass.opus"):
            self.assertEqual(self.snapshot(root)[files[name]], before[files[name]], "audio files stay untouched")
        self.assertEqual(temp_files(root), [])

        again = self.run_cli("library", root)
        self.assertIn(b"skipped 6, written 0", again.stderr)
        forced = self.run_cli("library", root, "--force", "--crlf")
        self.assertIn(b"written 4", forced.stderr)
        with open(files["loch.flac"][:-5] + ".txt", "rb") as f:
            self.assertIn(b"\r\n", f.read())

    def test_embed_writes_the_tag_and_keeps_the_audio(self):
        root, files = self.make_library()
        before = self.snapshot(root)
        result = self.run_cli("library", root, "--embed", "--jsonl")
        self.assertEqual(result.returncode, 1, result.stderr)
        written = [o for o in map(json.loads, result.stdout.decode().splitlines()) if "file" in o]
        self.assertEqual(sorted(o["file"] for o in written),
                         sorted(files[n] for n in ("salt.mp3", "loch.flac", "green.ogg", "glass.opus")))
        after = self.snapshot(root)
        tag_before, audio_before = id3v2_split(before[files["salt.mp3"]])
        tag_after, audio_after = id3v2_split(after[files["salt.mp3"]])
        self.assertEqual(audio_after, audio_before, "MP3 audio frames unchanged")
        self.assertIn(b"USLT", tag_after)
        self.assertIn("Salt Road".encode("utf-16-le"), tag_after)  # lame writes ID3v2.3 in UTF-16
        for name in ("loch.flac", "green.ogg", "glass.opus"):
            self.assertIn(b"LYRICS=", after[files[name]])
        self.assertEqual(after[files["untitled.mp3"]], before[files["untitled.mp3"]])
        self.assertFalse(any(p.endswith(".txt") and "notes" not in p for p in after))
        self.assertEqual(temp_files(root), [])
        again = self.run_cli("-v", "library", root, "--embed")
        self.assertIn(b"already has lyrics", again.stderr)
        self.assertEqual(self.snapshot(root), after)


class InterruptTest(LibraryTestCase):
    def test_ctrl_c_stops_the_workers_keeps_finished_files_whole_and_exits_130(self):
        slow = WikiServer(ARGS.sample, delay_ms=150)
        try:
            songs = b"".join(b"Quillfeather - %s\nCorrie Fen - %s\n" % (a, b) for a, b in [
                (b"Salt Road", b"Loch Lomond"), (b"Greensleeves", b"The Parting Glass"),
                (b"Quill and Ink", b"Loch Lomond"), (b"Lanterns on the Weir", b"The Parting Glass")] * 3)
            out = self.path("out")
            listing = self.path("songs.txt")
            with open(listing, "wb") as f:
                f.write(songs)
            process = subprocess.Popen(self.command("batch", listing, "--out", out, "--jobs", "2", "--force",
                                                    proxy=slow.proxy),
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                       env=clean_env())
            # Wait for the first saved file, then interrupt.
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline and not any(
                    f.endswith(".txt") for _, _, fs in os.walk(out) for f in fs):
                time.sleep(0.05)
            process.send_signal(signal.SIGINT)
            try:
                stdout, stderr = process.communicate(timeout=30)
            except subprocess.TimeoutExpired:
                process.kill()
                self.fail("the run did not end after Ctrl-C")
            err = stderr.decode()
            self.assertEqual(process.returncode, 130, err)
            self.assertIn("interrupted", err)
            self.assertRegex(err, r"found \d+, not on the wiki 0, network failures 0, skipped \d+, written \d+")
            self.assertIn("not done", err)
            self.assertEqual(temp_files(out), [])
            for folder, _, names in os.walk(out):
                for name in names:
                    if not name.endswith(".txt"):
                        continue
                    with open(os.path.join(folder, name), "rb") as f:
                        text = f.read()
                    artist = os.path.basename(folder)
                    self.assertEqual(text, self.lyrics_of(artist, name[:-4]), name)
        finally:
            slow.stop()


class KillTest(LibraryTestCase):
    def test_a_killed_embed_leaves_every_file_as_it_was_or_complete(self):
        slow = WikiServer(ARGS.sample, delay_ms=20)
        try:
            root = self.path("music")
            titles = ["Salt Road", "Greensleeves", "Quill and Ink", "Lanterns on the Weir"]
            originals = {}
            for i in range(24):
                path = make_audio(root, "song%02d.mp3" % i, "Quillfeather", titles[i % 4], self.wav)
                with open(path, "rb") as f:
                    originals[path] = f.read()
            rng = random.Random(16)
            embedded_seen = 0
            for attempt in range(4):
                process = subprocess.Popen(self.command("library", root, "--embed", "--force", "--jobs", "2",
                                                        "--no-progress", proxy=slow.proxy),
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=clean_env())
                if attempt == 0:
                    # Once the first file has its lyrics, the run is in the
                    # middle of its embeds: kill it there.
                    deadline = time.monotonic() + 60
                    while time.monotonic() < deadline and all(
                            open(p, "rb").read() == o for p, o in originals.items()):
                        time.sleep(0.01)
                else:
                    time.sleep(rng.uniform(0.1, 1.0))
                process.kill()
                process.wait(timeout=30)
                for path, original in originals.items():
                    with open(path, "rb") as f:
                        data = f.read()
                    if data == original:
                        continue
                    tag, audio = id3v2_split(data)
                    self.assertEqual(audio, id3v2_split(original)[1], "audio of %s damaged" % path)
                    self.assertIn(b"USLT", tag, "%s changed without its lyrics" % path)
                    embedded_seen += 1
            # Left-over copies of a killed run are never taken for songs.
            result = self.run_cli("library", root, "--embed", "--dry-run")
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertNotIn(b".versewell-tmp-", result.stdout + result.stderr)
            self.assertGreater(embedded_seen, 0, "no run got as far as an embed; the test proved nothing")
        finally:
            slow.stop()


def main():
    global ARGS
    ARGS, rest = wiki_support.parse_script_arguments()
    wiki_support.run_tests(rest)


if __name__ == "__main__":
    main()
