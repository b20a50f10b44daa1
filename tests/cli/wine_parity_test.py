#!/usr/bin/env python3
"""The Windows program gives the same answers as the Linux one.

Runs the Linux versewell and versewell.exe (through a wrapper that starts it
under wine64) against one native sample wiki, with the same commands, and
compares standard output byte for byte and the exit code. Covers the plain
text and JSON forms, a UTF-8 title given on the command line (it reaches the
Windows program as UTF-16 through wmain), a close-title match, and the
not-found and usage-error exits.

versewell.exe talks to versewell.dll only through the DLL's Microsoft-ABI
boundary (CStringW, Microsoft's std::list and std::wstring), so every answer
here has crossed it. A second wiki adds an artist whose song list carries
fields longer than 2,047 characters (blocks of 4,096 bytes and more, which
Microsoft's library aligns its own way) and a song page whose lyrics are
longer than that, plus the same list fetched twice into one program run.

usage: wine_parity_test.py --linux-cli PATH --linux-plugin PATH
                           --windows-cli PATH --windows-plugin PATH
                           --wiki PATH --sample DIR [unittest args]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wiki_support import WikiServer, clean_env  # noqa: E402

ARGS = None


class ParityBase(unittest.TestCase):
    proxy = None

    def run_both(self, *args):
        results = []
        for cli, plugin in [(ARGS.linux_cli, ARGS.linux_plugin), (ARGS.windows_cli, ARGS.windows_plugin)]:
            with tempfile.TemporaryDirectory(prefix="versewell-parity-") as cache:
                r = subprocess.run([cli, "--plugin", plugin, "--cache-dir", cache, "--proxy", self.proxy] + list(args),
                                   capture_output=True, timeout=120, env=clean_env())
            results.append(r)
        linux, windows = results
        self.assertEqual(windows.returncode, linux.returncode, (args, linux.stderr, windows.stderr))
        self.assertEqual(windows.stdout, linux.stdout, args)
        return linux, windows

class ParityTest(ParityBase):
    @classmethod
    def setUpClass(cls):
        cls.server = WikiServer(ARGS.wiki, ARGS.sample)
        cls.proxy = cls.server.proxy

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def test_lyrics_text_is_the_same_bytes(self):
        linux, _ = self.run_both("lyrics", "Quillfeather", "Salt Road")
        self.assertEqual(linux.returncode, 0)
        self.assertGreater(len(linux.stdout), 100)

    def test_lyrics_json_and_utf8_arguments(self):
        linux, _ = self.run_both("--json", "lyrics", "Claire Fontaine Ensemble", "à la claire fontaine")
        self.assertEqual(linux.returncode, 0)
        self.assertIn("À".encode("utf-8"), linux.stdout)

    def test_close_title_artist_and_songs(self):
        self.assertEqual(self.run_both("lyrics", "quillfeather", "Lanterns on the Wier")[0].returncode, 0)
        self.assertEqual(self.run_both("--json", "artist", "Quillfeather")[0].returncode, 0)
        self.assertEqual(self.run_both("songs", "Quillfeather")[0].returncode, 0)

    def test_not_found_and_usage_errors(self):
        self.assertEqual(self.run_both("lyrics", "Quillfeather", "zzzzzz")[0].returncode, 1)
        self.assertEqual(self.run_both("--json", "lyrics", "No Such Artist Anywhere", "x")[0].returncode, 1)
        self.assertEqual(self.run_both("--json", "lyrics", "")[0].returncode, 2)


LONG_ARTIST = "Lyrebird Longform"
LONG_TITLE = " ".join(["Longest"] * 400)  # 3,199 characters
LONG_LINK = "/wiki/Lyrebird_Longform:" + "Very_" * 500 + "End"


def make_long_sample(root):
    """A copy of the sample wiki with one artist whose song fields and lyrics
    are long."""
    shutil.copytree(ARGS.sample, root)
    with open(os.path.join(root, "categories", "Artists_L.tsv"), "a", encoding="utf-8") as f:
        f.write("/wiki/Lyrebird_Longform\t%s\t%s\n" % (LONG_ARTIST, LONG_ARTIST))
    songs = [(LONG_LINK, LONG_TITLE), ("/wiki/Lyrebird_Longform:Short", "Short"),
             ("/wiki/Lyrebird_Longform:Long_Verse", "Long Verse")]
    items = "".join('<li> <b><a href="%s" title="Lyrebird Longform:x">%s</a></b></li>\n' % (link, title)
                    for link, title in songs)
    with open(os.path.join(root, "wiki", "Lyrebird_Longform.html"), "w", encoding="utf-8") as f:
        f.write("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%s</title></head>\n<body>\n"
                "<h1>%s</h1>\n<ol>\n%s</ol>\n</body></html>\n" % (LONG_ARTIST, LONG_ARTIST, items))
    verse = "<br />\n".join("Line %d of a verse that goes on and on past the small blocks" % i for i in range(120))
    with open(os.path.join(root, "wiki", "Lyrebird_Longform:Long_Verse.html"), "w", encoding="utf-8") as f:
        f.write("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>x</title></head>\n<body>\n"
                "<div class='lyricbox'><div class='rtMatcher'></div>%s<!-- end -->\n</div>\n</body></html>\n" % verse)


class LongFieldParityTest(ParityBase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="versewell-parity-wiki-")
        make_long_sample(os.path.join(cls.root, "sample"))
        cls.server = WikiServer(ARGS.wiki, os.path.join(cls.root, "sample"))
        cls.proxy = cls.server.proxy

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def test_song_list_with_fields_past_the_large_block_size(self):
        linux, _ = self.run_both("songs", LONG_ARTIST)
        self.assertEqual(linux.returncode, 0, linux.stderr)
        self.assertIn(LONG_TITLE.encode("utf-8"), linux.stdout)
        self.assertIn(LONG_LINK.encode("utf-8"), linux.stdout)
        self.run_both("--json", "songs", LONG_ARTIST)

    def test_lyrics_longer_than_the_large_block_size(self):
        linux, _ = self.run_both("lyrics", LONG_ARTIST, "Long Verse")
        self.assertEqual(linux.returncode, 0, linux.stderr)
        self.assertGreater(len(linux.stdout), 4096)
        self.run_both("lyrics", LONG_ARTIST, LONG_TITLE)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ["--linux-cli", "--linux-plugin", "--windows-cli", "--windows-plugin", "--wiki", "--sample"]:
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
