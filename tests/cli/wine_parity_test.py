#!/usr/bin/env python3
"""The Windows program gives the same answers as the Linux one.

Runs the Linux versewell and versewell.exe (through a wrapper that starts it
under wine64) against one native sample wiki, with the same commands, and
compares standard output byte for byte and the exit code. Covers the plain
text and JSON forms, a UTF-8 title given on the command line (it reaches the
Windows program as UTF-16 through wmain), a close-title match, and the
not-found and usage-error exits.

usage: wine_parity_test.py --linux-cli PATH --linux-plugin PATH
                           --windows-cli PATH --windows-plugin PATH
                           --wiki PATH --sample DIR [unittest args]
"""
import argparse
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wiki_support import WikiServer, clean_env  # noqa: E402

ARGS = None


class ParityTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = WikiServer(ARGS.wiki, ARGS.sample)
        cls.proxy = cls.server.proxy

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

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


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ["--linux-cli", "--linux-plugin", "--windows-cli", "--windows-plugin", "--wiki", "--sample"]:
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
