#!/usr/bin/env python3
"""The shared end-to-end tests (cli_test.py) against versewell.exe under Wine.

--cli names a wrapper that starts versewell.exe under wine64. Every test of
cli_test.py runs unchanged except those in EXCLUDED, which cannot hold under
Wine for the platform reason given beside each; the list is printed at the
end of the run so it stays visible.

usage: wine_cli_test.py --cli WRAPPER --wiki PATH --sample DIR --plugin DLL
"""
import argparse
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cli_test  # noqa: E402

SEPARATOR = ("the Windows program joins paths with its own separator '\\' (\"out\\Quillfeather/...\") "
             "and the plug-in reports full Windows paths (\"Z:\\tmp\\...\"); the test compares Linux path text")
TERMINAL = ("the test gives the program a pty as its terminal; a Windows program sees a console only through "
            "the console API, and under Wine a pty is no console, so no progress line is drawn")
CACHE = ("the default cache folder is %LOCALAPPDATA%\\versewell on Windows, not $XDG_CACHE_HOME or "
         "~/.cache; Wine sets LOCALAPPDATA from its prefix")
EXCLUDED = {
    "FetchAllTest.test_fetch_then_skip_then_force": SEPARATOR,
    "LogOptionsTest.test_a_failed_merge_is_reported_and_keeps_the_trace_file": SEPARATOR,
    "LogOptionsTest.test_a_parent_log_that_is_not_utf16_is_reported_before_merging": SEPARATOR,
    "FetchAllTest.test_a_write_error_stops_the_run_and_names_the_destination":
        "the write error is made with RLIMIT_FSIZE and SIGXFSZ, which Windows has no counterpart of",
    "LyricsTest.test_ctrl_c_ends_a_back_off_and_removes_the_private_trace_folder":
        "POSIX SIGINT and TMPDIR: Windows takes its temporary folder from TMP/TEMP (GetTempPathW, set by "
        "Wine's prefix) and Ctrl-C arrives as a console control event, which a signal to the Wine process "
        "is not",
    "CacheCommandsTest.test_cache_path_follows_xdg_home_and_the_option": CACHE,
    "CacheCommandsTest.test_cache_clear_deletes_the_cache": CACHE,
    "SetupTest.test_default_cache_and_no_cache": CACHE,
    "SetupTest.test_version_anywhere_and_without_a_plugin":
        "the plug-in file is versewell.dll on Windows; the test expects the name libversewell",
    "GeneratedDocumentsTest.test_every_help_option_is_in_the_man_page":
        "the man page is written by running the program at build time, which a cross build does not do",
    "TerminalTest.test_dumb_terminal_gets_no_escape_sequences": TERMINAL,
    "TerminalTest.test_no_progress_and_quiet_draw_nothing": TERMINAL,
    "TerminalTest.test_wide_titles_fit_the_terminal": TERMINAL,
}


def flatten(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from flatten(item)
        else:
            yield item


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--wiki", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--plugin", default="")
    cli_test.ARGS, rest = parser.parse_known_args()
    loader = unittest.defaultTestLoader
    tests = list(flatten(loader.loadTestsFromModule(cli_test)))
    if rest:
        tests = [t for t in tests if any(pattern in t.id() for pattern in rest)]
    known = {t.id().split(".", 1)[1] for t in tests}
    stale = [name for name in EXCLUDED if name not in known and not rest]
    if stale:
        print("excluded tests that do not exist: %s" % ", ".join(stale), file=sys.stderr)
        return 1
    suite = unittest.TestSuite(t for t in tests if t.id().split(".", 1)[1] not in EXCLUDED)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    print("\nleft out under Wine (%d):" % len(EXCLUDED))
    for name, reason in sorted(EXCLUDED.items()):
        print("  %s: %s" % (name, reason))
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
