"""What the end-to-end scripts share: a child environment without proxy
variables and without the user's configuration, and the loopback test wiki
(versewell-wiki) on a free port.

Every script passes the server program it was given (--wiki); nothing here
reads the command line.
"""
import argparse
import atexit
import ctypes
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

PROXY_VARS = ["http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
              "no_proxy", "NO_PROXY", "VERSEWELL_PROXY"]

# An empty configuration folder for every child, so that a user's own
# versewell config never reaches a test (a test that wants one sets
# XDG_CONFIG_HOME itself).
EMPTY_CONFIG_HOME = tempfile.mkdtemp(prefix="versewell-test-config-")
atexit.register(shutil.rmtree, EMPTY_CONFIG_HOME, True)


def clean_env(extra=None):
    """This process's environment without proxy variables and with an empty
    configuration folder, plus `extra`."""
    env = {k: v for k, v in os.environ.items() if k not in PROXY_VARS}
    env["XDG_CONFIG_HOME"] = EMPTY_CONFIG_HOME
    if "ASAN_OPTIONS" in env:
        # LeakSanitizer of GCC 12 misreads glibc 2.36's dynamic TLS blocks of a
        # dlopen()ed library through its __tls_get_addr hook and its tracer
        # then crashes ("Tracer caught signal 11", a "DTLS" range starting
        # near 0x400) depending on the heap layout. Leak checking itself
        # stays on.
        env["ASAN_OPTIONS"] += ":intercept_tls_get_addr=0"
    env.update(extra or {})
    return env


_SERVERS = set()


def _die_with_this_process():
    """In a server child, before exec: the parent-death signal, so that a
    script that is killed (a ctest time-out) takes its servers with it."""
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        pr_set_pdeathsig = 1
        libc.prctl(pr_set_pdeathsig, signal.SIGKILL)
    except (OSError, AttributeError):
        pass


def start_server(cmd, **popen_args):
    """Starts a server program (its own process group) that is stopped at
    the latest when this script exits, however the tests went."""
    process = subprocess.Popen(cmd, start_new_session=True, preexec_fn=_die_with_this_process, **popen_args)
    _SERVERS.add(process)
    return process


def stop_server(process, timeout=30):
    """SIGTERM, then SIGKILL to the whole group when it does not end in time.
    Returns the exit status."""
    try:
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            return process.wait()
    finally:
        _SERVERS.discard(process)
        for stream in (process.stdout, process.stderr):
            if stream is not None:
                stream.close()


@atexit.register
def _stop_every_server():
    for process in list(_SERVERS):
        stop_server(process, timeout=5)


class WikiServer:
    """versewell-wiki serving `root` on 127.0.0.1, port chosen by the system.

    With log=True the server names every request on stderr (self.log),
    which tests read to know that a request has arrived. delay_ms holds back
    every response that long. Raises RuntimeError when the server does not
    say that it listens."""

    PREFIX = "listening on 127.0.0.1:"

    def __init__(self, program, root, log=False, delay_ms=0):
        cmd = [program, "--root", root, "--port", "0"]
        if log:
            cmd.append("--log")
        if delay_ms:
            cmd += ["--delay-ms", str(delay_ms)]
        self.process = start_server(cmd, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE if log else subprocess.DEVNULL, text=True,
                                    env=clean_env())
        self.log = self.process.stderr
        line = self.process.stdout.readline().strip()
        if not line.startswith(self.PREFIX):
            stop_server(self.process, timeout=0)
            raise RuntimeError("wiki server did not start: %r" % line)
        self.port = int(line[len(self.PREFIX):])
        self.proxy = "127.0.0.1:%d" % self.port

    def stop(self):
        """Stops the server; safe to call more than once."""
        return stop_server(self.process)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def wait_for_request(self, fragment, timeout=60):
        """Reads the request log until a request containing `fragment` arrived."""
        deadline = time.monotonic() + timeout
        pending = ""
        fd = self.log.fileno()
        while True:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                return False
            chunk = os.read(fd, 4096).decode("utf-8", "replace")
            if not chunk:
                return False
            pending += chunk
            if fragment in pending:
                return True


def parse_script_arguments(plugin_required=False, extra=()):
    """The arguments every end-to-end script takes: --cli, --wiki, --sample
    and --plugin ("" when not given), plus the required options in `extra`.
    Returns the arguments and what is left for unittest."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--wiki", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--plugin", required=plugin_required, default="")
    for name in extra:
        parser.add_argument(name, required=True)
    return parser.parse_known_args()


def run_tests(rest):
    """Runs the calling script's tests with the arguments unittest was left."""
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
