#!/usr/bin/env python3
"""The shared end-to-end tests (cli_test.py, real_world_test.py) against
versewell.exe under Wine.

--cli names a wrapper that starts versewell.exe under wine64. Every test of
cli_test.py runs unchanged except those in EXCLUDED, which cannot hold under
Wine for the platform reason given beside each; the list is printed at the
end of the run so it stays visible.

ConsoleTest adds what only the Windows program has: its console path. Wine
gives a program whose standard handles are a Unix terminal a console (its
headless console host, which draws on that terminal), so a pseudo-terminal
makes the program write through WriteConsoleW; and Wine turns a SIGINT to
the process into CTRL_C_EVENT for the handlers SetConsoleCtrlHandler
installed, which is the console's Ctrl-C.

usage: wine_cli_test.py --cli WRAPPER --wiki PATH --sample DIR --plugin DLL
"""
import argparse
import fcntl
import glob
import os
import pty
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import termios
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cli_test  # noqa: E402
import real_world_test  # noqa: E402

ARGS = None

# What Wine's console host adds around the program's text on the terminal:
# control sequences (cursor shown and hidden around every write, erase and
# move) and CR LF for each line feed.
CONSOLE_HOST_SEQUENCE = re.compile(r"\x1b\[[0-9;?]*[A-Za-z]")

SEPARATOR = ("the Windows program joins paths with its own separator '\\' (\"out\\Quillfeather/...\") "
             "and the plug-in reports full Windows paths (\"Z:\\tmp\\...\"); the test compares Linux path text")
TERMINAL = ("under Wine the pty becomes the program's console and the progress line is drawn, but Wine's "
            "console host frames every write with its own sequences (cursor hidden and shown, ESC[?25l ... "
            "ESC[?25h, and ESC[K / ESC[nC when it redraws) whatever TERM says, so the terminal never holds only "
            "what the program wrote; the escape-free and width checks read those as the program's")
CACHE = ("the test checks the default cache folder itself, which is %LOCALAPPDATA%\\versewell on Windows, not "
         "under $XDG_CACHE_HOME or ~/.cache; Wine sets LOCALAPPDATA from its prefix's registry over the "
         "environment it is given, so a test cannot move it (the other tests name their own cache with --cache-dir)")
NO_TAGS = "versewell.exe has no audio tag reader: library is refused on Windows"
APPDATA = ("the config file is %APPDATA%\\versewell\\config on Windows, not under $XDG_CONFIG_HOME; Wine sets "
           "APPDATA from its prefix's registry over the environment it is given, so a test cannot give the "
           "program a config file of its own")
EXCLUDED = {
    "SmallThingsTest.test_batch_on_a_terminal_says_what_it_waits_for":
        "under Wine the pty is the program's console, and Ctrl-D there is no end of input for ReadFile "
        "(Windows ends console input with Ctrl-Z and Enter, which Wine's console host on a pty does not turn "
        "into one either), so the batch never ends",
    "RerunTest.test_a_rerun_of_the_sample_library_downloads_nothing": NO_TAGS,
    "RerunTest.test_an_lrc_beside_a_song_is_its_lyrics": NO_TAGS,
    "RerunTest.test_a_single_file_is_a_library_of_one": NO_TAGS,
    "RerunTest.test_an_unreadable_audio_file_is_a_failure": NO_TAGS,
    "JsonEverywhereTest.test_library_jsonl_alone_writes_no_file": NO_TAGS,
    "DryRunTest.test_library_dry_run_then_real_run": NO_TAGS,
    "ConfigTest.test_the_file_sets_the_proxy_and_the_command_line_wins": APPDATA,
    "ConfigTest.test_a_malformed_file_names_the_line": APPDATA,
    "ConfigTest.test_the_out_folder_from_the_file_serves_batch": APPDATA,
    "FetchAllTest.test_fetch_then_skip_then_force": SEPARATOR,
    "LogOptionsTest.test_a_failed_merge_is_reported_and_keeps_the_trace_file": SEPARATOR,
    "LogOptionsTest.test_a_parent_log_that_is_not_utf16_is_reported_before_merging": SEPARATOR,
    "FetchAllTest.test_a_write_error_stops_the_run_and_names_the_destination":
        "the write error is made with RLIMIT_FSIZE and SIGXFSZ, which Windows has no counterpart of",
    "LyricsTest.test_ctrl_c_ends_a_back_off_and_removes_the_private_trace_folder":
        "the test finds the private trace folder through TMPDIR; Windows takes its temporary folder from "
        "GetTempPathW, and Wine sets TMP and TEMP from its prefix's registry over the environment it is "
        "given, so the folder is not where the test looks (the Ctrl-C itself works under Wine: "
        "ConsoleTest.test_ctrl_c_during_a_stuck_download_exits_130)",
    "CacheCommandsTest.test_cache_path_follows_xdg_home_and_the_option": CACHE,
    "CacheCommandsTest.test_cache_clear_deletes_the_cache": CACHE,
    "SetupTest.test_default_cache_and_no_cache": CACHE,
    "SetupTest.test_version_anywhere_and_without_a_plugin":
        "the plug-in file is versewell.dll on Windows; the test expects the name libversewell",
    "GeneratedDocumentsTest.test_every_help_option_is_in_the_man_page":
        "the man page is written by running the program at build time, which a cross build does not do",
    "TerminalTest.test_dumb_terminal_gets_no_escape_sequences": TERMINAL,
    "TerminalTest.test_wide_titles_fit_the_terminal": TERMINAL,
}


class ConsoleTest(cli_test.CliTestCase):
    def start_on_console(self, *args, proxy=None):
        """Starts versewell.exe with a pseudo-terminal as all three standard
        handles, 200 columns wide so no line wraps."""
        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 200, 0, 0))
        cmd = [ARGS.cli, "--plugin", ARGS.plugin, "--proxy", (proxy or self.server).proxy] + list(args)
        p = subprocess.Popen(cmd, stdin=slave, stdout=slave, stderr=slave,
                             env=cli_test.clean_env({"HOME": self.home, "XDG_CACHE_HOME": self.xdg}))
        os.close(slave)
        self.addCleanup(os.close, master)
        return p, master

    @staticmethod
    def read_console(p, master, deadline):
        seen = b""
        while time.monotonic() < deadline:
            ready, _, _ = select.select([master], [], [], 0.5)
            if ready:
                try:
                    chunk = os.read(master, 4096)
                except OSError:  # EIO: every writer of the terminal has gone
                    break
                if not chunk:
                    break
                seen += chunk
            elif p.poll() is not None:
                break
        return seen

    @staticmethod
    def text_of(seen):
        text = CONSOLE_HOST_SEQUENCE.sub("", seen.decode("utf-8"))
        return text.replace("\r\r\n", "\n").replace("\r\n", "\n")

    def test_non_ascii_lyrics_reach_the_console_whole(self):
        p, master = self.start_on_console("lyrics", "Claire Fontaine Ensemble", "à la claire fontaine")
        seen = self.read_console(p, master, time.monotonic() + 120)
        self.assertEqual(p.wait(timeout=60), 0, seen)
        # Bytes written to a console handle as they are would be read in the
        # console's OEM code page, and "À" would come out as two other
        # characters; through WriteConsoleW the text arrives whole.
        self.assertIn(cli_test.expected_lyrics("À la claire fontaine"), self.text_of(seen))

    def test_ctrl_c_during_a_stuck_download_exits_130(self):
        # The console's Ctrl-C reaches the handler, which asks the plug-in to
        # stop; the transport sees that within its next wait slice.
        wiki = cli_test.WikiServer(ARGS.sample, log=True)
        try:
            p, master = self.start_on_console("--no-cache", "lyrics", "lyrics.wiki.example/_test/hang?ms=120000",
                                              proxy=wiki)
            try:
                self.assertTrue(wiki.wait_for_request("/_test/hang"), "the download never reached the server")
                p.send_signal(signal.SIGINT)
                seen = self.read_console(p, master, time.monotonic() + 120)
                code = p.wait(timeout=60)
            finally:
                if p.poll() is None:
                    p.kill()
                    p.wait()
        finally:
            wiki.stop()
        text = self.text_of(seen)
        self.assertEqual(code, 130, text)
        self.assertIn("stopping\u2026", text)
        self.assertIn("versewell: interrupted", text)
        self.assertLess(text.index("stopping\u2026"), text.index("versewell: interrupted"))


def flatten(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from flatten(item)
        else:
            yield item


def clear_default_cache():
    """Empties the default cache (%LOCALAPPDATA%\\versewell) of the build's
    Wine prefix. The tests that name no cache folder share it, and expect a
    run to start without the artists an earlier run of the suite in the same
    build folder cached there."""
    prefix = os.environ.get("WINEPREFIX", "")
    if not prefix:
        return
    for path in glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Local", "versewell")):
        shutil.rmtree(path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--wiki", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--plugin", default="")
    global ARGS
    ARGS, rest = parser.parse_known_args()
    cli_test.ARGS = ARGS
    real_world_test.ARGS = ARGS
    real_world_test.WINDOWS_PROGRAM = True
    loader = unittest.defaultTestLoader
    tests = list(flatten(loader.loadTestsFromModule(cli_test)))
    tests += list(flatten(loader.loadTestsFromModule(real_world_test)))
    tests += list(flatten(loader.loadTestsFromTestCase(ConsoleTest)))
    if rest:
        tests = [t for t in tests if any(pattern in t.id() for pattern in rest)]
    known = {t.id().split(".", 1)[1] for t in tests}
    stale = [name for name in EXCLUDED if name not in known and not rest]
    if stale:
        print("excluded tests that do not exist: %s" % ", ".join(stale), file=sys.stderr)
        return 1
    suite = unittest.TestSuite(t for t in tests if t.id().split(".", 1)[1] not in EXCLUDED)
    clear_default_cache()
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    print("\nleft out under Wine (%d):" % len(EXCLUDED))
    for name, reason in sorted(EXCLUDED.items()):
        print("  %s: %s" % (name, reason))
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
