#!/usr/bin/env python3
"""versewell.dll as a host built in Microsoft's C++ ABI sees it.

Runs msabi_host.exe (tests/msabi_host, built by clang for
x86_64-pc-windows-msvc or i686-pc-windows-msvc) under Wine (wine64, or the
32-bit loader under qemu-i386) against the loopback wiki, and the Linux
CLI against the same pages, then compares: the artist addresses, the song
lists field by field, the lyrics of every listed song, a downloaded page
(with the page file itself), the properties of a fresh object, the trace
lines of every bad-input case, and the host's final heap and string-manager
ledger.

The wiki is tests/wiki plus an artist made here, "Longfield Choir", whose
song list has fields longer than 2,047 characters (the host's library
allocates those on its 4096-byte rule) and a title short enough for the
string's own buffer.

usage: msabi_host_test.py --host EXE --dll DLL --wine RUNNER --wiki SERVER
                          --cli NATIVE_CLI --plugin NATIVE_PLUGIN [unittest args]
RUNNER starts a Windows program (cmake/wine-run.sh; WINEPREFIX from the
environment).
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "cli"))
from wiki_support import WikiServer, clean_env  # noqa: E402

ARGS = None
LONG_ARTIST = "Longfield Choir"
ARTISTS = ["Quillfeather", LONG_ARTIST]
MISSING = "Nobody Of This Name"
DOWNLOAD = "/wiki/Quillfeather:Salt_Road"
STALL = "/_test/hang?ms=30000"
BOUNDARY_CASES = ["null_set", "null_get", "locked_small", "allocate_null", "allocate_null_property"]


def long_text(n, seed):
    words = ["tide", "lantern", "harbour", "gull", "rope", "salt", "anchor", "mist"]
    out = []
    i = seed
    while len(" ".join(out)) < n:
        out.append(words[i % len(words)])
        i += 3
    return " ".join(out)[:n].rstrip()


def make_wiki(root):
    """tests/wiki plus the long-field artist, in `root`."""
    shutil.copytree(os.path.join(ROOT, "tests", "wiki"), root)
    title = long_text(2300, 1)
    link = "/wiki/Longfield_Choir:" + long_text(2200, 2).replace(" ", "_")
    with open(os.path.join(root, "categories", "Artists_L.tsv"), "w", encoding="utf-8") as f:
        f.write("/wiki/Longfield_Choir\tLongfield Choir\tLongfield Choir\n")
    entries = [
        ('/wiki/Longfield_Choir:Low_Light', "Longfield Choir:Low Light", "Low Light lyrics"),
        (link, "Longfield Choir:Long", title + " lyrics"),
        ('/wiki/Longfield_Choir:Hi', "Longfield Choir:Hi", "Hi lyrics"),
    ]
    songs = "\n".join('<li> <b><a href="%s" title="%s">%s</a></b></li>' % e for e in entries)
    page = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Longfield Choir</title></head>\n"
            "<body>\n<h1 class=\"firstHeading\">Longfield Choir</h1>\n<ol>\n%s\n</ol>\n</body></html>\n" % songs)
    with open(os.path.join(root, "wiki", "Longfield_Choir.html"), "w", encoding="utf-8") as f:
        f.write(page)
    lyrics = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"></head><body>\n"
              "<div class='lyricbox'><div class='rtMatcher'></div>Low light on the water,<br />\n"
              "long field of the sea &amp; the sky.<br />\n<!-- end --></div>\n</body></html>\n")
    with open(os.path.join(root, "wiki", "Longfield_Choir:Low_Light.html"), "w", encoding="utf-8") as f:
        f.write(lyrics)


def unescape(field):
    out = []
    i = 0
    while i < len(field):
        c = field[i]
        if c == "\\" and i + 1 < len(field):
            out.append({"\\": "\\", "t": "\t", "r": "\r", "n": "\n"}[field[i + 1]])
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class MsAbiHostTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="versewell-msabi-")
        cls.wiki_root = os.path.join(cls.tmp, "wiki")
        make_wiki(cls.wiki_root)
        cls.server = WikiServer(ARGS.wiki, cls.wiki_root)
        try:
            cls.expected = cls.linux_results()
            cls.records, cls.host = cls.run_host("work")
            cls.throw_records, cls.throw_host = cls.run_host("work-throw", {"VWHOST_MODE": "throw",
                                                                            "VWHOST_ARTISTS": ARTISTS[0]})
        finally:
            cls.server.stop()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def cli(cls, *args):
        cache = os.path.join(cls.tmp, "cli-cache")
        r = subprocess.run([ARGS.cli, "--plugin", ARGS.plugin, "--cache-dir", cache, "--proxy", cls.server.proxy,
                            "--json"] + list(args), capture_output=True, timeout=120, env=clean_env())
        return r.returncode, (json.loads(r.stdout) if r.returncode == 0 else None)

    @classmethod
    def linux_results(cls):
        expected = {"urls": {}, "songs": {}, "lyrics": {}}
        for artist in ARTISTS + [MISSING]:
            code, out = cls.cli("artist", artist)
            expected["urls"][artist] = out["url"] if code == 0 else None
            code, out = cls.cli("songs", artist)
            expected["songs"][artist] = [(s["title"], s["url"]) for s in out["songs"]] if code == 0 else None
            for _, url in expected["songs"][artist] or []:
                code, out = cls.cli("lyrics", url)
                expected["lyrics"][url] = out["lyrics"] if code == 0 else None
        return expected

    @classmethod
    def run_host(cls, folder, extra=None):
        work = os.path.join(cls.tmp, folder)
        os.mkdir(work)
        env = clean_env({
            "VWHOST_DLL": windows_path(ARGS.dll), "VWHOST_PROXY": cls.server.proxy, "VWHOST_WORK": windows_path(work),
            "VWHOST_ARTISTS": "|".join(ARTISTS), "VWHOST_MISSING": MISSING, "VWHOST_DOWNLOAD": DOWNLOAD,
            "VWHOST_STALL": STALL})
        env.update(extra or {})
        r = subprocess.run([ARGS.wine, ARGS.host], capture_output=True, timeout=600, env=env)
        text = r.stdout.decode("utf-8")
        records = [[unescape(f) for f in line.split("\t")] for line in text.split("\n") if line]
        return records, r

    def of(self, kind, records=None):
        return [r[1:] for r in (self.records if records is None else records) if r[0] == kind]

    def assert_host_passed(self, records, host):
        fatal = self.of("fatal", records)
        failed = [c for c in self.of("check", records) if c[1] != "ok"]
        tail = "\n".join("\t".join(f[:120] for f in r) for r in records[-12:])
        self.assertEqual([], fatal, tail + "\n" + host.stderr.decode("utf-8", "replace")[-2000:])
        self.assertEqual([], failed)
        self.assertEqual(0, host.returncode)

    def test_host_ran_and_every_check_of_its_own_passed(self):
        self.assert_host_passed(self.records, self.host)
        self.assertGreater(len(self.of("check")), 40)

    def test_fresh_object_properties(self):
        fresh = {r[0]: (r[1], r[2]) for r in self.of("fresh")}
        self.assertEqual(("1", "Versewell"), fresh["SourceName"])
        self.assertEqual("1", fresh["SourceId"][0])
        self.assertRegex(fresh["SourceId"][1], "^[0-9a-fA-F]{32}$")
        for name in ["StatisticDownloadCounter", "StatisticSuccessfulDownloads", "StatisticTotalDownloadTime",
                     "SupportedSearch", "AlbumsItearationConstant", "TitlesItearationConstant"]:
            self.assertEqual(("1", "0"), fresh[name], name)

    def test_artist_addresses_are_the_linux_ones(self):
        urls = {r[0]: r for r in self.of("artist_url")}
        for artist in ARTISTS + [MISSING]:
            want = self.expected["urls"][artist]
            self.assertEqual(("1", want) if want else ("0", ""), (urls[artist][1], urls[artist][2]), artist)

    def test_song_lists_are_the_linux_ones_field_by_field(self):
        source_id = {r[0]: r[2] for r in self.of("fresh")}["SourceId"]
        counts = {r[0]: (int(r[1]), int(r[2])) for r in self.of("songs")}
        for artist in ARTISTS:
            want = self.expected["songs"][artist]
            got = [r for r in self.of("song") if r[0] == artist]
            self.assertEqual((len(want), len(want)), counts[artist], artist)
            self.assertEqual(want, [(r[2], r[3]) for r in got], artist)
            for r in got:
                self.assertEqual([artist, "", "", "Versewell", source_id, "0"], r[4:10], artist)
        self.assertEqual((0, 2), counts[MISSING], "a failed search leaves the host's list alone")
        long_fields = [r for r in self.of("song") if len(r[2]) > 2047 and len(r[3]) > 2047]
        self.assertEqual(1, len(long_fields))
        self.assertIn("Hi", [r[2] for r in self.of("song")])

    def test_lyrics_of_every_song_are_the_linux_ones(self):
        got = {r[0]: r for r in self.of("lyrics")}
        self.assertEqual(set(self.expected["lyrics"]), set(got))
        for url, want in self.expected["lyrics"].items():
            self.assertEqual(("1", want) if want is not None else ("0", ""), (got[url][1], got[url][2]), url)
        self.assertTrue(any(v for v in self.expected["lyrics"].values()))

    def test_download_gives_the_page_and_counts_it(self):
        (download,) = self.of("download")
        name = DOWNLOAD[len("/wiki/"):] + ".html"
        with open(os.path.join(self.wiki_root, "wiki", name), encoding="utf-8") as f:
            page = f.read()
        self.assertEqual([DOWNLOAD, "1", page], download)
        stats = {r[0]: (r[1], int(r[2])) for r in self.of("stat")}
        self.assertEqual("1", stats["StatisticDownloadCounter"][0])
        self.assertGreaterEqual(stats["StatisticDownloadCounter"][1], stats["StatisticSuccessfulDownloads"][1])
        self.assertGreater(stats["StatisticSuccessfulDownloads"][1], 5)

    def test_close_and_merge_log_filled_the_host_log(self):
        with open(os.path.join(self.tmp, "work", "parent.log"), "rb") as f:
            parent = f.read()
        self.assertTrue(parent.startswith(b"\xff\xfe"))
        # The refused setting of the configuration, at level 20.
        self.assertIn("CCommonDllInterface::Set Property SourceName:  - Can not be set.", parent.decode("utf-16"))

    def test_bad_input_fails_with_one_trace_line_each(self):
        lines = {r[0]: int(r[1]) for r in self.of("trace_lines")}
        base = lines["calibrate"] - 1  # the lines an opened log holds without a failure
        self.assertGreaterEqual(base, 0, lines)
        for case in BOUNDARY_CASES:
            self.assertEqual(base + 1, lines[case], self.case_log(case))
        self.assertGreaterEqual(lines["nil_input"], base + 1, self.case_log("nil_input"))

    # The exception a host's callback raises (a C++ throw of Microsoft's
    # runtime is the SEH exception 0xE06D7363) ends at the plug-in's guard
    # around the call: the host's own cleanup below the callback runs (the
    # host checks that), the search fails with one trace line that names the
    # exception, and the object goes on working.
    def test_a_throwing_callback_fails_the_search_with_one_trace_line(self):
        self.assert_host_passed(self.throw_records, self.throw_host)
        base = {r[0]: int(r[1]) for r in self.of("trace_lines")}["calibrate"] - 1
        lines = {r[0]: int(r[1]) for r in self.of("trace_lines", self.throw_records)}
        log = self.case_log("callback_throws", "work-throw")
        self.assertEqual(base + 1, lines["callback_throws"], log)
        self.assertIn("FindArtistUrl(): stopped by an exception: the host's GetHostValue raised exception 0xE06D7363",
                      log)
        self.assert_ledger_balanced(self.of("count", self.throw_records), "throwing run")

    def case_log(self, case, folder="work"):
        """What the trace log of one bad-input case holds (merged into the
        default parent log in the case's folder)."""
        folder = os.path.join(self.tmp, folder, "case-" + case)
        text = [case + ":"]
        for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
            with open(os.path.join(folder, name), "rb") as f:
                text.append(f.read().decode("utf-16", "replace"))
        return "\n".join(text)

    def assert_ledger_balanced(self, records, run):
        """The host's final counts of one run: nothing freed twice or
        foreign, nothing left, every block handed over freed once."""
        counts = {r[0]: int(r[1]) for r in records}
        print("\nhost ledger (%s): " % run + ", ".join("%s=%d" % kv for kv in counts.items()), file=sys.stderr)
        for zero in ["double_frees", "foreign_frees", "bad_handed_blocks", "bad_handed_strings", "bad_list_links",
                     "host_blocks_live", "host_strings_live", "host_string_bad_frees",
                     "plugin_blocks_live_after_unload"]:
            self.assertEqual(0, counts[zero], "%s: %s" % (run, zero))
        self.assertEqual(counts["plugin_blocks_handed_to_host"], counts["plugin_blocks_freed_by_host"], run)
        self.assertEqual(counts["host_blocks_handed_to_plugin"], counts["host_blocks_freed_by_plugin"], run)
        self.assertEqual(counts["host_string_frees"], counts["host_string_allocs"] - counts["host_string_reallocs"], run)
        return counts

    def test_every_block_crossed_once(self):
        stall = self.of("stall_ms")
        if stall:
            print("\nstopped stalled download after %s ms" % stall[0][0], file=sys.stderr)
        counts = self.assert_ledger_balanced(self.of("count"), "full run")
        self.assertGreater(counts["plugin_blocks_handed_to_host"], 0)
        self.assertGreaterEqual(counts["plugin_big_blocks_handed_to_host"], 2)
        self.assertGreater(counts["host_blocks_handed_to_plugin"], 0)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ["--host", "--dll", "--wine", "--wiki", "--cli", "--plugin"]:
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
