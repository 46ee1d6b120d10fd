#!/usr/bin/python3
"""Tests of the pipeline benchmark's helpers (corpus generator, timing parser).

Run: python3 -m unittest discover -s bench/pipeline-tools -p 'test_*.py'
"""

import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import timings  # noqa: E402


def make_corpus(out, *extra):
    subprocess.run([sys.executable, os.path.join(HERE, "make_corpus.py"), "--out", out, *extra],
                   check=True, capture_output=True)


def tree(root):
    """Relative path -> bytes of every file below root."""
    files = {}
    for folder, _dirs, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, root)] = f.read()
    return files


class SyntheticCorpus(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.first = os.path.join(cls.tmp.name, "a")
        make_corpus(cls.first, "--docs", "60", "--categories", "3", "--vocabulary", "2000",
                    "--topic-words", "200")
        cls.files = tree(cls.first)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_same_seed_same_bytes_other_seed_other_bytes(self):
        again = os.path.join(self.tmp.name, "b")
        make_corpus(again, "--docs", "60", "--categories", "3", "--vocabulary", "2000", "--topic-words", "200")
        self.assertEqual(tree(again), self.files)
        other = os.path.join(self.tmp.name, "c")
        make_corpus(other, "--docs", "60", "--categories", "3", "--vocabulary", "2000", "--topic-words", "200",
                    "--seed", "7")
        self.assertNotEqual(tree(other), self.files)

    def test_layout_split_and_format(self):
        self.assertEqual(len(self.files), 60)
        test = [p for p in self.files if p.startswith("test" + os.sep)]
        self.assertEqual(len(test), 15)  # every fourth document of each category
        for path, data in self.files.items():
            part, category, title = path.split(os.sep)
            self.assertIn(part, ("train", "test"))
            self.assertRegex(category, r"^cat\d\d$")
            self.assertRegex(title, r"^\d{5}\.seg$")
            words = set()
            for line in data.split(b"\n")[:-1]:
                word, count = line.split(b":")
                word.decode("gbk")
                self.assertGreaterEqual(int(count), 1)
                self.assertNotIn(word, words)  # one line per distinct word
                words.add(word)
            with self.assertRaises(UnicodeDecodeError):  # never mistaken for UTF-8
                data.decode("utf-8")

    def test_refuses_a_non_empty_output_directory(self):
        result = subprocess.run([sys.executable, os.path.join(HERE, "make_corpus.py"), "--out", self.first],
                                capture_output=True)
        self.assertNotEqual(result.returncode, 0)


class Timings(unittest.TestCase):
    def write(self, text):
        f = tempfile.NamedTemporaryFile("w", delete=False)
        f.write(text)
        f.close()
        self.addCleanup(os.remove, f.name)
        return f.name

    TIME_REPORT = ("\tCommand being timed: \"kestrel train\"\n"
                   "\tElapsed (wall clock) time (h:mm:ss or m:ss): 1:02.50\n"
                   "\tMaximum resident set size (kbytes): 20480\n"
                   "\tExit status: 0\n")

    def test_stage_lines_and_time_report(self):
        stderr = self.write("progress 10%\ntime preprocess 0.010 s\ntime index 1.500 s\n"
                            "kestrel: warning\ntime vectors 2.25 s\n")
        figures = timings.parse_run(stderr, self.write(self.TIME_REPORT))
        self.assertEqual(figures["stages"], [("preprocess", 0.01), ("index", 1.5), ("vectors", 2.25)])
        self.assertEqual(figures["peak_kib"], 20480)
        self.assertAlmostEqual(figures["wall"], 62.5)
        self.assertEqual(figures["exit"], 0)
        self.assertAlmostEqual(timings.stage_seconds(figures, "index", "vectors"), 3.75)
        self.assertIsNone(timings.stage_seconds(figures, "classify"))

    def test_stage_lines_with_cpu_and_peak(self):
        cost = timings.parse_stage("time index 1.500 s cpu 2.900 s (1.93 cores) peak 120.5 MB\n")
        self.assertEqual(cost, {"stage": "index", "seconds": 1.5, "cpu": 2.9, "cores": 1.93, "peak_mb": 120.5})
        cost = timings.parse_stage("time select 0.2 s cpu 0.2 s (1.00 cores) process peak 80.0 MB")
        self.assertEqual(cost["peak_mb"], 80.0)
        self.assertIsNone(timings.parse_stage("time select 0.2 s cpu"))
        # The run's peak is the largest of the stages' when /usr/bin/time saw less.
        stderr = self.write("time index 1.5 s cpu 1.5 s (1.00 cores) peak 40.96 MB\n"
                            "time vectors 1 s cpu 1 s (1.00 cores) peak 10.0 MB\n")
        self.assertEqual(timings.parse_run(stderr, self.write(self.TIME_REPORT))["peak_kib"], 40000)

    def test_without_stage_lines_the_whole_command_is_timed(self):
        figures = timings.parse_run(self.write("no timings here\n"), self.write(self.TIME_REPORT))
        self.assertEqual(figures["stages"], [("total", 62.5)])

    def test_wall_clock_with_hours(self):
        self.assertAlmostEqual(timings.wall_seconds("Elapsed (wall clock) time (h:mm:ss or m:ss): 1:00:01"), 3601)


if __name__ == "__main__":
    unittest.main()
