#!/usr/bin/env python3
"""End-to-end test of stopping the versewell program during a stuck download.

versewell-wiki plays a server that accepts the request and never answers;
once its request log shows that the download has reached it, the test sends
SIGTERM (or SIGINT) to versewell, which must exit with 130 long before the
transport's 30 s receive time-out could have ended the wait. With standard
error on a terminal the program says "stopping…" first.

usage: cli_stop_test.py --cli PATH --wiki PATH --sample DIR [--plugin PATH] [unittest args]
"""
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wiki_support import WikiServer, clean_env, parse_script_arguments, run_tests  # noqa: E402

ARGS = None
STUCK_URL = "lyrics.wiki.example/_test/hang?ms=60000"
# Far below the 30 s the transport would wait for a response head, far above
# the moment a stop takes: an exit within it was caused by the signal.
WELL_BEFORE_ANY_TIME_OUT = 10


class StuckDownloadTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="versewell-cli-stop-")
        self.wiki = WikiServer(ARGS.wiki, ARGS.sample, log=True)
        self.proxy = self.wiki.proxy

    def tearDown(self):
        self.wiki.stop()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def start_cli(self, stderr):
        cmd = [ARGS.cli, "--proxy", self.proxy, "--no-cache", "lyrics", STUCK_URL]
        if ARGS.plugin:
            cmd[1:1] = ["--plugin", ARGS.plugin]
        env = clean_env({"HOME": self.tmp, "XDG_CACHE_HOME": os.path.join(self.tmp, "cache")})
        return subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=stderr, env=env)

    def wait_until_the_server_holds_the_request(self, cli):
        """Reads the wiki's request log until the stuck request shows up."""
        seen = b""
        deadline = time.monotonic() + 60
        while b"/_test/hang" not in seen:
            self.assertIsNone(cli.poll(), "versewell ended before its download reached the server")
            left = deadline - time.monotonic()
            self.assertGreater(left, 0, "the download never reached the server: %r" % seen)
            ready, _, _ = select.select([self.wiki.log], [], [], min(left, 0.5))
            if ready:
                chunk = os.read(self.wiki.log.fileno(), 4096)
                self.assertTrue(chunk, "the wiki server closed its log")
                seen += chunk

    def test_sigterm_during_a_stuck_download_exits_130_at_once(self):
        cli = self.start_cli(subprocess.PIPE)
        try:
            self.wait_until_the_server_holds_the_request(cli)
            signalled = time.monotonic()
            cli.send_signal(signal.SIGTERM)
            stdout, stderr = cli.communicate(timeout=WELL_BEFORE_ANY_TIME_OUT)
            took = time.monotonic() - signalled
        finally:
            if cli.poll() is None:
                cli.kill()
                cli.communicate()
        self.assertEqual(cli.returncode, 130, stderr)
        self.assertEqual(stdout, b"")
        self.assertIn(b"versewell: interrupted\n", stderr)
        self.assertNotIn("stopping".encode(), stderr)  # not a terminal: no "stopping…"
        print("SIGTERM to exit: %.3f s" % took, file=sys.stderr)

    def test_ctrl_c_on_a_terminal_says_stopping_and_exits_130(self):
        master, slave = pty.openpty()
        try:
            cli = self.start_cli(slave)
            os.close(slave)
            slave = -1
            try:
                self.wait_until_the_server_holds_the_request(cli)
                cli.send_signal(signal.SIGINT)
                cli.wait(timeout=WELL_BEFORE_ANY_TIME_OUT)
            finally:
                if cli.poll() is None:
                    cli.kill()
                    cli.wait()
                cli.stdout.close()
            said = b""
            while True:
                ready, _, _ = select.select([master], [], [], 1)
                if not ready:
                    break
                try:
                    chunk = os.read(master, 4096)
                except OSError:  # EIO: the terminal's last writer has gone
                    break
                if not chunk:
                    break
                said += chunk
        finally:
            os.close(master)
            if slave >= 0:
                os.close(slave)
        self.assertEqual(cli.returncode, 130, said)
        self.assertIn("stopping\u2026".encode(), said)
        self.assertIn(b"versewell: interrupted", said)
        self.assertLess(said.index("stopping\u2026".encode()), said.index(b"versewell: interrupted"))


def main():
    global ARGS
    ARGS, rest = parse_script_arguments()
    run_tests(rest)


if __name__ == "__main__":
    main()
