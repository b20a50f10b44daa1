#!/usr/bin/env python3
"""End-to-end tests of what a real music library and a real network bring:
lost standard output, a proxy that never answers, tags written otherwise
than the wiki writes them, misspelt artists, reruns, and the downloads each
command makes.

Runs the real binaries against the sample wiki served by versewell-wiki on
127.0.0.1; the silent proxy is a loopback socket of this script that
accepts connections and never answers. Every child runs with proxy
variables cleared and HOME, XDG_CACHE_HOME and XDG_CONFIG_HOME in a
temporary folder.

usage: real_world_test.py --cli PATH --wiki PATH --sample DIR [--plugin PATH] [unittest args]
"""
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wiki_support  # noqa: E402
from wiki_support import clean_env  # noqa: E402

ARGS = None
# Set by wine_cli_test.py when --cli is versewell.exe under Wine.
WINDOWS_PROGRAM = False


class SilentProxy:
    """A loopback port that accepts every connection and never answers."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(64)
        self.proxy = "127.0.0.1:%d" % self.sock.getsockname()[1]
        self.held = []
        self.stopped = False
        self.thread = threading.Thread(target=self.accept, daemon=True)
        self.thread.start()

    def accept(self):
        while not self.stopped:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self.held.append(conn)

    def close(self):
        self.stopped = True
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()
        for conn in self.held:
            conn.close()


class RealWorldTestCase(unittest.TestCase):
    server = None

    @classmethod
    def setUpClass(cls):
        cls.server = wiki_support.WikiServer(ARGS.wiki, ARGS.sample)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="versewell-real-world-test-")
        self.home = os.path.join(self.tmp, "home")
        os.makedirs(self.home)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def command(self, *args, proxy=None):
        cmd = [ARGS.cli]
        if ARGS.plugin:
            cmd += ["--plugin", ARGS.plugin]
        # Each test's artist cache is its own, named outright: the Windows
        # program's default folder comes from %LOCALAPPDATA%, which Wine
        # takes from its prefix, shared by every test. (The same folder the
        # XDG_CACHE_HOME below gives the Linux program.)
        if "--no-cache" not in args and "--cache-dir" not in args:
            cmd += ["--cache-dir", os.path.join(self.tmp, "cache", "versewell")]
        return cmd + ["--proxy", proxy or self.server.proxy] + list(args)

    def env(self):
        return clean_env({"HOME": self.home, "XDG_CACHE_HOME": os.path.join(self.tmp, "cache"),
                          "XDG_CONFIG_HOME": os.path.join(self.tmp, "config")})

    def run_cli(self, *args, proxy=None, stdin=None, stdout=None, timeout=120):
        return subprocess.run(self.command(*args, proxy=proxy), input=stdin, timeout=timeout, env=self.env(),
                              stdout=stdout if stdout is not None else subprocess.PIPE, stderr=subprocess.PIPE)

    def json_of(self, result):
        self.assertEqual(result.stdout.count(b"\n"), 1, result.stdout)
        return json.loads(result.stdout.decode("utf-8"))

    def jsonl_of(self, result):
        return [json.loads(line) for line in result.stdout.decode("utf-8").splitlines()]

    def downloads_of(self, result):
        """The download count of the run's --stats line."""
        err = result.stderr.decode("utf-8")
        counted = [line for line in err.splitlines() if line.startswith("versewell: downloads ")]
        self.assertEqual(len(counted), 1, err)
        return int(counted[0].split()[2].rstrip(","))


class LostOutputTest(RealWorldTestCase):
    """A write to standard output that fails is exit 4 and a message naming it."""

    def run_to_full(self, *args, stdin=None):
        with open("/dev/full", "wb") as full:
            return self.run_cli(*args, stdin=stdin, stdout=full)

    def assertLost(self, result, *fragments):
        err = result.stderr.decode("utf-8")
        self.assertEqual(result.returncode, 4, err)
        self.assertIn("cannot write to standard output", err)
        for fragment in fragments:
            self.assertIn(fragment, err)

    def test_every_command_that_prints_reports_a_full_disk(self):
        # Windows has no error code for a Linux device that is full: under
        # Wine the failure is there, its reason is not.
        self.assertLost(self.run_to_full("songs", "Quillfeather"),
                        *([] if WINDOWS_PROGRAM else ["No space left on device"]))
        self.assertLost(self.run_to_full("--json", "lyrics", "Quillfeather", "Salt Road"))
        self.assertLost(self.run_to_full("--version"))
        self.assertLost(self.run_to_full("batch", "--jsonl", stdin=b"Quillfeather\tSalt Road\nCorrie Fen\tLoch Lomond\n"),
                        "JSON-lines")
        # A dry run prints its plan on stdout.
        self.assertLost(self.run_to_full("batch", "--dry-run", stdin=b"Quillfeather\tSalt Road\n"))

    def test_a_song_not_on_the_wiki_stays_exit_1_when_output_is_fine(self):
        result = self.run_cli("lyrics", "Quillfeather", "No Such Song")
        self.assertEqual(result.returncode, 1, result.stderr)


class TimeoutTest(RealWorldTestCase):
    """--timeout bounds a download through a proxy that never answers;
    retries are announced; batch gives up after --max-failures."""

    def setUp(self):
        super().setUp()
        self.silent = SilentProxy()
        self.addCleanup(self.silent.close)

    def test_a_silent_proxy_is_a_named_network_failure(self):
        result = self.run_cli("--timeout", "1", "--retries", "0", "--json", "lyrics", "Quillfeather", "Salt Road",
                              proxy=self.silent.proxy)
        err = result.stderr.decode("utf-8")
        self.assertEqual(result.returncode, 3, err)
        self.assertIn("no answer within 1 s (--timeout)", err)
        error = self.json_of(result)["error"]
        self.assertEqual((error["kind"], error["cause"]), ("network", "no answer within 1 s (--timeout)"))

    def test_retries_are_announced_with_verbose(self):
        result = self.run_cli("-v", "--timeout", "1", "--retries", "1", "artist", "Quillfeather",
                              proxy=self.silent.proxy)
        err = result.stderr.decode("utf-8")
        self.assertEqual(result.returncode, 3, err)
        notes = [line for line in err.splitlines() if line.startswith("versewell: retrying in")]
        self.assertEqual(len(notes), 1, err)
        self.assertIn("(attempt 2 of 2): no answer within 1 s", notes[0])
        quiet = self.run_cli("--timeout", "1", "--retries", "1", "artist", "Quillfeather", proxy=self.silent.proxy)
        self.assertNotIn(b"retrying", quiet.stderr)

    def test_batch_gives_up_after_max_failures_in_a_row(self):
        songs = "".join("Artist %d\tSong %d\n" % (i, i) for i in range(6)).encode()
        result = self.run_cli("--timeout", "1", "--retries", "0", "--max-failures", "2", "batch", "--jsonl", "--jobs", "1",
                              "--no-progress", stdin=songs, proxy=self.silent.proxy)
        err = result.stderr.decode("utf-8")
        self.assertEqual(result.returncode, 3, err)
        self.assertIn("gave up after 2 network failures in a row (no answer within 1 s (--timeout)); "
                      "4 songs not done", err)
        self.assertIn("network failures 2, skipped 0, written 0, not done 4", err)
        # 0: never give up.
        result = self.run_cli("--timeout", "1", "--retries", "0", "--max-failures", "0", "batch", "--jsonl", "--jobs", "2",
                              "--no-progress", stdin=songs[:3 * 16], proxy=self.silent.proxy)
        self.assertNotIn(b"gave up", result.stderr)
        self.assertEqual(result.returncode, 3)

    def test_bad_values_are_usage_errors(self):
        for args in (["--timeout", "0"], ["--timeout", "x"], ["--max-failures", "-1"]):
            result = self.run_cli(*args, "artist", "Quillfeather")
            self.assertEqual(result.returncode, 2, (args, result.stderr))
            self.assertIn(args[0].encode(), result.stderr)


class RealTagsTest(RealWorldTestCase):
    """Tags that are written otherwise than the wiki writes them."""

    def lyrics_json(self, artist, title):
        result = self.run_cli("--json", "lyrics", artist, title)
        self.assertEqual(result.returncode, 0, (artist, title, result.stderr))
        return self.json_of(result)

    def test_each_rule_finds_the_song(self):
        # (artist tag, title tag, wiki artist, wiki title, match, form)
        cases = [
            ("Quillfeather", "Greensleeves (Live)", "Quillfeather", "Greensleeves", "normalised",
             {"artist": None, "title": "greensleeves"}),
            ("Quillfeather", "Greensleeves - Remastered 2011", "Quillfeather", "Greensleeves", "normalised",
             {"artist": None, "title": "greensleeves"}),
            ("Amberlight feat. Corrie Fen", "Greensleeves", "Amberlight", "Greensleeves", "normalised",
             {"artist": "Amberlight", "title": None}),
            ("Amberlight & Corrie Fen", "Greensleeves", "Amberlight", "Greensleeves", "normalised",
             {"artist": "Amberlight", "title": None}),
            ("Quillfeather", "Quill & Ink", "Quillfeather", "Quill and Ink", "normalised",
             {"artist": None, "title": "quill and ink"}),
            ("Bramble and Briar", "Barbara Allen", "Bramble & Briar", "Barbara Allen", "normalised",
             {"artist": "Bramble & Briar", "title": None}),
            ("\u00c4mberlight", "GREENSLEEVES", "Amberlight", "Greensleeves", "normalised",
             {"artist": "Amberlight", "title": None}),
            ("\u00c9mile Fortier", "Harbour Bells", "\u00c9mile Fortier", "Harbour Bells (Radio Edit)", "normalised",
             {"artist": None, "title": "harbour bells"}),
            ("Quillfeather", "Salt Raod", "Quillfeather", "Salt Road", "close", None),
        ]
        for artist, title, wiki_artist, wiki_title, match, form in cases:
            doc = self.lyrics_json(artist, title)
            self.assertEqual((doc["artist"], doc["title"], doc["match"], doc.get("form")),
                             (wiki_artist, wiki_title, match, form), (artist, title))
            self.assertTrue(doc["lyrics"])

    def test_a_tag_table_through_batch(self):
        # Real-world tag shapes, as a music library holds them.
        table = [
            ("Quillfeather", "Greensleeves [2011 Remaster] (Live)", "Greensleeves"),
            ("Quillfeather ft. Corrie Fen", "Salt Road (Radio Edit)", "Salt Road"),
            ("Amberlight, Corrie Fen", "Beautiful Dreamer - Live at the Hall", "Beautiful Dreamer"),
            ("Amberlight + Corrie Fen", "beautiful dreamer", "Beautiful Dreamer"),
            ("Kettle and Wren", "Twinkle Twinkle Little Star", "Twinkle, Twinkle, Little Star"),
            ("Claire Fontaine Ensemble", "A la claire fontaine", "\u00c0 la claire fontaine"),
            ("Driftwood Company featuring Oakum Pickers", "Drunken Sailor (Live)", "Drunken Sailor"),
            # The wiki's own name, only looked up under its base letter: exact.
            ("\u00e9mile fortier", "Loch Lomond", "Loch Lomond"),
        ]
        stdin = "".join("%s\t%s\n" % (a, t) for a, t, _ in table).encode("utf-8")
        result = self.run_cli("batch", "--jsonl", "--no-progress", stdin=stdin)
        self.assertEqual(result.returncode, 0, result.stderr)
        by_line = {doc["line"]: doc for doc in self.jsonl_of(result)}
        for line, (_, _, wiki_title) in enumerate(table, 1):
            self.assertEqual(by_line[line].get("title"), wiki_title, by_line[line])
            self.assertEqual(by_line[line]["match"], "exact" if line == len(table) else "normalised", by_line[line])

    def test_a_song_that_is_not_there_is_still_missing(self):
        result = self.run_cli("lyrics", "Quillfeather", "Barbara Allen (Live)")
        self.assertEqual(result.returncode, 1, result.stderr)
        result = self.run_cli("lyrics", "Nobody feat. Noone", "Greensleeves")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(b'artist not found: "Nobody feat. Noone"', result.stderr)


class ArtistSuggestionTest(RealWorldTestCase):
    """A misspelt artist is told the close names of the index pages read."""

    def test_close_names_and_the_max_diff_that_would_take_one(self):
        for cache in ([], ["--no-cache"]):
            result = self.run_cli(*cache, "--json", "--stats", "artist", "Quilfeathr")
            err = result.stderr.decode("utf-8")
            self.assertEqual(result.returncode, 1, err)
            self.assertIn('artist not found: "Quilfeathr"; closest: "Quillfeather" (--max-diff ', err)
            doc = self.json_of(result)
            self.assertEqual(doc["error"]["suggestions"][0], "Quillfeather")
            self.assertLessEqual(len(doc["error"]["suggestions"]), 3)
            self.assertLessEqual(doc["stats"]["downloads"], 2, "suggestions cost no download")
            # The value named does accept it.
            value = err.split("(--max-diff ")[1].split(" ")[0]
            taken = self.run_cli(*cache, "--max-diff", value, "artist", "Quilfeathr")
            self.assertEqual(taken.returncode, 0, taken.stderr)
            self.assertTrue(taken.stdout.decode().rstrip().endswith("/wiki/Quillfeather"))

    def test_no_suggestion_when_nothing_is_close(self):
        result = self.run_cli("artist", "Qzxwvut Kjhgf")
        self.assertEqual(result.returncode, 1)
        self.assertNotIn(b"closest", result.stderr)

    def test_accented_artists_are_looked_up_by_their_base_letter(self):
        result = self.run_cli("artist", "\u00c9mile Fortier")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("/wiki/%C3%89mile_Fortier", result.stdout.decode())
        result = self.run_cli("--json", "songs", "\u00e9mile fortier")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual([s["title"] for s in self.json_of(result)["songs"]],
                         ["Harbour Bells (Radio Edit)", "Loch Lomond"])
        # Folding does not stretch to another name.
        result = self.run_cli("artist", "\u00c9mile Fortiar")
        self.assertEqual(result.returncode, 1, result.stderr)


class PolitenessTest(RealWorldTestCase):
    """Each index page and artist page is downloaded at most once per run,
    with and without the cache: the wiki's own request log shows every
    address a run asked for, and --stats the count."""

    @classmethod
    def setUpClass(cls):
        cls.server = wiki_support.WikiServer(ARGS.wiki, ARGS.sample, log=True)
        fd = cls.server.log.fileno()
        os.set_blocking(fd, False)

    def requests(self):
        """The addresses asked for since the last call. The server names a
        request before it answers it, so a finished run's are all there."""
        text = b""
        while True:
            try:
                chunk = os.read(self.server.log.fileno(), 65536)
            except BlockingIOError:
                break
            if not chunk:
                break
            text += chunk
        return [line.split(" ", 2)[2] for line in text.decode("utf-8").splitlines() if line.startswith("versewell-wiki: GET ")]

    def downloads(self, *args, code=0, stdin=None):
        """Runs one command; returns its download count after checking that
        no address was asked for twice and that --stats counts them all."""
        self.requests()
        result = self.run_cli("--stats", *args, stdin=stdin)
        self.assertEqual(result.returncode, code, (args, result.stderr))
        asked = self.requests()
        twice = sorted({address for address in asked if asked.count(address) > 1})
        self.assertEqual(twice, [], (args, asked))
        self.assertEqual(self.downloads_of(result), len(asked), (args, result.stderr, asked))
        return len(asked)

    def test_single_artist_commands_without_and_with_cache(self):
        out = os.path.join(self.tmp, "out")
        for cache in (["--no-cache"], [], []):
            # The index page. The plug-in never caches an exact match, so a
            # rerun with the cache reads it again, once.
            self.assertEqual(self.downloads(*cache, "artist", "Corrie Fen"), 1, cache)
            # The index page, then the artist page.
            self.assertEqual(self.downloads(*cache, "songs", "Quillfeather"), 2, cache)
            # A page without songs: its address comes from the page read, not
            # from a second look at the index.
            self.assertEqual(self.downloads(*cache, "songs", "Sable Bells", code=1), 2, cache)
            # ... and the song page.
            self.assertEqual(self.downloads(*cache, "lyrics", "Corrie Fen", "Loch Lomond"), 3, cache)
            # fetch-all: the index page, the artist page and each song page;
            # a rerun skips the saved songs.
            expected = 2 if os.path.exists(out) else 4
            self.assertEqual(self.downloads(*cache, "fetch-all", "Corrie Fen", "--out", out), expected, cache)

    def test_batch_reads_each_artist_once_and_a_rerun_nothing(self):
        out = os.path.join(self.tmp, "out")
        songs = (b"Quillfeather\tSalt Road\nCorrie Fen\tLoch Lomond\nQuillfeather\tGreensleeves\n"
                 b"Corrie Fen\tThe Parting Glass\nQuillfeather\tNo Such Song\n")
        # Two artists: an index page and an artist page each, then the four
        # song pages.
        self.assertEqual(self.downloads("--no-cache", "batch", "--out", out, "--no-progress", stdin=songs, code=1), 8)
        # Saved songs and the song not on the wiki are known before any
        # download.
        self.assertEqual(self.downloads("--no-cache", "batch", "--out", out, "--no-progress", stdin=songs), 0)
        self.assertEqual(self.downloads("batch", "--out", out, "--no-progress", stdin=songs), 0)


class DryRunTest(RealWorldTestCase):
    """--dry-run decides song by song as the real run after it does."""

    def decisions(self, result, key):
        """Song -> "fetch" or the reason it was skipped, from --jsonl."""
        return {doc[key]: doc.get("skipped", "fetch") for doc in self.jsonl_of(result)}

    def test_batch_dry_run_then_real_run(self):
        out = os.path.join(self.tmp, "out")
        songs = ("Quillfeather\tSalt Road\nCorrie Fen\tLoch Lomond\nNettlebed\tNettlebed Reel (instrumental)\n"
                 "Nettlebed\tLost Verse\nNobody At All\tAnything\n")

        def batch(text, *extra):
            return self.run_cli("--stats", "batch", "--out", out, "--jsonl", "--no-progress", *extra,
                                stdin=text.encode("utf-8"))

        first = batch(songs)
        self.assertEqual(first.returncode, 1, first.stderr)
        dry = batch(songs, "--dry-run")
        self.assertEqual(dry.returncode, 0, dry.stderr)
        again = batch(songs)
        self.assertEqual(again.returncode, 0, again.stderr)
        planned = self.decisions(dry, "line")
        self.assertEqual(planned, self.decisions(again, "line"))
        self.assertEqual(self.downloads_of(again), 0)
        # (The Windows program joins the folder and the file with "\\".)
        self.assertRegex(planned[1], r"^already saved as %s.Quillfeather/Salt Road\.txt$" % re.escape(out))
        self.assertTrue(planned[3].startswith("instrumental on "), planned)
        self.assertTrue(planned[4].startswith("missing on "), planned)

        # A deleted file, a new song, the remembered ones tried again: the
        # dry run names the same songs the real run then fetches.
        os.remove(os.path.join(out, "Corrie Fen", "Loch Lomond.txt"))
        more = songs + "Quillfeather\tGreensleeves\n"
        dry = batch(more, "--dry-run", "--retry-missing")
        real = batch(more, "--retry-missing")
        self.assertEqual(self.decisions(dry, "line"), self.decisions(real, "line"))
        self.assertEqual([line for line, what in sorted(self.decisions(dry, "line").items()) if what != "fetch"], [1])
        # --force: everything.
        dry = batch(more, "--dry-run", "--force")
        self.assertEqual(set(self.decisions(dry, "line").values()), {"fetch"})

    def test_library_dry_run_then_real_run(self):
        wav = os.path.join(self.tmp, "silence.wav")
        silent_wav(wav)
        root = os.path.join(self.tmp, "music")
        for name, artist, title in (("salt", "Quillfeather", "Salt Road"), ("loch", "Corrie Fen", "Loch Lomond"),
                                    ("reel", "Nettlebed", "Nettlebed Reel (instrumental)"),
                                    ("lost", "Nettlebed", "Lost Verse")):
            make_mp3(os.path.join(root, name + ".mp3"), artist, title, wav)
        with open(os.path.join(root, "salt.lrc"), "w") as f:
            f.write("[00:01.00]Salt road\n")

        def skipped(result):
            """File -> reason, from the -v lines of the songs skipped."""
            lines = [line[len("versewell: skipped "):] for line in result.stderr.decode("utf-8").splitlines()
                     if line.startswith("versewell: skipped " + root)]
            return dict(line.split(": ", 1) for line in lines)

        def fetched(result):
            return {line.split(" -> ")[1].rsplit(".", 1)[0] + ".mp3"
                    for line in result.stdout.decode("utf-8").splitlines() if line.startswith("would fetch ")}

        every = {os.path.join(root, n + ".mp3") for n in ("salt", "loch", "reel", "lost")}
        for extra in ([], [], ["--retry-missing"], ["--force"]):
            dry = self.run_cli("-v", "library", root, "--no-progress", "--dry-run", *extra)
            self.assertEqual(dry.returncode, 0, dry.stderr)
            real = self.run_cli("-v", "--stats", "library", root, "--no-progress", *extra)
            self.assertEqual(skipped(dry), skipped(real), extra)
            self.assertEqual(fetched(dry), every - set(skipped(real)), extra)
            if not fetched(dry):
                self.assertEqual(self.downloads_of(real), 0, extra)
        self.assertEqual(fetched(self.run_cli("library", root, "--dry-run", "--force")), every)


class ConfigTest(RealWorldTestCase):
    """The config file and VERSEWELL_PROXY give defaults; the command line wins."""

    def write_config(self, text):
        folder = os.path.join(self.tmp, "config", "versewell")
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "config")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    def run_plain(self, *args, env=None, stdin=None):
        cmd = [ARGS.cli] + (["--plugin", ARGS.plugin] if ARGS.plugin else []) + list(args)
        full = self.env()
        full.update(env or {})
        return subprocess.run(cmd, capture_output=True, timeout=120, env=full, input=stdin)

    def test_the_file_sets_the_proxy_and_the_command_line_wins(self):
        path = self.write_config("# my settings\n\nproxy = %s\njobs = 3\ntimeout = 7\n" % self.server.proxy)
        result = self.run_plain("artist", "Quillfeather")
        self.assertEqual(result.returncode, 0, result.stderr)
        shown = self.run_plain("--json", "--retries", "5", "config")
        self.assertEqual(shown.returncode, 0, shown.stderr)
        doc = self.json_of(shown)
        self.assertEqual((doc["file"], doc["found"]), (path, True))
        settings = doc["settings"]
        self.assertEqual(settings["proxy"], {"value": self.server.proxy, "source": path + ", line 3"})
        self.assertEqual(settings["jobs"], {"value": "3", "source": path + ", line 4"})
        self.assertEqual(settings["timeout"], {"value": "7", "source": path + ", line 5"})
        self.assertEqual(settings["retries"], {"value": "5", "source": "command line"})
        self.assertEqual(settings["delay"], {"value": "0", "source": "default"})
        text = self.run_plain("config").stdout.decode()
        self.assertIn("config file: " + path, text)
        self.assertRegex(text, r"timeout = 7 +%s, line 5" % path)
        # A refusing port on the command line beats the file's good proxy.
        refused = socket.socket()
        refused.bind(("127.0.0.1", 0))
        self.addCleanup(refused.close)
        result = self.run_plain("--proxy", "127.0.0.1:%d" % refused.getsockname()[1], "--retries", "0",
                                "artist", "Quillfeather")
        self.assertEqual(result.returncode, 3, result.stderr)

    def test_versewell_proxy_comes_before_the_file(self):
        self.write_config("proxy = 127.0.0.1:9\n")
        result = self.run_plain("artist", "Quillfeather", env={"VERSEWELL_PROXY": self.server.proxy})
        self.assertEqual(result.returncode, 0, result.stderr)
        doc = self.json_of(self.run_plain("--json", "config", env={"VERSEWELL_PROXY": self.server.proxy}))
        self.assertEqual(doc["settings"]["proxy"]["source"], "VERSEWELL_PROXY")

    def test_a_malformed_file_names_the_line(self):
        path = self.write_config("proxy = 127.0.0.1:8080\njobs 4\n")
        result = self.run_plain("artist", "Quillfeather")
        self.assertEqual(result.returncode, 2)
        self.assertIn(("%s, line 2: expected NAME = VALUE" % path).encode(), result.stderr)
        for text, fragment in (("colour = red\n", "line 1: unknown setting \"colour\""),
                               ("\n\njobs = 0\n", "line 3: jobs wants a whole number from 1 to 64"),
                               ("proxy = [::1\n", "line 1: proxy: an IPv6 proxy address goes in brackets"),
                               ("template = {nope}\n", "line 1: template:")):
            self.write_config(text)
            result = self.run_plain("config")
            self.assertEqual(result.returncode, 2, text)
            self.assertIn(fragment.encode(), result.stderr, text)

    def test_the_out_folder_from_the_file_serves_batch(self):
        out = os.path.join(self.tmp, "lyrics")
        self.write_config("out = %s\nproxy = %s\ntemplate = {artist} - {title}.txt\n" % (out, self.server.proxy))
        result = self.run_plain("batch", "--no-progress", stdin=b"Quillfeather\tSalt Road\n")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.exists(os.path.join(out, "Quillfeather - Salt Road.txt")), os.listdir(out))


def load_sample_data():
    """The generator of the sample wiki: its artists and songs."""
    import importlib.util
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "make-sample-wiki.py")
    spec = importlib.util.spec_from_file_location("make_sample_wiki", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def make_mp3(path, artist, title, wav):
    if shutil.which("lame") is None:
        raise AssertionError("lame is not installed (scripts/install-deps.sh installs it)")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["lame", "--quiet", "--id3v2-only", "--ta", artist, "--tt", title, wav, path], check=True,
                   capture_output=True)


def silent_wav(path):
    import struct
    data = b"\0" * 4410
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " +
                struct.pack("<IHHIIHH", 16, 1, 1, 22050, 44100, 2, 16) + b"data" + struct.pack("<I", len(data)) + data)


class JsonEverywhereTest(RealWorldTestCase):
    """--json works on every command or is a usage error; failures are error objects."""

    def test_commands_without_one_result_refuse_json(self):
        for args in (["batch", "--jsonl"], ["library", self.tmp], ["log", "x.log"], ["completion", "bash"]):
            result = self.run_cli("--json", *args, stdin=b"")
            self.assertEqual(result.returncode, 2, (args, result.stderr))
            self.assertEqual(self.json_of(result)["error"]["kind"], "usage", args)

    def test_cache_commands_answer_in_json(self):
        cache = os.path.join(self.tmp, "cache-here")
        doc = self.json_of(self.run_cli("--json", "--cache-dir", cache, "cache", "path"))
        self.assertEqual(doc, {"folder": cache})
        # A name that is not there: every title of the index page read goes into the cache.
        self.assertEqual(self.run_cli("--cache-dir", cache, "artist", "Quilfeathr").returncode, 1)
        cleared = self.run_cli("--json", "--cache-dir", cache, "cache", "clear")
        self.assertEqual(cleared.returncode, 0, cleared.stderr)
        doc = self.json_of(cleared)
        self.assertEqual((doc["folder"], doc["kept"]), (cache, 0))
        self.assertGreater(doc["removed"], 0)

    def test_library_jsonl_alone_writes_no_file(self):
        wav = os.path.join(self.tmp, "silence.wav")
        silent_wav(wav)
        root = os.path.join(self.tmp, "music")
        make_mp3(os.path.join(root, "a.mp3"), "Quillfeather", "Salt Road", wav)
        make_mp3(os.path.join(root, "b.mp3"), "Nettlebed", "Lost Verse", wav)
        before = sorted(os.listdir(root))
        result = self.run_cli("library", root, "--jsonl", "--no-progress")
        self.assertEqual(result.returncode, 1, result.stderr)
        docs = self.jsonl_of(result)
        self.assertEqual(len(docs), 2)
        self.assertEqual(sorted(os.listdir(root)), before, "no .txt and no memory file")
        dry = self.run_cli("library", root, "--jsonl", "--dry-run")
        self.assertEqual({d["file"] for d in self.jsonl_of(dry)}, {"standard output"})


class BadInputTest(RealWorldTestCase):
    """Input that can name nothing on the wiki is a usage error before any download."""

    def test_unusable_proxy_and_control_characters(self):
        for args in (["--proxy", "[::1", "artist", "Quillfeather"],
                     ["--proxy", "::1:8080", "artist", "Quillfeather"],
                     ["--proxy", "bad_host!:8080", "artist", "Quillfeather"],
                     ["artist", "Quill\nfeather"],
                     ["songs", "Quill\tfeather"],
                     ["lyrics", "Quillfeather", "Salt\rRoad"],
                     ["fetch-all", "Quill\x1bfeather", "--out", self.tmp]):
            cmd = [ARGS.cli] + (["--plugin", ARGS.plugin] if ARGS.plugin else []) + args
            result = subprocess.run(cmd, capture_output=True, timeout=60, env=self.env())
            err = result.stderr.decode("utf-8")
            self.assertEqual(result.returncode, 2, (args, err))
            self.assertEqual(len(err.splitlines()), 1, err)
            self.assertNotIn("handle", err)
            self.assertNotIn("http://", err, "no address was made of it")


class SmallThingsTest(RealWorldTestCase):
    """Command lists, the batch hint on a terminal, uniform note prefixes."""

    def test_command_lists_name_every_command(self):
        everything = ["artist", "songs", "lyrics", "fetch-all", "batch", "library", "log", "cache", "config",
                      "completion"]
        for args in ([], ["frobnicate"]):
            result = self.run_cli(*args)
            err = result.stderr.decode()
            self.assertEqual(result.returncode, 2, err)
            for name in everything:
                self.assertIn(name, err, args)
        result = self.run_cli("cache")
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"cache needs one of: path, clear", result.stderr)

    def test_batch_on_a_terminal_says_what_it_waits_for(self):
        import pty
        master, slave = pty.openpty()
        process = subprocess.Popen(self.command("batch", "--jsonl", "--no-progress"), stdin=slave,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=self.env())
        os.close(slave)
        try:
            os.write(master, b"Quillfeather\tSalt Road\n\x04")
            out, err = process.communicate(timeout=120)
        finally:
            os.close(master)
        self.assertEqual(process.returncode, 0, err)
        self.assertIn(b"reading songs from the terminal", err)
        self.assertEqual(len(out.splitlines()), 1)
        piped = self.run_cli("batch", "--jsonl", "--no-progress", stdin=b"Quillfeather\tSalt Road\n")
        self.assertNotIn(b"terminal", piped.stderr)
        self.assertTrue(all(line.startswith(b"versewell: ") for line in piped.stderr.splitlines()), piped.stderr)


class RerunTest(RealWorldTestCase):
    """Reruns skip what is done and what an earlier run found without lyrics."""

    def sample_library(self):
        sample = load_sample_data()
        wav = os.path.join(self.tmp, "silence.wav")
        silent_wav(wav)
        root = os.path.join(self.tmp, "music")
        count = 0
        for artist, songs in sample.ARTISTS:
            for i, (title, _, _) in enumerate(songs):
                make_mp3(os.path.join(root, "%02d %s" % (count, artist.replace("/", "_")), "%d.mp3" % i), artist,
                         title, wav)
                count += 1
        return root, count

    def test_a_rerun_of_the_sample_library_downloads_nothing(self):
        root, count = self.sample_library()
        self.assertGreater(count, 70)
        first = self.run_cli("--stats", "--no-cache", "library", root, "--no-progress", timeout=600)
        err = first.stderr.decode("utf-8")
        # "Lost Verse" is a missing page and "The Withheld Song" withholds its lyrics.
        self.assertEqual(first.returncode, 1, err)
        self.assertIn("not on the wiki 2,", err)
        self.assertIn("instrumental 1", err)
        self.assertIn("Nettlebed Reel (instrumental)): instrumental, no lyrics", err)
        with open(os.path.join(root, ".versewell-remembered"), encoding="utf-8") as f:
            kinds = sorted(line.split("\t")[0] for line in f)
        self.assertEqual(kinds, ["instrumental", "missing", "withheld"])

        again = self.run_cli("--stats", "--no-cache", "library", root, "--no-progress", timeout=600)
        err = again.stderr.decode("utf-8")
        self.assertEqual(again.returncode, 0, err)
        self.assertIn("downloads 0 =", err)
        self.assertIn("skipped %d, written 0, remembered without lyrics 3" % (count - 3), err)
        # The summary and the download count, and no line per song.
        self.assertEqual(err.splitlines(), [l for l in err.splitlines() if l.startswith("versewell: ")])
        self.assertEqual(len(err.splitlines()), 2, err)

        retry = self.run_cli("--stats", "--no-cache", "library", root, "--retry-missing", "--no-progress",
                             "--jsonl", timeout=600)
        self.assertEqual(retry.returncode, 1, retry.stderr)
        self.assertEqual(len(self.jsonl_of(retry)), count)
        self.assertNotIn(b"downloads 0 =", retry.stderr)

    def test_an_lrc_beside_a_song_is_its_lyrics(self):
        wav = os.path.join(self.tmp, "silence.wav")
        silent_wav(wav)
        root = os.path.join(self.tmp, "music")
        make_mp3(os.path.join(root, "salt.mp3"), "Quillfeather", "Salt Road", wav)
        with open(os.path.join(root, "salt.lrc"), "w") as f:
            f.write("[00:01.00]Salt road\n")
        result = self.run_cli("-v", "library", root, "--no-progress")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"salt.lrc (--force fetches anyway)", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(root, "salt.txt")))
        forced = self.run_cli("library", root, "--force", "--no-progress")
        self.assertEqual(forced.returncode, 0, forced.stderr)
        self.assertTrue(os.path.exists(os.path.join(root, "salt.txt")))

    def test_a_single_file_is_a_library_of_one(self):
        wav = os.path.join(self.tmp, "silence.wav")
        silent_wav(wav)
        song = os.path.join(self.tmp, "salt.mp3")
        make_mp3(song, "Quillfeather", "Salt Road", wav)
        result = self.run_cli("library", song, "--no-progress")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.exists(os.path.join(self.tmp, "salt.txt")))
        wav_only = self.run_cli("library", wav, "--no-progress")
        self.assertEqual(wav_only.returncode, 2, wav_only.stderr)

    def test_an_unreadable_audio_file_is_a_failure(self):
        root = os.path.join(self.tmp, "music")
        os.makedirs(root)
        with open(os.path.join(root, "broken.flac"), "wb") as f:
            f.write(b"this is no audio file" * 10)
        result = self.run_cli("library", root, "--no-progress")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(b"broken.flac: cannot read the tags", result.stderr)

    def test_skipped_lines_only_with_verbose(self):
        out = os.path.join(self.tmp, "out")
        songs = b"Quillfeather\tSalt Road\nCorrie Fen\tLoch Lomond\n"
        first = self.run_cli("batch", "--out", out, "--no-progress", stdin=songs)
        self.assertEqual(first.returncode, 0, first.stderr)
        again = self.run_cli("batch", "--out", out, "--no-progress", stdin=songs)
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertNotIn(b"skipped line", again.stderr)
        self.assertIn(b"skipped 2, written 0", again.stderr)
        verbose = self.run_cli("-v", "batch", "--out", out, "--no-progress", stdin=songs)
        self.assertEqual(verbose.stderr.count(b"skipped line"), 2, verbose.stderr)


if __name__ == "__main__":
    ARGS, rest = wiki_support.parse_script_arguments()
    wiki_support.run_tests(rest)
