#!/usr/bin/env python3
"""End-to-end tests of the versewell program against the sample wiki.

Runs the real binaries: versewell-wiki serves wiki/sample on 127.0.0.1 and
versewell reaches it through --proxy, loading the real plug-in library.
Every child process runs with proxy variables cleared and HOME and
XDG_CACHE_HOME pointing into a temporary folder.

usage: cli_test.py --cli PATH --wiki PATH --sample DIR [--plugin PATH] [unittest args]
"""
import importlib.util
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import fcntl
import pty
import struct
import termios
import unicodedata
import re
import resource
import urllib.parse
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wiki_support  # noqa: E402
from wiki_support import clean_env  # noqa: E402,F401 (the other scripts import it from here)

ARGS = None
SITE = "lyrics.wiki.example"


def load_sample_data():
    """The generator of the sample wiki holds the texts its pages carry."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "make-sample-wiki.py")
    spec = importlib.util.spec_from_file_location("make_sample_wiki", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


SAMPLE = load_sample_data()


class WikiServer(wiki_support.WikiServer):
    """The wiki program given on the command line (--wiki) serving `root`."""

    def __init__(self, root, log=False):
        super().__init__(ARGS.wiki, root, log=log)


class RefusingPort:
    """A loopback port that refuses connections while this object lives: the
    socket stays bound but never listens, so no other process can take the
    port between choosing it and connecting to it."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.port = self.sock.getsockname()[1]

    def close(self):
        self.sock.close()


def refusing_port(test):
    """A RefusingPort closed when `test` ends."""
    port = RefusingPort()
    test.addCleanup(port.close)
    return port.port


class CliTestCase(unittest.TestCase):
    server = None

    @classmethod
    def setUpClass(cls):
        cls.server = WikiServer(ARGS.sample)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="versewell-cli-test-")
        self.home = os.path.join(self.tmp, "home")
        self.xdg = os.path.join(self.tmp, "xdg-cache")
        os.makedirs(self.home)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def run_cli(self, *args, proxy=True, env=None, timeout=120):
        cmd = [ARGS.cli]
        if ARGS.plugin:
            cmd += ["--plugin", ARGS.plugin]
        if proxy:
            cmd += ["--proxy", self.server.proxy]
        cmd += list(args)
        base = {"HOME": self.home, "XDG_CACHE_HOME": self.xdg}
        base.update(env or {})
        return subprocess.run(cmd, capture_output=True, timeout=timeout, env=clean_env(base))

    def assertOneErrorLine(self, result, *fragments):
        err = result.stderr.decode("utf-8")
        lines = err.splitlines()
        self.assertEqual(len(lines), 1, err)
        self.assertTrue(lines[0].startswith("versewell: "), err)
        for fragment in fragments:
            self.assertIn(fragment, lines[0])

    def json_of(self, result):
        self.assertEqual(result.stdout.count(b"\n"), 1, result.stdout)
        return json.loads(result.stdout.decode("utf-8"))


def expected_lyrics(key, style="crlf"):
    text = SAMPLE.LYRICS[key]
    if style == "lf":
        text = text.replace("\n\n", "\n")
    return text + "\n"


class ArtistTest(CliTestCase):
    def test_prints_the_artist_page_address(self):
        r = self.run_cli("artist", "Quillfeather")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, ("%s/wiki/Quillfeather\n" % SITE).encode())

    def test_json_has_the_artist_and_the_address(self):
        r = self.run_cli("--json", "artist", "Quillfeather")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.json_of(r), {"artist": "Quillfeather", "query": "Quillfeather",
                                           "url": SITE + "/wiki/Quillfeather"})

    def test_json_artist_is_the_wikis_name_and_query_what_was_typed(self):
        r = self.run_cli("--json", "artist", "kettle & wren")
        self.assertEqual(r.returncode, 0, r.stderr)
        doc = self.json_of(r)
        self.assertEqual((doc["artist"], doc["query"]), ("Kettle & Wren", "kettle & wren"))

    def test_names_that_need_the_fuzzy_match(self):
        cases = [
            ("quillfeather", "/wiki/Quillfeather"),                # letter case
            ("Sorrel Lane (UK)", "/wiki/Sorrel_Lane_(_UK)"),       # blank inside brackets, on the previous page
            ("Saltwick Harbour ", "/wiki/Saltwick_Harbour"),       # trailing blank, on the previous page
            ("Fenwick Downs ( trio)", "/wiki/Fenwick_Downs_(Trio)"),
            ("Kettle & Wren", "/wiki/Kettle_%26_Wren"),            # a character reference in the index
            ("1849 shanty crew", "/wiki/1849_Shanty_Crew"),        # the digit index
        ]
        for name, path in cases:
            with self.subTest(name=name):
                r = self.run_cli("artist", name)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(r.stdout.decode(), SITE + path + "\n")

    def test_a_larger_max_diff_forgives_more(self):
        # "The " costs 215 in the plug-in's name distance: too much by default.
        r = self.run_cli("artist", "Tidewrack Band")
        self.assertEqual(r.returncode, 1)
        r = self.run_cli("--max-diff", "300", "artist", "Tidewrack Band")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode(), SITE + "/wiki/The_Tidewrack_Band\n")

    def test_unknown_artist_exits_1_with_one_line(self):
        r = self.run_cli("artist", "Nobody At All")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, b"")
        self.assertOneErrorLine(r, "artist not found", "Nobody At All")

    def test_a_name_the_index_cannot_hold(self):
        r = self.run_cli("artist", "#hashtag")
        self.assertEqual(r.returncode, 1)
        self.assertOneErrorLine(r, "letter or digit")


class SongsTest(CliTestCase):
    def test_lists_title_tab_address(self):
        r = self.run_cli("songs", "Quillfeather")
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = r.stdout.decode().splitlines()
        self.assertEqual(lines[0], "Salt Road\t%s/wiki/Quillfeather:Salt_Road" % SITE)
        # " lyrics" is stripped from link texts; duplicates are kept.
        self.assertEqual([l.split("\t")[0] for l in lines],
                         ["Salt Road", "Quill and Ink", "Lanterns on the Weir", "Greensleeves", "Salt Road",
                          "Who Will Shoe Your Pretty Little Foot?"])

    def test_json_shape(self):
        r = self.run_cli("--json", "--stats", "songs", "Claire Fontaine Ensemble")
        self.assertEqual(r.returncode, 0, r.stderr)
        doc = self.json_of(r)
        self.assertEqual(doc["artist"], "Claire Fontaine Ensemble")
        self.assertEqual(doc["songs"][0], {"title": "À la claire fontaine",
                                           "url": SITE + "/wiki/Claire_Fontaine_Ensemble:%C3%80_la_claire_fontaine"})
        self.assertEqual(len(doc["songs"]), 2)
        stats = doc["stats"]
        self.assertGreaterEqual(stats["downloads"], 2)
        self.assertEqual(stats["downloads"], stats["successful_downloads"])

    def test_artist_without_songs(self):
        r = self.run_cli("songs", "Sable Bells")
        self.assertEqual(r.returncode, 1)
        self.assertOneErrorLine(r, "no songs")
        # A failure under --json is an error object, never an empty list.
        r = self.run_cli("--json", "songs", "Sable Bells")
        self.assertEqual(r.returncode, 1)
        error = self.json_of(r)["error"]
        self.assertEqual(error["kind"], "not_found")
        self.assertIn("no songs", error["message"])
        self.assertTrue(error["url"].endswith("/wiki/Sable_Bells"), error)

    def test_stats_in_text_mode_go_to_stderr(self):
        r = self.run_cli("--stats", "songs", "Amberlight")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(len(r.stdout.decode().splitlines()), 2)
        self.assertRegex(r.stderr.decode(), r"^versewell: downloads \d+, successful \d+, download time \d+ ms\n$")


class LyricsTest(CliTestCase):
    def test_by_address_prints_lf_lines_and_a_final_newline(self):
        r = self.run_cli("lyrics", SITE + "/wiki/Quillfeather:Salt_Road")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode("utf-8"), expected_lyrics("Salt Road"))
        self.assertNotIn(b"\r", r.stdout)

    def test_json_keeps_the_plugins_text(self):
        url = SITE + "/wiki/Bramble_%26_Briar:Barbara_Allen"
        r = self.run_cli("--json", "lyrics", url)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.json_of(r), {"artist": "Bramble & Briar", "title": "Barbara Allen", "url": url,
                                           "match": "address",
                                           "lyrics": SAMPLE.LYRICS["Barbara Allen"].replace("\n", "\r\n")})

    def test_by_artist_and_differently_cased_title(self):
        r = self.run_cli("lyrics", "quillfeather", "  QUILL AND INK ")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode(), expected_lyrics("Quill and Ink"))
        self.assertEqual(r.stderr, b"")

    def test_close_title_is_taken_and_named_on_stderr(self):
        r = self.run_cli("lyrics", "Quillfeather", "Lanterns on the Wier")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode(), expected_lyrics("Lanterns on the Weir"))
        self.assertOneErrorLine(r, '"Lanterns on the Weir"')
        r = self.run_cli("--json", "lyrics", "Quillfeather", "Lanterns on the Wier")
        self.assertEqual(self.json_of(r)["match"], "close")

    def test_no_close_title_exits_1_with_suggestions(self):
        r = self.run_cli("lyrics", "Quillfeather", "zzzzzz")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, b"")
        self.assertOneErrorLine(r, 'no song titled "zzzzzz" by "Quillfeather"', '"Salt Road"')
        r = self.run_cli("--json", "lyrics", "Quillfeather", "zzzzzz")
        self.assertEqual(r.returncode, 1)
        error = self.json_of(r)["error"]
        self.assertEqual(error["kind"], "not_found")
        self.assertIn("Salt Road", error["suggestions"])
        self.assertLessEqual(len(error["suggestions"]), 3)
        # --closest keeps the old behaviour on request.
        r = self.run_cli("--json", "lyrics", "--closest", "Quillfeather", "zzzzzz")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.json_of(r)["match"], "closest")

    def test_title_matches_the_pages_own_name(self):
        r = self.run_cli("--json", "lyrics", "Quillfeather", "salt road (1998)")
        self.assertEqual(r.returncode, 0, r.stderr)
        doc = self.json_of(r)
        self.assertEqual(doc["url"], SITE + "/wiki/Quillfeather:Salt_Road_(1998)")
        self.assertEqual((doc["artist"], doc["query"], doc["title"], doc["match"]),
                         ("Quillfeather", "Quillfeather", "Salt Road", "exact"))
        r = self.run_cli("--json", "lyrics", "Quillfeather", "Salt Road")
        self.assertEqual(self.json_of(r)["url"], SITE + "/wiki/Quillfeather:Salt_Road")

    def test_missing_or_empty_arguments_are_usage_errors(self):
        for args in [["lyrics", "Quillfeather"], ["lyrics", ""], ["lyrics", "-"], ["lyrics", "Quillfeather", ""],
                     ["lyrics", "Quillfeather", "Salt", "Road"], ["artist", " "]]:
            with self.subTest(args=args):
                r = self.run_cli(*args)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertEqual(r.stdout, b"")
                self.assertOneErrorLine(r, "versewell lyrics ARTIST \"TITLE\"" if args[0] == "lyrics"
                                        else "versewell artist NAME")
                self.assertNotIn("download", r.stderr.decode())

    def test_utf8_title_and_text(self):
        r = self.run_cli("lyrics", "Claire Fontaine Ensemble", "à la claire fontaine")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode("utf-8"), expected_lyrics("À la claire fontaine"))

    def test_page_without_lyrics(self):
        for title in ["Nettlebed Reel (instrumental)", "The Withheld Song"]:
            with self.subTest(title=title):
                r = self.run_cli("--json", "lyrics", "Nettlebed", title)
                self.assertEqual(r.returncode, 1)
                self.assertOneErrorLine(r, "no lyrics on http://" + SITE + "/wiki/Nettlebed:")
                error = self.json_of(r)["error"]
                self.assertEqual(error["kind"], "not_found")
                self.assertTrue(error["url"].startswith("http://" + SITE + "/wiki/Nettlebed:"), error)
                self.assertIsNone(error["cause"], "the page was read; no download failed")

    def test_a_missing_page_is_not_found_with_its_status(self):
        r = self.run_cli("lyrics", "Nettlebed", "Lost Verse")
        self.assertEqual(r.returncode, 1)
        self.assertOneErrorLine(r, "http://%s/wiki/Nettlebed:Lost_Verse" % SITE, "HTTP status 404 Not Found")
        self.assertNotIn("--proxy", r.stderr.decode())

    def test_server_errors_exit_3_and_are_retried(self):
        url = "127.0.0.1:%d/_test/status/503" % self.server.port
        r = self.run_cli("--stats", "--retries", "1", "lyrics", url)
        self.assertEqual(r.returncode, 3)
        err = r.stderr.decode()
        self.assertIn("HTTP status 503 Service Unavailable", err)
        self.assertIn("downloads 2, successful 0", err, "one retry")
        r = self.run_cli("--json", "--stats", "--retries", "0", "lyrics", url)
        self.assertEqual(r.returncode, 3)
        doc = self.json_of(r)
        self.assertEqual(doc["error"]["kind"], "network")
        self.assertEqual(doc["error"]["cause"], "HTTP status 503 Service Unavailable")
        self.assertEqual(doc["error"]["url"], "http://" + url)
        self.assertEqual(doc["stats"]["downloads"], 1)
        # 404 is never retried; 429 is.
        r = self.run_cli("--stats", "lyrics", "127.0.0.1:%d/_test/status/404" % self.server.port)
        self.assertEqual(r.returncode, 1)
        self.assertIn("downloads 1, successful 0", r.stderr.decode())
        r = self.run_cli("--stats", "--retries", "1", "lyrics", "127.0.0.1:%d/_test/status/429" % self.server.port)
        self.assertEqual(r.returncode, 3)
        self.assertIn("downloads 2, successful 0", r.stderr.decode())

    def test_body_too_large_is_named(self):
        url = "127.0.0.1:%d/_test/body?size=9000000" % self.server.port
        r = self.run_cli("--retries", "0", "lyrics", url)
        self.assertEqual(r.returncode, 3)
        self.assertOneErrorLine(r, "body too large")

    def test_ctrl_c_ends_a_back_off_and_removes_the_private_trace_folder(self):
        tmp = os.path.join(self.tmp, "tmpdir")
        os.makedirs(tmp)
        url = "127.0.0.1:%d/_test/status/503" % self.server.port
        cmd = [ARGS.cli, "--proxy", self.server.proxy, "--json", "--retries", "20", "--delay", "10", "lyrics", url]
        if ARGS.plugin:
            cmd[1:1] = ["--plugin", ARGS.plugin]
        p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             env=clean_env({"HOME": self.home, "XDG_CACHE_HOME": self.xdg, "TMPDIR": tmp}))
        # Ready once the plug-in has traced its first failed download.
        marker = "Download fails: ".encode("utf-16-le")
        deadline = time.monotonic() + 60
        seen = False
        while not seen and time.monotonic() < deadline and p.poll() is None:
            for folder, _, files in os.walk(tmp):
                for name in files:
                    try:
                        with open(os.path.join(folder, name), "rb") as f:
                            seen = seen or marker in f.read()
                    except OSError:
                        pass
            time.sleep(0.02)
        self.assertTrue(seen)
        p.send_signal(signal.SIGINT)
        out, err = p.communicate(timeout=30)
        self.assertEqual(p.returncode, 130, err)
        doc = json.loads(out.decode())
        self.assertEqual(doc["error"]["kind"], "interrupted")
        self.assertEqual(os.listdir(tmp), [], "the private trace folder is removed")

    def test_failed_download_without_proxy_suggests_one(self):
        url = "127.0.0.1:%d/wiki/Quillfeather:Salt_Road" % refusing_port(self)
        r = self.run_cli("--retries", "0", "lyrics", url, proxy=False)
        self.assertEqual(r.returncode, 3)
        self.assertOneErrorLine(r, "http://" + url, "failed: connection refused", "--proxy")

    def test_wiki_unreachable_through_proxy(self):
        port = refusing_port(self)
        r = subprocess.run([ARGS.cli, "--proxy", "127.0.0.1:%d" % port, "--retries", "1", "--stats", "songs",
                            "Quillfeather"], capture_output=True, timeout=120,
                           env=clean_env({"HOME": self.home, "XDG_CACHE_HOME": self.xdg}))
        self.assertEqual(r.returncode, 3)
        lines = r.stderr.decode().splitlines()
        self.assertEqual(len(lines), 2, lines)
        self.assertIn("download of http://" + SITE + "/index.php?title=Category:Artists_Q&from=Quillfeather", lines[0])
        self.assertIn("proxy 127.0.0.1:%d not answering (connection refused)" % port, lines[0])
        self.assertIn("downloads 2, successful 0", lines[1])
        r = subprocess.run([ARGS.cli, "--proxy", "127.0.0.1:%d" % port, "--retries", "0", "--json", "artist",
                            "Quillfeather"], capture_output=True, timeout=120,
                           env=clean_env({"HOME": self.home, "XDG_CACHE_HOME": self.xdg}))
        self.assertEqual(r.returncode, 3)
        error = self.json_of(r)["error"]
        self.assertEqual(error["kind"], "network")
        self.assertIn("not answering", error["cause"])


class FetchAllTest(CliTestCase):
    def test_fetch_then_skip_then_force(self):
        root = os.path.join(self.tmp, "out")
        out = os.path.join(root, "Quillfeather")
        r = self.run_cli("fetch-all", "Quillfeather", "--out", root)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode(), "saved 6, skipped 0, failed 0 (%s)\n" % root)
        # Names come from the page names: the second "Salt Road" is the 1998 page.
        names = sorted(os.listdir(out))
        self.assertEqual(names, sorted(["Salt Road.txt", "Quill and Ink.txt", "Lanterns on the Weir.txt",
                                        "Greensleeves.txt", "Salt Road (1998).txt",
                                        "Who Will Shoe Your Pretty Little Foot_.txt"]))
        self.assertEqual(sorted(os.listdir(root)), [".versewell-index", "Quillfeather"])
        with open(os.path.join(out, "Salt Road.txt"), encoding="utf-8", newline="") as f:
            self.assertEqual(f.read(), expected_lyrics("Salt Road"))
        with open(os.path.join(root, ".versewell-index"), encoding="utf-8") as f:
            index = dict(reversed(line.rstrip("\n").split("\t")) for line in f)
        self.assertEqual(index[SITE + "/wiki/Quillfeather:Salt_Road_(1998)"], "Quillfeather/Salt Road (1998).txt")

        r = self.run_cli("--json", "--stats", "fetch-all", "Quillfeather", "--out", root)
        self.assertEqual(r.returncode, 0, r.stderr)
        doc = self.json_of(r)
        self.assertEqual((doc["saved"], doc["skipped"], doc["failed"]), (0, 6, 0))
        self.assertEqual([f["status"] for f in doc["files"]], ["skipped"] * 6)
        self.assertEqual(doc["files"][4]["file"], os.path.join(out, "Salt Road (1998).txt"))
        self.assertEqual(doc["template"], "{artist}/{title}.txt")
        self.assertEqual(doc["stats"]["downloads"], doc["stats"]["successful_downloads"])

        os.remove(os.path.join(out, "Greensleeves.txt"))
        with open(os.path.join(out, "Salt Road.txt"), "w") as f:
            f.write("stale")
        r = self.run_cli("fetch-all", "Quillfeather", "--out", root)
        self.assertEqual(r.stdout.decode(), "saved 1, skipped 5, failed 0 (%s)\n" % root)
        r = self.run_cli("fetch-all", "Quillfeather", "--out", root, "--force")
        self.assertEqual(r.stdout.decode(), "saved 6, skipped 0, failed 0 (%s)\n" % root)
        with open(os.path.join(out, "Salt Road.txt"), encoding="utf-8") as f:
            self.assertEqual(f.read(), expected_lyrics("Salt Road"))
        self.assertEqual(r.stderr, b"", "no progress bar when stderr is not a terminal")

    def test_same_title_by_two_artists_and_files_the_index_does_not_know(self):
        root = os.path.join(self.tmp, "out")
        os.makedirs(os.path.join(root, "Amberlight"))
        mine = os.path.join(root, "Amberlight", "Beautiful Dreamer.txt")
        with open(mine, "w") as f:
            f.write("my own notes")
        for artist in ["Quillfeather", "Amberlight"]:
            r = self.run_cli("fetch-all", artist, "--out", root)
            self.assertEqual(r.returncode, 0, r.stderr)
        with open(os.path.join(root, "Amberlight", "Greensleeves.txt"), encoding="utf-8") as f:
            amber = f.read()
        with open(os.path.join(root, "Quillfeather", "Greensleeves.txt"), encoding="utf-8") as f:
            quill = f.read()
        self.assertEqual(amber, quill, "both pages carry the traditional text")
        # A file written by someone else is never overwritten, even with --force.
        r = self.run_cli("fetch-all", "Amberlight", "--out", root, "--force")
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(mine) as f:
            self.assertEqual(f.read(), "my own notes")
        self.assertTrue(os.path.exists(os.path.join(root, "Amberlight", "Beautiful Dreamer (2).txt")))

    def test_flat_template(self):
        root = os.path.join(self.tmp, "flat")
        r = self.run_cli("--json", "fetch-all", "Bramble & Briar", "--out", root, "--template", "{artist} - {title}.txt")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(os.listdir(root)), [".versewell-index", "Bramble & Briar - Barbara Allen.txt",
                                                     "Bramble & Briar - Scarborough Fair.txt"])
        for template in ["../{title}.txt", "/abs/{title}", "{artist}.txt", "{album}/{title}"]:
            with self.subTest(template=template):
                r = self.run_cli("fetch-all", "Amberlight", "--out", root, "--template", template)
                self.assertEqual(r.returncode, 2)
                self.assertOneErrorLine(r, "template")

    def test_hostile_titles_never_write_outside_out(self):
        root = os.path.join(self.tmp, "wiki")
        shutil.copytree(ARGS.sample, root)
        pages = [("Zed_Hostile_Page", "../../../escape"),             # no artist:title form: the list text is used
                 ("..\\..\\win:CON", "con"),                       # backslashes, a device name
                 ("Zed_Hostile:.hidden\x01bell", "hidden"),           # leading dot, control character
                 ("Zed_Hostile:%s" % ("\u00e9" * 115), "long"),       # long, but a file name may be so long
                 ("..:..", "dots")]
        items = []
        for i, (page, text) in enumerate(pages):
            with open(os.path.join(root, "wiki", page + ".html"), "w", encoding="utf-8") as f:
                f.write("<div class='lyricbox'><div>x</div>Verse %d<!-- end --></div>" % i)
            href = "/wiki/" + urllib.parse.quote(page, safe=":")
            items.append('<li> <b><a href="%s" title="t">%s</a></b></li>' % (href, text))
        with open(os.path.join(root, "wiki", "Zed_Hostile.html"), "w") as f:
            f.write("<ol>\n%s\n</ol>\n" % "\n".join(items))
        with open(os.path.join(root, "categories", "Artists_Z.tsv"), "w") as f:
            f.write("/wiki/Zed_Hostile\tZed Hostile\tZed Hostile\n")
        server = WikiServer(root)
        try:
            base = os.path.join(self.tmp, "deep", "a", "b")
            out = os.path.join(base, "out")
            os.makedirs(out)
            r = subprocess.run([ARGS.cli, "--plugin", ARGS.plugin, "--proxy", server.proxy, "--json", "fetch-all",
                                "Zed Hostile", "--out", out], capture_output=True, timeout=120,
                               env=clean_env({"HOME": self.home, "XDG_CACHE_HOME": self.xdg}))
            self.assertEqual(r.returncode, 0, r.stderr)
            doc = self.json_of(r)
            self.assertEqual(doc["saved"], len(pages))
            written = []
            for folder, dirs, files in os.walk(os.path.join(self.tmp, "deep")):
                for name in files:
                    written.append(os.path.relpath(os.path.join(folder, name), out))
            self.assertEqual(len(written), len(pages) + 1, written)
            for path in written:
                self.assertFalse(path.startswith(".."), path)
                for part in path.split(os.sep):
                    if part == ".versewell-index":
                        continue
                    self.assertFalse(part.startswith("."), path)
                    self.assertNotIn("..", part)
                    self.assertLessEqual(len(part.encode()), 255)
                    self.assertTrue(all(ord(c) >= 0x20 for c in part), path)
            self.assertIn(os.path.join("Zed Hostile", "_._._escape.txt"), written)
            self.assertIn(os.path.join("_._win", "CON_.txt"), written)
            self.assertIn(os.path.join("Zed Hostile", "hidden_bell.txt"), written)
            self.assertIn(os.path.join("unknown artist", "untitled.txt"), written)
            # Temporary names are short and fixed, so a name the file system
            # holds is kept whole (cutting is tested with the templates).
            self.assertIn(os.path.join("Zed Hostile", "\u00e9" * 115 + ".txt"), written)
        finally:
            server.stop()

    def test_out_problems_are_reported_before_any_download(self):
        blocker = os.path.join(self.tmp, "a-file")
        with open(blocker, "w") as f:
            f.write("x")
        r = self.run_cli("--stats", "fetch-all", "Quillfeather", "--out", os.path.join(blocker, "sub"))
        self.assertEqual(r.returncode, 2)
        lines = r.stderr.decode().splitlines()
        self.assertIn("--out: ", lines[0])
        self.assertIn(os.path.join(blocker, "sub"), lines[0])
        self.assertIn("Not a directory", lines[0])
        self.assertIn("downloads 0,", lines[1])
        r = self.run_cli("--json", "--stats", "fetch-all", "Quillfeather", "--out", os.path.join(blocker, "sub"))
        self.assertEqual(r.returncode, 2)
        doc = self.json_of(r)
        self.assertEqual(doc["error"]["kind"], "usage")
        self.assertIn("Not a directory", doc["error"]["message"])
        self.assertEqual(doc["stats"]["downloads"], 0)

    def test_a_write_error_stops_the_run_and_names_the_destination(self):
        # A file size limit makes the first lyrics file fail with EFBIG, even for root.
        def limit():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (64, 64))
        root = os.path.join(self.tmp, "out")
        cmd = [ARGS.cli, "--plugin", ARGS.plugin, "--proxy", self.server.proxy, "--json", "--stats", "fetch-all",
               "Quillfeather", "--out", root]
        r = subprocess.run(cmd, capture_output=True, timeout=120, preexec_fn=limit,
                           env=clean_env({"HOME": self.home, "XDG_CACHE_HOME": self.xdg}))
        self.assertEqual(r.returncode, 4, "a file that could not be written: exit 4")
        doc = self.json_of(r)
        self.assertEqual((doc["saved"], doc["failed"], len(doc["files"])), (0, 1, 1))
        self.assertOneErrorLine(r, "cannot write %s: File too large" % os.path.join(root, "Quillfeather",
                                                                                 "Salt Road.txt"))
        self.assertNotIn(".part", r.stderr.decode())
        self.assertEqual(os.listdir(os.path.join(root, "Quillfeather")), [])

    def test_failures_are_counted_and_named(self):
        out = os.path.join(self.tmp, "nettlebed")
        r = self.run_cli("--json", "fetch-all", "Nettlebed", "--out", out)
        self.assertEqual(r.returncode, 1)
        doc = self.json_of(r)
        self.assertEqual((doc["saved"], doc["skipped"], doc["failed"]), (1, 0, 3))
        self.assertEqual(os.listdir(os.path.join(out, "Nettlebed")), ["Barbara Allen.txt"])
        self.assertEqual(len(r.stderr.decode().splitlines()), 3)
        self.assertTrue(all(l.startswith("versewell: ") for l in r.stderr.decode().splitlines()))

    def test_sigint_exits_130_and_leaves_only_whole_files(self):
        # A private copy of the sample with one artist whose second song
        # hangs, so the interrupt lands in the middle of the fetch.
        root = os.path.join(self.tmp, "wiki")
        shutil.copytree(ARGS.sample, root)
        with open(os.path.join(root, "wiki", "Zed_Slowcoach.html"), "w") as f:
            f.write('<ol>\n<li> <b><a href="/wiki/Quillfeather:Salt_Road" title="a">Salt Road</a></b></li>\n'
                    '<li> <b><a href="/_test/hang?ms=8000" title="b">Hanging Song</a></b></li>\n'
                    '<li> <b><a href="/wiki/Quillfeather:Greensleeves" title="c">Greensleeves</a></b></li>\n</ol>\n')
        with open(os.path.join(root, "categories", "Artists_Z.tsv"), "w") as f:
            f.write("/wiki/Zed_Slowcoach\tZed Slowcoach\tZed Slowcoach\n")
        server = WikiServer(root, log=True)
        try:
            out = os.path.join(self.tmp, "slow")
            cmd = [ARGS.cli, "--proxy", server.proxy, "fetch-all", "Zed Slowcoach", "--out", out]
            if ARGS.plugin:
                cmd[1:1] = ["--plugin", ARGS.plugin]
            p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 env=clean_env({"HOME": self.home, "XDG_CACHE_HOME": self.xdg}))
            first = os.path.join(out, "Quillfeather", "Salt Road.txt")
            # Interrupt only once the hanging song's request has reached the
            # server: the first song is saved by then.
            self.assertTrue(server.wait_for_request("/_test/hang"))
            self.assertTrue(os.path.exists(first))
            p.send_signal(signal.SIGINT)
            stdout, stderr = p.communicate(timeout=60)
            self.assertEqual(p.returncode, 130, stderr)
            self.assertIn(b"versewell: interrupted\n", stderr)
            self.assertEqual(stdout.decode(), "saved 1, skipped 0, failed 0 (%s)\n" % out)
            self.assertEqual(os.listdir(os.path.join(out, "Quillfeather")), ["Salt Road.txt"])
            with open(first, encoding="utf-8") as f:
                self.assertEqual(f.read(), expected_lyrics("Salt Road"))
        finally:
            server.stop()


class NonAsciiPathTest(CliTestCase):
    """Folder and file names outside ASCII, and outside any one 8-bit code
    page ("ř" and "♪" are in neither Latin-1 nor cp1252), given to every
    path option: the names on disk and in the output are the same UTF-8."""

    def setUp(self):
        super().setUp()
        self.place = os.path.join(self.tmp, "Dvořák")

    def test_out_folder_and_file_names_keep_their_characters(self):
        root = os.path.join(self.place, "Ünïcode ♪")
        r = self.run_cli("fetch-all", "Claire Fontaine Ensemble", "--out", root)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, ("saved 2, skipped 0, failed 0 (%s)\n" % root).encode("utf-8"))
        # Raw bytes on the Linux side: a name converted through a code page
        # would show up here as other bytes.
        self.assertEqual(os.listdir(os.fsencode(self.place)), ["Ünïcode ♪".encode("utf-8")])
        self.assertEqual(sorted(os.listdir(os.fsencode(root))), [b".versewell-index", b"Claire Fontaine Ensemble"])
        artist = os.path.join(root, "Claire Fontaine Ensemble")
        self.assertEqual(sorted(os.listdir(os.fsencode(artist))),
                         [b"Twinkle, Twinkle, Little Star.txt", "À la claire fontaine.txt".encode("utf-8")])
        with open(os.path.join(artist, "À la claire fontaine.txt"), "rb") as f:
            self.assertEqual(f.read(), expected_lyrics("À la claire fontaine").encode("utf-8"))
        with open(os.path.join(root, ".versewell-index"), "rb") as f:
            self.assertIn("Claire Fontaine Ensemble/À la claire fontaine.txt\t".encode("utf-8"), f.read())
        # The index is read back from the same folder: nothing new to fetch.
        r = self.run_cli("fetch-all", "Claire Fontaine Ensemble", "--out", root)
        self.assertEqual(r.stdout, ("saved 0, skipped 2, failed 0 (%s)\n" % root).encode("utf-8"))
        # A template that puts the characters into the file name itself.
        r = self.run_cli("fetch-all", "Quillfeather", "--out", root, "--template", "♪ {artist} – {title}.txt")
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(os.path.join(root, "♪ Quillfeather – Salt Road.txt"), "rb") as f:
            self.assertEqual(f.read(), expected_lyrics("Salt Road").encode("utf-8"))

    def test_song_list_cache_log_and_plugin_paths(self):
        os.makedirs(self.place)
        songs = os.path.join(self.place, "Lieder ♪.txt")
        with open(songs, "w", encoding="utf-8") as f:
            f.write("Claire Fontaine Ensemble\tÀ la claire fontaine\n")
        out = os.path.join(self.place, "Texte ♪")
        cache = os.path.join(self.place, "Cache ♪")
        logs = os.path.join(self.place, "Protokolle ♪")
        r = self.run_cli("--cache-dir", cache, "--log-dir", logs, "batch", songs, "--out", out)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(os.path.join(out, "Claire Fontaine Ensemble", "À la claire fontaine.txt"), "rb") as f:
            self.assertEqual(f.read(), expected_lyrics("À la claire fontaine").encode("utf-8"))
        r = self.run_cli("--cache-dir", cache, "artist", "Sorrel Lane (UK)")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(any(files for _, _, files in os.walk(cache)), "the plug-in's artist cache is in the folder")
        r = self.run_cli("--cache-dir", cache, "cache", "path", proxy=False)
        self.assertEqual(r.stdout, (cache + "\n").encode("utf-8"))
        merged = [n for n in os.listdir(logs) if os.path.isfile(os.path.join(logs, n))]
        self.assertEqual(len(merged), 1, merged)
        r = self.run_cli("log", os.path.join(logs, merged[0]), proxy=False)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("Download: " + SITE, r.stdout.decode("utf-8"))
        r = self.run_cli("--cache-dir", cache, "cache", "clear", proxy=False)
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertFalse(os.path.exists(cache))

        plugin_folder = os.path.join(self.place, "Erweiterung ♪")
        os.makedirs(plugin_folder)
        plugin = os.path.join(plugin_folder, os.path.basename(ARGS.plugin))
        shutil.copyfile(ARGS.plugin, plugin)
        r = subprocess.run([ARGS.cli, "--plugin", plugin, "--proxy", self.server.proxy, "--no-cache",
                            "artist", "Quillfeather"], capture_output=True, timeout=120,
                           env=clean_env({"HOME": self.home, "XDG_CACHE_HOME": self.xdg}))
        self.assertEqual((r.returncode, r.stdout), (0, ("%s/wiki/Quillfeather\n" % SITE).encode()), r.stderr)


def display_width(text):
    return sum(0 if unicodedata.combining(c) else 2 if unicodedata.east_asian_width(c) in "WF" else 1
               for c in text)


class TerminalTest(CliTestCase):
    """The progress line, drawn on a pseudo-terminal of 40 columns."""

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="versewell-cli-wiki-")
        shutil.copytree(ARGS.sample, cls.root, dirs_exist_ok=True)
        items = []
        for i in range(4):
            title = "\u6f22\u5b57\u306e\u6b4c" * (3 + i) + " %d" % i
            page = "Zed_Kanji:" + title.replace(" ", "_")
            with open(os.path.join(cls.root, "wiki", page + ".html"), "w", encoding="utf-8") as f:
                f.write("<div class='lyricbox'><div>x</div>Verse %d<!-- end --></div>" % i)
            items.append('<li> <b><a href="/wiki/%s" title="t">%s</a></b></li>' % (urllib.parse.quote(page, safe=":"), title))
        with open(os.path.join(cls.root, "wiki", "Zed_Kanji.html"), "w", encoding="utf-8") as f:
            f.write("<ol>\n%s\n</ol>\n" % "\n".join(items))
        with open(os.path.join(cls.root, "categories", "Artists_Z.tsv"), "w") as f:
            f.write("/wiki/Zed_Kanji\tZed Kanji\tZed Kanji\n")
        cls.server = WikiServer(cls.root)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def run_on_terminal(self, term, *extra, columns=40):
        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
        cmd = [ARGS.cli, "--plugin", ARGS.plugin, "--proxy", self.server.proxy] + list(extra) + [
            "fetch-all", "Zed Kanji", "--out", os.path.join(self.tmp, "out")]
        p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=slave, stdin=subprocess.DEVNULL,
                             env=clean_env({"HOME": self.home, "XDG_CACHE_HOME": self.xdg, "TERM": term}))
        os.close(slave)
        seen = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
        os.close(master)
        stdout = p.stdout.read()
        p.stdout.close()
        self.assertEqual(p.wait(timeout=60), 0)
        self.assertEqual(stdout.decode(), "saved 4, skipped 0, failed 0 (%s)\n" % os.path.join(self.tmp, "out"))
        return seen.decode("utf-8")

    def test_wide_titles_fit_the_terminal(self):
        seen = self.run_on_terminal("xterm")
        self.assertIn("\x1b[K", seen)
        drawn = [part.replace("\x1b[K", "") for part in seen.split("\r")]
        self.assertTrue(any("\u6f22" in part for part in drawn), seen)
        for part in drawn:
            self.assertLessEqual(display_width(part), 39, part)

    def test_dumb_terminal_gets_no_escape_sequences(self):
        seen = self.run_on_terminal("dumb")
        self.assertNotIn("\x1b", seen)
        self.assertIn("\r[", seen)
        self.assertTrue(all(display_width(part) <= 39 for part in seen.split("\r")), seen)

    def test_no_progress_and_quiet_draw_nothing(self):
        for option in ["--no-progress", "-q", "--quiet"]:
            with self.subTest(option=option):
                shutil.rmtree(os.path.join(self.tmp, "out"), ignore_errors=True)
                self.assertEqual(self.run_on_terminal("xterm", option), "")


class SetupTest(CliTestCase):
    def test_version_anywhere_and_without_a_plugin(self):
        for args in [["--version"], ["-V"], ["artist", "--version"], ["lyrics", "a", "b", "c", "--version"]]:
            with self.subTest(args=args):
                r = self.run_cli(*args, proxy=False)
                self.assertEqual(r.returncode, 0, r.stderr)
                lines = r.stdout.decode().splitlines()
                self.assertRegex(lines[0], r"^versewell \d+\.\d+")
                self.assertRegex(lines[1], r"^plug-in Versewell 2\.1\.2000\.0: .*libversewell")
        r = self.run_cli("--json", "--version", proxy=False)
        doc = self.json_of(r)
        self.assertEqual((doc["name"], doc["version"], doc["found"]), ("Versewell", "2.1.2000.0", True))
        missing = os.path.join(self.tmp, "nowhere", "libversewell.so")
        r = subprocess.run([ARGS.cli, "--plugin", missing, "artist", "x", "--version"], capture_output=True,
                           env=clean_env({"HOME": self.home}))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("plug-in: not found (%s)" % missing, r.stdout.decode())

    def test_parser_messages_suggest_and_speak_plainly(self):
        cases = [(["artsit", "x"], "did you mean `artist`?"),
                 (["--jsno", "artist", "x"], "did you mean `--json`?"),
                 (["lyrics", "--closets", "a", "b"], "did you mean `--closest`?"),
                 (["--max-diff", "abc", "artist", "x"], "--max-diff wants a number >= 0"),
                 (["--max-diff", "inf", "artist", "x"], "--max-diff wants a number >= 0"),
                 (["--max-diff", "nan", "artist", "x"], "--max-diff wants a number >= 0"),
                 (["--max-diff", "-1", "artist", "x"], "--max-diff wants a number >= 0"),
                 (["--max-diff", "1e999", "artist", "x"], "--max-diff wants a number >= 0"),
                 (["lyrics", "a", "b", "c"], "lyrics takes an artist and one title, got 3 words")]
        for args, fragment in cases:
            with self.subTest(args=args):
                r = self.run_cli(*args, proxy=False)
                self.assertEqual(r.returncode, 2)
                self.assertOneErrorLine(r, fragment)
                err = r.stderr.decode()
                self.assertNotIn("At Most", err)
                self.assertNotIn("309", err)
        r = self.run_cli("--json", "artsit", "x", proxy=False)
        self.assertEqual(r.returncode, 2)
        self.assertEqual(self.json_of(r)["error"]["kind"], "usage")

    def test_help_command_and_subcommand_help_with_global_options(self):
        for args in [["help", "lyrics"], ["lyrics", "--help"]]:
            with self.subTest(args=args):
                r = self.run_cli(*args, proxy=False)
                self.assertEqual(r.returncode, 0, r.stderr)
                text = r.stdout.decode()
                for word in ["--closest", "Global options", "--proxy", "--retries", "--json"]:
                    self.assertIn(word, text)
        r = self.run_cli("help", proxy=False)
        self.assertEqual(r.returncode, 0)
        self.assertIn("Exit status", r.stdout.decode())
        self.assertIn("3    network", r.stdout.decode())

    def test_echoed_input_is_cut_and_control_characters_shown(self):
        name = "Nobody\x01\x1b[31m" + "x" * 500
        r = self.run_cli("artist", name)
        self.assertEqual(r.returncode, 2)  # no name on the wiki holds a control character
        self.assertOneErrorLine(r, "Nobody\\x01\\x1B[31m", "...")
        err = r.stderr.decode()
        self.assertNotIn("\x1b", err)
        self.assertLess(len(err), 300)

    def test_help_documents_commands_and_examples(self):
        r = self.run_cli("--help", proxy=False)
        self.assertEqual(r.returncode, 0)
        text = r.stdout.decode()
        for word in ["artist", "songs", "lyrics", "fetch-all", "--proxy", "--max-diff", "--cache-dir", "--no-cache",
                     "--log-dir", "--trace-level", "--parent-log", "--json", "--stats", "--version", "Examples:",
                     "--retries", "--delay", "Exit status", "not_found"]:
            self.assertIn(word, text)

    def test_usage_errors_exit_2_with_one_line(self):
        for args in [[], ["artist"], ["lyrics", "a", "b", "c"], ["fetch-all", "Quillfeather"], ["--bogus", "artist", "x"],
                     ["--max-diff", "-1", "artist", "x"], ["--proxy", "nohost", "artist", "x"],
                     ["--trace-level", "Loud", "artist", "x"], ["--parent-log", "p.log", "artist", "x"]]:
            with self.subTest(args=args):
                r = self.run_cli(*args, proxy=False)
                self.assertEqual(r.returncode, 2)
                self.assertEqual(r.stdout, b"")
                self.assertOneErrorLine(r)

    def test_missing_plugin_exits_2(self):
        missing = os.path.join(self.tmp, "nowhere", "libversewell.so")
        r = subprocess.run([ARGS.cli, "--plugin", missing, "artist", "Quillfeather"], capture_output=True,
                           env=clean_env({"HOME": self.home}))
        self.assertEqual(r.returncode, 2)
        self.assertOneErrorLine(r, "plug-in library not found", missing)
        r = subprocess.run([ARGS.cli, "--plugin", missing, "--json", "artist", "Quillfeather"], capture_output=True,
                           env=clean_env({"HOME": self.home}))
        self.assertEqual(r.returncode, 2)
        error = self.json_of(r)["error"]
        self.assertEqual(error["kind"], "usage")
        self.assertIn(missing, error["message"])

    def test_a_file_that_is_no_plugin_exits_2(self):
        fake = os.path.join(self.tmp, "libfake.so")
        with open(fake, "w") as f:
            f.write("not a library")
        r = subprocess.run([ARGS.cli, "--plugin", fake, "artist", "Quillfeather"], capture_output=True,
                           env=clean_env({"HOME": self.home}))
        self.assertEqual(r.returncode, 2)
        self.assertOneErrorLine(r, "cannot load plug-in library", fake)

    def test_default_cache_and_no_cache(self):
        cache = os.path.join(self.xdg, "versewell")
        r = self.run_cli("--no-cache", "songs", "Quillfeather")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertFalse(os.path.exists(cache))
        self.assertFalse(os.path.exists(os.path.join(self.home, ".cache")))
        # A lookup that reads a page of other names fills the default cache.
        r = self.run_cli("artist", "Sorrel Lane (UK)")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(os.path.isdir(cache))
        self.assertTrue(any(files for _, _, files in os.walk(cache)), "the cache holds the index entries it saw")
        # Without XDG_CACHE_HOME the cache lives under ~/.cache.
        r = self.run_cli("artist", "Sorrel Lane (UK)", env={"XDG_CACHE_HOME": ""})
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(os.path.isdir(os.path.join(self.home, ".cache", "versewell")))

    def test_explicit_cache_dir_is_created(self):
        cache = os.path.join(self.tmp, "a", "b", "cache")
        r = self.run_cli("--cache-dir", cache, "artist", "Amberlight")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(os.path.isdir(cache))
        self.assertFalse(os.path.exists(os.path.join(self.xdg, "versewell")))

    def test_trace_log_is_merged_into_the_parent_log(self):
        logs = os.path.join(self.tmp, "logs")
        parent = os.path.join(self.tmp, "host.log")
        r = self.run_cli("--log-dir", logs, "--trace-level", "Debug", "--parent-log", parent, "artist", "Quillfeather")
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(parent, "rb") as f:
            data = f.read()
        self.assertTrue(data.startswith(b"\xff\xfe"), data[:16])
        text = data[2:].decode("utf-16-le")
        self.assertIn("Download: " + SITE + "/index.php?title=Category:Artists_Q&from=Quillfeather", text)
        self.assertEqual([n for n in os.listdir(logs) if os.path.isfile(os.path.join(logs, n))], [],
                         "the trace file is deleted after the merge")

    def test_verbose_shows_the_hosts_the_plugin_reported(self):
        r = self.run_cli("-v", "artist", "Quillfeather")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("versewell: host ignore list: %s added 1 times, removed 1 times" % SITE, r.stderr.decode())


class LogOptionsTest(CliTestCase):
    def trace_files(self, logs):
        return [n for n in os.listdir(logs) if n.startswith("Versewell_")]

    def test_log_dir_alone_keeps_downloads_and_log_prints_utf8(self):
        logs = os.path.join(self.tmp, "logs")
        r = self.run_cli("--log-dir", logs, "artist", "Quillfeather")
        self.assertEqual(r.returncode, 0, r.stderr)
        merged = [n for n in os.listdir(logs) if os.path.isfile(os.path.join(logs, n))]
        self.assertEqual(len(merged), 1, merged)  # the default parent log; the trace file is merged and gone
        path = os.path.join(logs, merged[0])
        with open(path, "rb") as f:
            self.assertTrue(f.read(2) == b"\xff\xfe")
        r = self.run_cli("log", path, proxy=False)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertNotIn(b"\r", r.stdout)
        self.assertFalse(r.stdout.startswith(b"\xef\xbb\xbf"))
        text = r.stdout.decode("utf-8")
        self.assertRegex(text, r"(?m)^\d\d:\d\d:\d\d\.\d\d\d [0-9A-F]+ DBG: Download: " +
                         SITE.replace(".", r"\.") + r"/index\.php\?title=Category:Artists_Q&from=Quillfeather$")

    def test_trace_level_names_numbers_and_the_need_for_a_log_dir(self):
        for level, downloads_logged in [("warning", False), ("ERROR", False), ("40", True), ("verbose", True)]:
            with self.subTest(level=level):
                logs = os.path.join(self.tmp, "logs-" + level)
                parent = os.path.join(self.tmp, "parent-%s.log" % level)
                with open(parent, "wb") as f:
                    f.write("\ufeffhost line\r\n".encode("utf-16-le"))
                r = self.run_cli("--log-dir", logs, "--trace-level", level, "--parent-log", parent,
                                 "lyrics", SITE + "/wiki/Quillfeather:Salt_Road")
                self.assertEqual(r.returncode, 0, r.stderr)
                text = self.run_cli("log", parent, proxy=False).stdout.decode("utf-8")
                self.assertTrue(text.startswith("host line\n"), text)
                self.assertEqual("Download: " in text, downloads_logged, text)
        for args in [["--trace-level", "Debug"], ["--trace-level", "loud", "--log-dir", self.tmp]]:
            with self.subTest(args=args):
                r = self.run_cli(*args, "artist", "Quillfeather", proxy=False)
                self.assertEqual(r.returncode, 2)
                self.assertOneErrorLine(r, "--trace-level")
        r = self.run_cli("--trace-level", "Debug", "artist", "Quillfeather", proxy=False)
        self.assertOneErrorLine(r, "needs --log-dir")

    def test_log_of_a_missing_file_names_it(self):
        missing = os.path.join(self.tmp, "no-such.log")
        r = self.run_cli("log", missing, proxy=False)
        self.assertEqual(r.returncode, 1)
        self.assertOneErrorLine(r, missing, "No such file or directory")

    def test_a_failed_merge_is_reported_and_keeps_the_trace_file(self):
        logs = os.path.join(self.tmp, "logs")
        parent = os.path.join(self.tmp, "missing", "host.log")
        r = self.run_cli("--log-dir", logs, "--parent-log", parent, "artist", "Quillfeather")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertOneErrorLine(r, "cannot merge the trace log into " + parent, "No such file or directory", logs)
        kept = self.trace_files(logs)
        self.assertEqual(len(kept), 1, os.listdir(logs))
        text = self.run_cli("log", os.path.join(logs, kept[0]), proxy=False).stdout.decode("utf-8")
        self.assertIn("Download: " + SITE, text)

    def test_a_parent_log_that_is_not_utf16_is_reported_before_merging(self):
        logs = os.path.join(self.tmp, "logs")
        parent = os.path.join(self.tmp, "host.log")
        with open(parent, "wb") as f:
            f.write(b"plain ANSI host log\r\n")
        r = self.run_cli("--log-dir", logs, "--parent-log", parent, "artist", "Quillfeather")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertOneErrorLine(r, parent, "not UTF-16")
        with open(parent, "rb") as f:
            data = f.read()
        self.assertTrue(data.startswith(b"plain ANSI host log\r\n"))
        self.assertIn("Download: ".encode("utf-16-le"), data)
        self.assertEqual(self.trace_files(logs), [])


class CacheCommandsTest(CliTestCase):
    def test_cache_path_follows_xdg_home_and_the_option(self):
        r = self.run_cli("cache", "path", proxy=False)
        self.assertEqual((r.returncode, r.stdout.decode()), (0, os.path.join(self.xdg, "versewell") + "\n"))
        r = self.run_cli("cache", "path", proxy=False, env={"XDG_CACHE_HOME": ""})
        self.assertEqual(r.stdout.decode(), os.path.join(self.home, ".cache", "versewell") + "\n")
        r = self.run_cli("--cache-dir", "/some/where", "cache", "path", proxy=False)
        self.assertEqual(r.stdout.decode(), "/some/where\n")

    def test_cache_clear_deletes_the_cache(self):
        cache = os.path.join(self.xdg, "versewell")
        r = self.run_cli("artist", "Sorrel Lane (UK)")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(any(files for _, _, files in os.walk(cache)))
        r = self.run_cli("cache", "clear", proxy=False)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, b"")
        self.assertFalse(os.path.exists(cache))
        r = self.run_cli("cache", "clear", proxy=False)
        self.assertEqual(r.returncode, 0, "clearing a missing cache is no error")

    def test_an_unusable_cache_folder_disables_the_cache(self):
        blocker = os.path.join(self.tmp, "a-file")
        with open(blocker, "w") as f:
            f.write("x")
        r = self.run_cli("--cache-dir", os.path.join(blocker, "cache"), "artist", "Quillfeather")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode(), SITE + "/wiki/Quillfeather\n")
        self.assertOneErrorLine(r, "cache disabled: ", os.path.join(blocker, "cache"), "Not a directory")

    def test_lyrics_by_address_leave_the_cache_alone(self):
        # No artist is looked up, so the cache folder is neither made nor
        # checked; an artist search made it.
        cache = os.path.join(self.tmp, "untouched-cache")
        r = self.run_cli("--cache-dir", cache, "lyrics", SITE + "/wiki/Quillfeather:Salt_Road")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"salt road", r.stdout.lower())
        self.assertFalse(os.path.exists(cache))
        r = self.run_cli("--cache-dir", cache, "artist", "Quillfeather")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(os.path.isdir(cache))

    def test_no_cache_with_cache_dir_is_a_usage_error(self):
        r = self.run_cli("--no-cache", "--cache-dir", self.tmp, "artist", "Quillfeather", proxy=False)
        self.assertEqual(r.returncode, 2)
        self.assertOneErrorLine(r, "--no-cache", "--cache-dir")


class ProxyReportTest(CliTestCase):
    def test_verbose_names_the_proxy_and_where_it_came_from(self):
        env_proxy = "http://" + self.server.proxy
        r = self.run_cli("-v", "artist", "Quillfeather", proxy=False, env={"http_proxy": env_proxy})
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("versewell: proxy: %s (from the environment: http_proxy)\n" % env_proxy, r.stderr.decode())
        r = self.run_cli("-v", "artist", "Quillfeather", env={"http_proxy": "http://127.0.0.1:9"})
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("versewell: proxy: %s (from --proxy)\n" % self.server.proxy, r.stderr.decode())
        r = self.run_cli("-v", "--proxy", "127.0.0.1:%d" % refusing_port(self), "artist", "Quillfeather", proxy=False,
                         env={"no_proxy": "*"})
        self.assertIn("(from --proxy)", r.stderr.decode())

    def test_help_documents_the_environment_proxy(self):
        text = self.run_cli("--help", proxy=False).stdout.decode()
        self.assertIn("http_proxy", text)
        self.assertIn("no_proxy", text)


class GeneratedDocumentsTest(CliTestCase):
    def help_options(self):
        found = set()
        commands = [[]] + [[c] for c in ["artist", "songs", "lyrics", "log", "cache", "completion", "fetch-all"]]
        for command in commands:
            text = self.run_cli(*command, "--help", proxy=False).stdout.decode()
            found.update(re.findall(r"(?<![\w-])(--[a-z][a-z-]*|-[a-zA-Z])(?=[ ,\n])", text.split("Examples:")[0]))
        return found

    def test_every_help_option_is_in_the_man_page(self):
        built = os.path.join(os.path.dirname(ARGS.cli), "versewell.1")
        self.assertTrue(os.path.exists(built), "the build writes versewell.1 beside the program")
        with open(built, encoding="utf-8") as f:
            man = f.read().replace("\\-", "-")
        self.assertEqual(man, self.run_cli("--man-page", proxy=False).stdout.decode().replace("\\-", "-"))
        options = self.help_options()
        self.assertTrue({"--proxy", "--template", "--out", "-q", "--no-progress", "--log-dir"} <= options, options)
        for option in options:
            self.assertIn("\\fB%s\\fR" % option, man)
        if shutil.which("man"):
            r = subprocess.run(["man", "-l", built], capture_output=True, env=clean_env({"MANPAGER": "cat",
                                                                                       "PAGER": "cat"}))
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn(b"fetch-all", r.stdout.replace(b"\xe2\x80\x90", b"-"))

    def complete(self, script, *words):
        line = " ".join(words)
        program = script + "\nCOMP_WORDS=(%s); COMP_CWORD=%d; _versewell; printf '%%s\\n' \"${COMPREPLY[@]}\"\n" % (
            line, len(words) - 1)
        r = subprocess.run(["bash", "--norc", "-c", program], capture_output=True, text=True, timeout=30)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout.split()

    def test_bash_completion_offers_commands_options_and_choices(self):
        r = self.run_cli("completion", "bash", proxy=False)
        self.assertEqual(r.returncode, 0, r.stderr)
        script = r.stdout.decode()
        self.assertEqual(subprocess.run(["bash", "-n"], input=script.encode()).returncode, 0)
        self.assertIn("fetch-all", self.complete(script, "versewell", "fe"))
        self.assertEqual(self.complete(script, "versewell", "fetch-all", "--te"), ["--template"])
        self.assertEqual(sorted(self.complete(script, "versewell", "cache", "")),
                         sorted(self.complete(script, "versewell", "cache", "-")) + ["clear", "path"])
        self.assertEqual(self.complete(script, "versewell", "completion", "z"), ["zsh"])
        self.assertIn("--no-progress", self.complete(script, "versewell", "fetch-all", "--no-p"))
        for shell, check in [("zsh", ["zsh", "-n"]), ("fish", ["fish", "--no-execute"])]:
            r = self.run_cli("completion", shell, proxy=False)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn(b"--template" if shell == "zsh" else b"-l template", r.stdout)
            if shutil.which(check[0]):
                self.assertEqual(subprocess.run(check, input=r.stdout).returncode, 0, shell)
        r = self.run_cli("completion", "tcsh", proxy=False)
        self.assertEqual(r.returncode, 2)
        self.assertOneErrorLine(r, "tcsh")


class WikiServerProgramTest(unittest.TestCase):
    def test_help_and_errors_that_name_the_path(self):
        r = subprocess.run([ARGS.wiki, "--help"], capture_output=True, text=True, timeout=30)
        self.assertEqual(r.returncode, 0)
        self.assertIn("--root DIR", r.stdout)
        missing = "/nonexistent/versewell-wiki-root"
        r = subprocess.run([ARGS.wiki, "--root", missing], capture_output=True, text=True, timeout=30)
        self.assertEqual(r.returncode, 2)
        self.assertIn("versewell-wiki: --root %s: No such file or directory" % missing, r.stderr)
        r = subprocess.run([ARGS.wiki, "--port", "http"], capture_output=True, text=True, timeout=30)
        self.assertEqual(r.returncode, 2)
        self.assertIn('"http"', r.stderr)

    def test_without_root_it_serves_the_sample(self):
        p = wiki_support.start_server([ARGS.wiki, "--port", "0"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                      text=True, env=clean_env({}))
        try:
            line = p.stdout.readline().strip()
            self.assertTrue(line.startswith("listening on 127.0.0.1:"), line)
            with tempfile.TemporaryDirectory() as home:
                r = subprocess.run([ARGS.cli, "--plugin", ARGS.plugin, "--no-cache", "--proxy",
                                    line[len("listening on "):], "artist", "Quillfeather"],
                                   capture_output=True, timeout=120, env=clean_env({"HOME": home}))
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(r.stdout.decode(), SITE + "/wiki/Quillfeather\n")
        finally:
            self.assertEqual(wiki_support.stop_server(p), 0)


def main():
    global ARGS
    ARGS, rest = wiki_support.parse_script_arguments()
    wiki_support.run_tests(rest)


if __name__ == "__main__":
    main()
