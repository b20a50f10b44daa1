#!/usr/bin/env python3
"""End-to-end tests of the versewell program and its surroundings: an
installed tree, signals, option ranges, the proxy forms, proxy variables in
the environment and the default cache folders.

Reuses the wiki server and environment helpers of cli_test.py.

usage: cli_env_test.py --cli PATH --wiki PATH --sample DIR --plugin PATH
                       --build-dir DIR --cmake PATH [unittest args]
"""
import json
import os
import signal
import socket
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cli_test  # noqa: E402
import wiki_support  # noqa: E402
from cli_test import SITE, WikiServer, clean_env  # noqa: E402

ARGS = None
QUILLFEATHER = "%s/wiki/Quillfeather\n" % SITE


class LoopbackRelay:
    """Accepts on [::1] and relays every connection to 127.0.0.1:port, so that
    an IPv6 proxy address reaches the wiki server, which listens on IPv4."""

    def __init__(self, port):
        self.target = port
        self.listener = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
        self.listener.bind(("::1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.sockets = []
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            upstream = socket.create_connection(("127.0.0.1", self.target))
            self.sockets += [client, upstream]
            for a, b in ((client, upstream), (upstream, client)):
                threading.Thread(target=self._pump, args=(a, b), daemon=True).start()

    @staticmethod
    def _pump(source, sink):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                sink.sendall(data)
        except OSError:
            pass
        finally:
            try:
                sink.shutdown(socket.SHUT_WR)
            except OSError:
                pass

    def close(self):
        self.listener.close()
        for s in self.sockets:
            s.close()


class EnvTestCase(cli_test.CliTestCase):
    """The shared wiki server and the temporary HOME of cli_test.py."""

    def run_cli(self, *args, cli=None, plugin=True, env=None, drop=(), timeout=120):
        # Unlike the base class: no --proxy of its own, another program, and
        # variables to remove from the environment.
        cmd = [cli or ARGS.cli]
        if plugin:
            cmd += ["--plugin", ARGS.plugin]
        cmd += list(args)
        base = {"HOME": self.home, "XDG_CACHE_HOME": self.xdg}
        base.update(env or {})
        full = clean_env(base)
        for name in drop:
            full.pop(name, None)
        return subprocess.run(cmd, capture_output=True, timeout=timeout, env=full)

    def assertUsageError(self, result, *fragments):
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertEqual(result.stdout, b"")
        lines = result.stderr.decode().splitlines()
        self.assertEqual(len(lines), 1, result.stderr)
        self.assertTrue(lines[0].startswith("versewell: "), lines[0])
        for fragment in fragments:
            self.assertIn(fragment, lines[0])


class InstalledTreeTest(EnvTestCase):
    def test_installed_program_finds_its_plugin_without_the_option(self):
        prefix = os.path.join(self.tmp, "prefix")
        r = subprocess.run([ARGS.cmake, "--install", ARGS.build_dir, "--prefix", prefix], capture_output=True,
                           timeout=300)
        self.assertEqual(r.returncode, 0, r.stderr)
        installed = os.path.join(prefix, "bin", "versewell")
        self.assertTrue(os.path.isfile(os.path.join(prefix, "lib", "libversewell.so")))
        r = self.run_cli("--json", "--version", cli=installed, plugin=False)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(os.path.realpath(json.loads(r.stdout.decode())["plugin"]),
                         os.path.realpath(os.path.join(prefix, "lib", "libversewell.so")))
        r = self.run_cli("--proxy", self.server.proxy, "artist", "Quillfeather", cli=installed, plugin=False)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode(), QUILLFEATHER)


class SignalTest(EnvTestCase):
    def test_sigterm_during_a_download_exits_130(self):
        server = WikiServer(ARGS.sample, log=True)
        try:
            cmd = [ARGS.cli, "--plugin", ARGS.plugin, "--proxy", server.proxy, "lyrics",
                   SITE + "/_test/hang?ms=5000"]
            p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 env=clean_env({"HOME": self.home, "XDG_CACHE_HOME": os.path.join(self.tmp, "x")}))
            # Signal only once the request has reached the server.
            self.assertTrue(server.wait_for_request("/_test/hang"))
            p.send_signal(signal.SIGTERM)
            stdout, stderr = p.communicate(timeout=60)
            self.assertEqual(p.returncode, 130, stderr)
            self.assertEqual(stdout, b"")
            self.assertIn(b"versewell: interrupted\n", stderr)
        finally:
            server.stop()


class MaxDiffTest(EnvTestCase):
    def test_values_that_are_no_finite_non_negative_number_are_usage_errors(self):
        for value in ["inf", "-inf", "infinity", "nan", "NaN", "-1", "-0.5", "1e39", "abc"]:
            for form in (["--max-diff", value], ["--max-diff=" + value]):
                with self.subTest(args=form):
                    r = self.run_cli(*form, "--proxy", self.server.proxy, "artist", "Quillfeather")
                    self.assertUsageError(r, "max-diff")

    def test_finite_values_are_accepted(self):
        r = self.run_cli("--max-diff", "0", "--proxy", self.server.proxy, "artist", "Quillfeather")
        self.assertEqual(r.returncode, 1, r.stderr)  # no distance is below 0
        r = self.run_cli("--max-diff", "250", "--proxy", self.server.proxy, "artist", "Quillfeather")
        self.assertEqual((r.returncode, r.stdout.decode()), (0, QUILLFEATHER), r.stderr)


class ProxyFormTest(EnvTestCase):
    def artist(self, proxy, env=None):
        r = self.run_cli("--proxy", proxy, "artist", "Quillfeather", env=env)
        self.assertEqual(r.returncode, 0, (proxy, r.stderr))
        self.assertEqual(r.stdout.decode(), QUILLFEATHER)

    def test_host_and_port_with_and_without_scheme(self):
        port = self.server.port
        for proxy in ["127.0.0.1:%d" % port, "localhost:%d" % port, "http://127.0.0.1:%d" % port]:
            with self.subTest(proxy=proxy):
                self.artist(proxy)

    def test_bracketed_ipv6_address_and_port(self):
        try:
            relay = LoopbackRelay(self.server.port)
        except OSError as e:
            self.skipTest("no IPv6 loopback: %s" % e)
        self.addCleanup(relay.close)
        self.artist("[::1]:%d" % relay.port)
        self.artist("http://[::1]:%d" % relay.port)

    def test_bare_host_means_port_80(self):
        # Serving port 80 needs the right to bind it; elsewhere the form is
        # only checked for being taken as a host.
        probe = socket.socket()
        try:
            probe.bind(("127.0.0.1", 80))
        except OSError as e:
            probe.close()
            self.skipTest("cannot serve port 80 here: %s" % e)
        probe.close()
        server = wiki_support.start_server([ARGS.wiki, "--root", ARGS.sample, "--port", "80"], stdout=subprocess.PIPE,
                                           stderr=subprocess.DEVNULL, text=True, env=clean_env({}))
        try:
            line = server.stdout.readline().strip()
            if line != "listening on 127.0.0.1:80":
                self.skipTest("the wiki server did not take port 80: %r" % line)
            r = self.run_cli("--proxy", "127.0.0.1", "artist", "Quillfeather")
            if r.returncode == 2 and b"HOST:PORT" in r.stderr:
                self.skipTest("this build's command line still requires HOST:PORT")
            self.assertEqual((r.returncode, r.stdout.decode()), (0, QUILLFEATHER), r.stderr)
        finally:
            wiki_support.stop_server(server)

    def test_no_proxy_in_the_environment_does_not_bypass_the_option(self):
        # Variables that would send the request elsewhere, or straight to the
        # (unresolvable) site, if the option did not win.
        refusing = cli_test.RefusingPort()
        self.addCleanup(refusing.close)
        elsewhere = "http://127.0.0.1:%d" % refusing.port
        env = {"NO_PROXY": "*", "no_proxy": "*", "http_proxy": elsewhere, "HTTP_PROXY": elsewhere,
               "ALL_PROXY": elsewhere, "all_proxy": elsewhere}
        self.artist(self.server.proxy, env=env)
        env = {"NO_PROXY": SITE + ",127.0.0.1,localhost", "no_proxy": SITE + ",127.0.0.1,localhost"}
        self.artist(self.server.proxy, env=env)


class DefaultCacheTest(EnvTestCase):
    # A lookup that reads an index page of other names fills the cache.
    LOOKUP = ("artist", "Sorrel Lane (UK)")

    def lookup(self, env, drop=()):
        r = self.run_cli("--proxy", self.server.proxy, *self.LOOKUP, env=env, drop=drop)
        self.assertEqual(r.returncode, 0, r.stderr)

    @staticmethod
    def has_files(folder):
        return os.path.isdir(folder) and any(files for _, _, files in os.walk(folder))

    def test_under_xdg_cache_home(self):
        xdg = os.path.join(self.tmp, "own-xdg-cache")
        self.lookup({"XDG_CACHE_HOME": xdg})
        self.assertTrue(self.has_files(os.path.join(xdg, "versewell")))
        self.assertFalse(os.path.exists(os.path.join(self.home, ".cache")))

    def test_under_home_without_xdg_cache_home(self):
        self.lookup({}, drop=("XDG_CACHE_HOME",))
        self.assertTrue(self.has_files(os.path.join(self.home, ".cache", "versewell")))

    def test_a_relative_xdg_cache_home_is_ignored(self):
        cwd = os.path.join(self.tmp, "cwd")
        os.makedirs(cwd)
        r = subprocess.run([ARGS.cli, "--plugin", ARGS.plugin, "--proxy", self.server.proxy, *self.LOOKUP],
                           capture_output=True, timeout=120, cwd=cwd,
                           env=clean_env({"HOME": self.home, "XDG_CACHE_HOME": "relative-cache"}))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertFalse(os.path.exists(os.path.join(cwd, "relative-cache")))
        self.assertTrue(self.has_files(os.path.join(self.home, ".cache", "versewell")))


def main():
    global ARGS
    ARGS, rest = wiki_support.parse_script_arguments(plugin_required=True, extra=("--build-dir", "--cmake"))
    for name in ("cli", "wiki", "sample", "plugin", "build_dir"):
        setattr(ARGS, name, os.path.abspath(getattr(ARGS, name)))
    cli_test.ARGS = ARGS  # the shared helpers read their paths from there
    wiki_support.run_tests(rest)


if __name__ == "__main__":
    main()
