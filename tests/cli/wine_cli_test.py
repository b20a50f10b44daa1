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

EXCLUDED = {
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
