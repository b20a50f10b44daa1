#!/usr/bin/env python3
"""End-to-end tests of how the program treats the user's files: full disks,
links, owners, files replaced mid-run, concurrent runs, planted names, FIFOs,
hostile song lists, `cache clear`, leftovers of killed runs, long names and
orphaned lyrics files. Real binaries against the loopback sample wiki.

Tests that need root (tmpfs mounts, owners) skip with the reason elsewhere.

usage: filesafe_test.py --cli PATH --wiki PATH --sample DIR [--plugin PATH] [unittest args]
"""
import os
import random
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wiki_support  # noqa: E402
from library_test import id3v2_split, make_audio, silent_wav  # noqa: E402
from wiki_support import clean_env  # noqa: E402

ARGS = None
FIFO_BOUND = 5  # seconds a run may take with a FIFO planted in its way


def own_temporaries(folder):
    return [os.path.join(r, f) for r, _, fs in os.walk(folder) for f in fs if f.startswith(".vw-")]


class FileSafetyCase(unittest.TestCase):
    server = None

    @classmethod
    def setUpClass(cls):
        cls.server = wiki_support.WikiServer(ARGS.wiki, ARGS.sample)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="versewell-filesafe-test-")
        os.chmod(self.tmp, 0o755)
        self.wav = os.path.join(self.tmp, "silence.wav")
        silent_wav(self.wav)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def command(self, *args, proxy=None, cache=False):
        cmd = [ARGS.cli] + (["--plugin", ARGS.plugin] if ARGS.plugin else [])
        cmd += ["--proxy", proxy or self.server.proxy]
        if not cache:
            cmd.append("--no-cache")
        return cmd + list(args)

    def run_cli(self, *args, stdin=None, proxy=None, timeout=120, cache=False, env=None, preexec=None):
        return subprocess.run(self.command(*args, proxy=proxy, cache=cache), input=stdin, capture_output=True,
                              timeout=timeout, env=clean_env(env), preexec_fn=preexec)

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def lyrics_of(self, artist, title):
        r = self.run_cli("lyrics", artist, title)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout


class FullDiskTest(FileSafetyCase):
    """Fault 1: a full disk during --embed must fail the song, not cut the audio."""

    def mount_tmpfs(self, where):
        os.makedirs(where)
        if os.geteuid() != 0:
            self.skipTest("mounting a 2 MB tmpfs needs root")
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", where], capture_output=True)
        if r.returncode != 0:
            self.skipTest("cannot mount tmpfs: %s" % r.stderr.decode().strip())
        self.addCleanup(subprocess.run, ["umount", "-l", where])

    def make_song(self, folder, ext, pad):
        artist, title = {"mp3": ("Quillfeather", "Salt Road"), "flac": ("Corrie Fen", "Loch Lomond"),
                         "opus": ("Corrie Fen", "The Parting Glass")}[ext]
        path = os.path.join(folder, "song." + ext)
        if os.path.exists(path):
            os.remove(path)
        comment = "c" * pad
        if ext == "mp3":
            cmd = ["lame", "--quiet", "--id3v2-only", "--ta", artist, "--tt", title] + \
                  (["--tc", comment] if pad else []) + [self.wav, path]
        elif ext == "flac":
            cmd = ["flac", "--totally-silent", "--no-padding", "-f", "-T", "ARTIST=" + artist, "-T",
                   "TITLE=" + title] + (["-T", "COMMENT=" + comment] if pad else []) + ["-o", path, self.wav]
        else:
            cmd = ["opusenc", "--quiet", "--padding", "0", "--artist", artist, "--title", title] + \
                  (["--comment", "COMMENT=" + comment] if pad else []) + [self.wav, path]
        subprocess.run(cmd, check=True, capture_output=True)
        return path

    def fit_below_page_end(self, lib, ext):
        base = os.path.getsize(self.make_song(lib, ext, 0))
        for boundary in range((base // 4096 + 1) * 4096, base + 8 * 4096, 4096):
            low, high = 0, 3 * (boundary - base) + 8192
            while low < high:  # the smallest comment that reaches boundary - 40
                mid = (low + high) // 2
                if os.path.getsize(self.make_song(lib, ext, mid)) >= boundary - 40:
                    high = mid
                else:
                    low = mid + 1
            size = os.path.getsize(self.make_song(lib, ext, low))
            if boundary - 40 <= size <= boundary - 4:
                return True
        return False

    def test_a_full_disk_fails_the_song_and_keeps_the_original_for_mp3_flac_and_opus(self):
        for ext in ("mp3", "flac", "opus"):
            with self.subTest(ext=ext):
                mnt = self.path("disk-" + ext)
                self.mount_tmpfs(mnt)
                lib = os.path.join(mnt, "lib")
                os.makedirs(lib)
                # The copy must fit and the bigger tag must not: the file is
                # grown with a comment until it ends 4 to 40 bytes before a
                # page boundary, and the disk is filled until only the copy's
                # pages are free.
                self.assertTrue(self.fit_below_page_end(lib, ext), "no comment length gave the wanted size")
                path = os.path.join(lib, "song." + ext)
                original = self.read(path)
                pages = (len(original) + 4095) // 4096 * 4096
                st = os.statvfs(mnt)
                with open(os.path.join(mnt, "filler"), "wb") as f:
                    f.write(b"\0" * (st.f_bavail * st.f_frsize - pages))
                r = self.run_cli("library", lib, "--embed")
                err = r.stderr.decode()
                self.assertEqual(r.returncode, 4, err)
                self.assertIn("not written 1", err)
                self.assertEqual(self.read(path), original, "the original stays as it was")
                self.assertEqual(own_temporaries(mnt), [])


class OwnersAndLinksTest(FileSafetyCase):
    """Fault 2: owner, mode, xattrs, links."""

    def test_embed_keeps_owner_mode_attributes_time_and_links(self):
        if os.geteuid() != 0:
            self.skipTest("giving files to another user needs root")
        lib = self.path("lib")
        outside = self.path("outside")
        salt = make_audio(lib, "salt.mp3", "Quillfeather", "Salt Road", self.wav)
        real = make_audio(lib, "sub/real.flac", "Corrie Fen", "Loch Lomond", self.wav)
        os.symlink("sub/real.flac", os.path.join(lib, "link.flac"))
        far = make_audio(outside, "far.opus", "Corrie Fen", "The Parting Glass", self.wav)
        os.symlink(far, os.path.join(lib, "far.opus"))
        hard1 = make_audio(lib, "hard1.ogg", "Quillfeather", "Greensleeves", self.wav)
        hard2 = os.path.join(lib, "hard2.ogg")
        os.link(hard1, hard2)
        os.chown(salt, 1000, 1000)
        os.chmod(salt, 0o640)
        os.utime(salt, (1000000000, 1000000000))
        try:
            os.setxattr(salt, "user.rating", b"5")
            xattr = True
        except OSError:
            xattr = False
        far_before = self.read(far)

        r = self.run_cli("library", lib, "--embed")
        err = r.stderr.decode()
        self.assertEqual(r.returncode, 0, err)
        self.assertIn("outside the library", err)
        st = os.stat(salt)
        self.assertEqual((st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)), (1000, 1000, 0o640))
        self.assertEqual(int(st.st_mtime), 1000000000)
        if xattr:
            self.assertEqual(os.getxattr(salt, "user.rating"), b"5")
        self.assertIn(b"USLT", id3v2_split(self.read(salt))[0])
        self.assertTrue(os.path.islink(os.path.join(lib, "link.flac")), "the link stays a link")
        self.assertIn(b"LYRICS=", self.read(real))
        self.assertEqual(self.read(far), far_before, "a link out of the library is not followed")
        self.assertEqual(os.stat(hard1).st_ino, os.stat(hard2).st_ino, "hard links stay one file")
        self.assertIn(b"LYRICS=", self.read(hard2))
        self.assertEqual(own_temporaries(lib), [])

        r = self.run_cli("library", lib, "--embed", "--follow-links")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"LYRICS=", self.read(far))

        # Without --embed a link's tags are read through it; the text file
        # goes beside the link.
        r = self.run_cli("library", lib)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(os.path.exists(os.path.join(lib, "link.txt")))

    def test_another_user_skips_what_it_cannot_keep_unless_chown_ok(self):
        if os.geteuid() != 0:
            self.skipTest("running as another user needs root")
        lib = self.path("shared")
        song = make_audio(lib, "salt.mp3", "Quillfeather", "Salt Road", self.wav)
        os.chmod(lib, 0o777)
        os.chmod(song, 0o666)  # root's file, writable by all
        before = self.read(song)

        def as_user():
            os.setgid(1000)
            os.setuid(1000)
        r = self.run_cli("library", lib, "--embed", preexec=as_user, env={"HOME": lib})
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"owner or group cannot be kept", r.stderr)
        self.assertEqual(self.read(song), before)
        r = self.run_cli("library", lib, "--embed", "--chown-ok", preexec=as_user, env={"HOME": lib})
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"USLT", id3v2_split(self.read(song))[0])


class ReplacedFileTest(FileSafetyCase):
    """Fault 3: a file replaced while its lyrics download is left alone."""

    def test_a_file_replaced_during_a_slow_download_is_not_overwritten(self):
        slow = wiki_support.WikiServer(ARGS.wiki, ARGS.sample, log=True, delay_ms=700)
        try:
            lib = self.path("lib")
            song = make_audio(lib, "salt.mp3", "Quillfeather", "Salt Road", self.wav)
            other = make_audio(self.path("other"), "loch.mp3", "Corrie Fen", "Loch Lomond", self.wav)
            process = subprocess.Popen(self.command("library", lib, "--embed", proxy=slow.proxy),
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=clean_env())
            self.assertTrue(slow.wait_for_request("Salt_Road"), "the lyrics page was never asked for")
            os.rename(other, song)  # another song takes the name while the page is on its way
            replacement = self.read(song)
            out, err = process.communicate(timeout=60)
            self.assertEqual(process.returncode, 4, err)
            self.assertIn(b"changed", err)
            self.assertEqual(self.read(song), replacement, "the replacement is kept as it was")
            self.assertEqual(own_temporaries(lib), [])
        finally:
            slow.stop()


class ConcurrentRunsTest(FileSafetyCase):
    """Fault 4: two fetch-all runs into one folder."""

    ROUNDS = 20

    def test_two_fetch_all_runs_into_one_folder_never_lose_files(self):
        held = 0
        for n in range(self.ROUNDS):
            out = self.path("round%d" % n)
            runs = [subprocess.Popen(self.command("fetch-all", "Quillfeather", "--out", out),
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=clean_env())
                    for _ in range(2)]
            results = [(p.wait(timeout=120), p.stdout.read(), p.stderr.read()) for p in runs]
            for p in runs:
                p.stdout.close()
                p.stderr.close()
            for code, stdout, stderr in results:
                self.assertIn(code, (0, 4), stderr)
                if code == 4:
                    self.assertIn(b"another run holds the output folder", stderr)
                    held += 1
            self.assertIn(0, [c for c, _, _ in results], "one run at least saves")
            with open(os.path.join(out, ".versewell-index"), "rb") as f:
                lines = [line.split(b"\t") for line in f.read().splitlines()]
            names = [name for name, _ in lines]
            self.assertEqual(len(names), len(set(names)), "one page per file name")
            files = sorted(os.path.relpath(os.path.join(r, f), out).encode()
                           for r, _, fs in os.walk(out) for f in fs if f != ".versewell-index")
            self.assertEqual(files, sorted(names), "every file indexed, every indexed file there")
            self.assertFalse([f for f in files if b" (2)" in f])
        print("%d rounds, %d runs told the folder was held" % (self.ROUNDS, held), file=sys.stderr)

    def test_a_second_run_waits_briefly_then_says_the_folder_is_held(self):
        slow = wiki_support.WikiServer(ARGS.wiki, ARGS.sample, delay_ms=500)
        try:
            out = self.path("slow")
            first = subprocess.Popen(self.command("fetch-all", "Quillfeather", "--out", out, proxy=slow.proxy),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=clean_env())
            deadline = time.monotonic() + 30
            while not os.path.exists(out) and time.monotonic() < deadline:
                time.sleep(0.05)
            time.sleep(0.3)
            second = self.run_cli("fetch-all", "Quillfeather", "--out", out, proxy=slow.proxy)
            self.assertEqual(second.returncode, 4, second.stderr)
            self.assertIn(b"another run holds the output folder", second.stderr)
            _, err = first.communicate(timeout=120)
            self.assertEqual(first.returncode, 0, err)
        finally:
            slow.stop()


class PlantedNamesTest(FileSafetyCase):
    """Faults 5 and 6: links and FIFOs at names the program uses."""

    def test_links_at_the_index_and_at_temporary_names_are_never_followed(self):
        victim = self.path("victim")
        with open(victim, "wb") as f:
            f.write(b"precious")
        out = self.path("out")
        os.makedirs(out)
        os.symlink(victim, os.path.join(out, ".versewell-index"))
        r = self.run_cli("fetch-all", "Quillfeather", "--out", out)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(b".versewell-index", r.stderr)
        self.assertEqual(self.read(victim), b"precious")

        # A link with the temporary pattern, old as a killed run's copy:
        # neither deleted through nor followed.
        lib = self.path("lib")
        make_audio(lib, "salt.mp3", "Quillfeather", "Salt Road", self.wav)
        planted = os.path.join(lib, ".vw-abcdefgh.tmp")
        os.symlink(victim, planted)
        os.utime(planted, (1000000000, 1000000000), follow_symlinks=False)
        r = self.run_cli("library", lib, "--embed")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(os.path.islink(planted))
        self.assertEqual(self.read(victim), b"precious")

    def test_fifos_at_the_index_the_cache_files_and_a_song_never_hang_a_run(self):
        out = self.path("out")
        os.makedirs(out)
        os.mkfifo(os.path.join(out, ".versewell-index"))
        start = time.monotonic()
        r = self.run_cli("fetch-all", "Quillfeather", "--out", out, timeout=FIFO_BOUND)
        self.assertNotEqual(r.returncode, 0)
        self.assertLess(time.monotonic() - start, FIFO_BOUND)

        # The memory of songs without lyrics, beside a batch's output.
        remembered = self.path("remembered")
        os.makedirs(remembered)
        os.mkfifo(os.path.join(remembered, ".versewell-remembered"))
        songs = self.path("songs.txt")
        with open(songs, "w") as f:
            f.write("Quillfeather\tSalt Road\n")
        start = time.monotonic()
        r = self.run_cli("batch", songs, "--out", remembered, timeout=FIFO_BOUND)
        self.assertLess(time.monotonic() - start, FIFO_BOUND)
        self.assertIn(b".versewell-remembered", r.stderr)

        cache = self.path("cache")
        r = self.run_cli("--cache-dir", cache, "artist", "Sorrel Lane (UK)", cache=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        made = [os.path.join(root, f) for root, _, fs in os.walk(cache) for f in fs]
        self.assertTrue(made, "the artist cache wrote files")
        for path in made:
            os.remove(path)
            os.mkfifo(path)
            os.mkfifo(path + ".tmp")
        r = self.run_cli("--cache-dir", cache, "artist", "Sorrel Lane (UK)", cache=True, timeout=FIFO_BOUND)
        self.assertEqual(r.returncode, 0, r.stderr)

        lib = self.path("lib")
        os.makedirs(lib)
        os.mkfifo(os.path.join(lib, "pipe.mp3"))
        r = self.run_cli("library", lib, "--embed", timeout=FIFO_BOUND)
        self.assertEqual(r.returncode, 0, r.stderr)  # not a song file: passed over, never opened


class SongListTest(FileSafetyCase):
    """Fault 7 and the minor list faults: hostile song lists."""

    LIMIT = 1 << 30  # address space: far below what an unbounded reader needs

    @staticmethod
    def sanitized():
        """An AddressSanitizer build reserves terabytes of shadow address
        space at start, so no address-space limit can hold it; there the
        time bounds remain, and the normal build checks the limit too."""
        with open(ARGS.cli, "rb") as f:
            return b"__asan_init" in f.read()

    def limited(self):
        if not SongListTest.SANITIZED:
            resource.setrlimit(resource.RLIMIT_AS, (self.LIMIT, self.LIMIT))

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        SongListTest.SANITIZED = cls.sanitized()

    def test_dev_zero_is_refused_at_once_under_a_memory_limit(self):
        start = time.monotonic()
        r = self.run_cli("batch", "/dev/zero", "--jsonl", preexec=self.limited, timeout=30)
        self.assertEqual(r.returncode, 2, r.stderr)
        self.assertIn(b"not a text list", r.stderr)
        self.assertLess(time.monotonic() - start, 10)

    def test_an_endless_line_is_skipped_unread_and_the_exit_says_so(self):
        # 1.5 GB without a line break, then a song: more than the limit allows
        # any reader that keeps the line.
        feeder = subprocess.Popen("head -c 1500000000 /dev/zero | tr '\\0' a; printf '\\nQuillfeather - Salt Road\\n'",
                                  shell=True, stdout=subprocess.PIPE)
        try:
            r = subprocess.run(self.command("batch", "--jsonl"), stdin=feeder.stdout, capture_output=True,
                               timeout=120, env=clean_env(), preexec_fn=self.limited)
        finally:
            feeder.stdout.close()
            feeder.wait()
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn(b"line 1: line longer than 4096 bytes", r.stderr)
        self.assertIn(b'"title":"Salt Road"', r.stdout)

    def test_sigterm_while_reading_a_list_that_never_ends(self):
        process = subprocess.Popen(self.command("batch", "--jsonl"), stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=clean_env())
        process.stdin.write(b"Quillfeather - Salt Road\n")
        process.stdin.flush()
        time.sleep(0.5)
        process.send_signal(signal.SIGTERM)
        try:
            _, err = process.communicate(timeout=FIFO_BOUND)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            self.fail("SIGTERM did not end a run that was reading its list")
        self.assertEqual(process.returncode, 130, err)

    def test_read_errors_fail_and_utf16_lists_are_read(self):
        r = self.run_cli("batch", self.tmp, "--jsonl")
        self.assertEqual(r.returncode, 2, r.stderr)
        self.assertIn(b"Is a directory", r.stderr)
        listing = self.path("utf16.txt")
        with open(listing, "wb") as f:
            f.write("Quillfeather - Salt Road\r\nCorrie Fen - Loch Lomond\r\n".encode("utf-16"))
        r = self.run_cli("batch", listing, "--jsonl")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"found 2", r.stderr)


class CacheClearTest(FileSafetyCase):
    """Fault 8: `cache clear` keeps the user's folders."""

    def test_cache_clear_beside_user_folders(self):
        cache = self.path("cache")
        for folder in ("src/empty_placeholder", "build/logs"):
            os.makedirs(os.path.join(cache, folder))
        r = self.run_cli("--cache-dir", cache, "artist", "Sorrel Lane (UK)", cache=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        r = self.run_cli("--cache-dir", cache, "cache", "clear", cache=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(os.path.isdir(os.path.join(cache, "src", "empty_placeholder")))
        self.assertTrue(os.path.isdir(os.path.join(cache, "build", "logs")))
        self.assertEqual([f for _, _, fs in os.walk(cache) for f in fs], [])


class LeftoversTest(FileSafetyCase):
    """Fault 9: copies of killed runs are reclaimed."""

    def test_stale_copies_are_removed_and_counted_fresh_ones_kept(self):
        lib = self.path("lib")
        make_audio(lib, "salt.mp3", "Quillfeather", "Salt Road", self.wav)
        stale = {".vw-0a1b2c3d.tmp": 5000, ".versewell-tmp-77-1-salt.mp3": 3000}
        for name, size in stale.items():
            with open(os.path.join(lib, name), "wb") as f:
                f.write(b"x" * size)
            os.utime(os.path.join(lib, name), (1000000000, 1000000000))
        fresh = os.path.join(lib, ".vw-ffffffff.tmp")
        with open(fresh, "wb") as f:
            f.write(b"a live run's")
        r = self.run_cli("library", lib, "--embed")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"reclaimed 8000 bytes in 2 stale temporary files", r.stderr)
        self.assertEqual(sorted(os.listdir(lib)), [".vw-ffffffff.tmp", "salt.mp3"])

        out = self.path("out")
        os.makedirs(out)
        with open(os.path.join(out, ".vw-0a1b2c3d.tmp"), "wb") as f:
            f.write(b"y" * 1234)
        os.utime(os.path.join(out, ".vw-0a1b2c3d.tmp"), (1000000000, 1000000000))
        r = self.run_cli("fetch-all", "Quillfeather", "--out", out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"reclaimed 1234 bytes in 1 stale temporary file", r.stdout)


class LongNameTest(FileSafetyCase):
    """Fault 10: the longest name the file system holds can be edited."""

    def test_a_244_byte_name_gets_its_lyrics(self):
        lib = self.path("lib")
        name = "L" * 240 + ".mp3"
        song = make_audio(lib, name, "Quillfeather", "Salt Road", self.wav)
        r = self.run_cli("library", lib, "--embed")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"written 1", r.stderr)
        self.assertIn(b"USLT", id3v2_split(self.read(song))[0])


class OrphanTest(FileSafetyCase):
    """Fault 11: a lyrics file whose index line was lost is adopted."""

    def test_an_orphan_is_adopted_not_numbered(self):
        out = self.path("out")
        r = self.run_cli("fetch-all", "Quillfeather", "--out", out)
        self.assertEqual(r.returncode, 0, r.stderr)
        index = os.path.join(out, ".versewell-index")
        full = self.read(index)
        with open(index, "wb"):
            pass  # the index write failed after the files landed
        r = self.run_cli("fetch-all", "Quillfeather", "--out", out)
        self.assertEqual(r.returncode, 0, r.stderr)
        numbered = [f for _, _, fs in os.walk(out) for f in fs if " (2)" in f]
        self.assertEqual(numbered, [])
        self.assertEqual(sorted(self.read(index).splitlines()), sorted(full.splitlines()))


class HardLinkKillTest(FileSafetyCase):
    """SIGKILL at random moments of the hard-link edit: every name holds the
    old bytes or the new ones once the next run has looked at the folder."""

    KILLS = 12

    def test_kills_during_a_hard_link_edit_leave_old_or_new_bytes(self):
        long_wav = self.path("long.wav")
        silent_wav(long_wav, seconds=240)
        lib = self.path("lib")
        os.makedirs(lib)
        one, two = os.path.join(lib, "one.mp3"), os.path.join(lib, "two.mp3")
        subprocess.run(["lame", "--quiet", "--id3v2-only", "--ta", "Quillfeather", "--tt", "Salt Road",
                        long_wav, one], check=True, capture_output=True)
        old = self.read(one)
        os.link(one, two)
        start = time.monotonic()
        r = self.run_cli("library", lib, "--embed")
        full = time.monotonic() - start
        self.assertEqual(r.returncode, 0, r.stderr)
        new = self.read(one)
        self.assertNotEqual(new, old)
        outcomes = {"old": 0, "new": 0, "journal seen": 0}
        rng = random.Random(21)
        for _ in range(self.KILLS):
            with open(one, "wb") as f:  # same inode for both names: back to the old bytes
                f.write(old)
            process = subprocess.Popen(self.command("library", lib, "--embed", "--force"),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=clean_env())
            # Late in the run: the download comes first, the edit last.
            time.sleep(rng.uniform(0.6, 1.05) * full)
            process.kill()
            process.wait()
            if any(n.endswith(".jnl") for n in os.listdir(lib)):
                outcomes["journal seen"] += 1
            # The next run (which cannot reach the wiki) puts back what the
            # kill cut short before it does anything else.
            self.run_cli("library", lib, "--embed", "--force", "--retries", "0", proxy="127.0.0.1:1")
            self.assertEqual(os.stat(one).st_ino, os.stat(two).st_ino)
            data = self.read(two)
            self.assertIn(data, (old, new), "a name holds neither the old nor the new bytes")
            self.assertEqual(self.read(one), data)
            outcomes["old" if data == old else "new"] += 1
            self.assertFalse([n for n in os.listdir(lib) if n.endswith(".jnl")])
        print("%d kills: %s" % (self.KILLS, outcomes), file=sys.stderr)


def main():
    global ARGS
    ARGS, rest = wiki_support.parse_script_arguments()
    import library_test
    library_test.ARGS = ARGS
    wiki_support.run_tests(rest)


if __name__ == "__main__":
    main()
