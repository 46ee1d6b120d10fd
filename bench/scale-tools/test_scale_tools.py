#!/usr/bin/python3
"""Tests of the scale benchmark's corpus generator and table.

Run: python3 -m unittest discover -s bench/scale-tools -p 'test_*.py'
"""

import io
import json
import os
import subprocess
import sys
import tempfile
import unittest
from contextlib import redirect_stdout

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import report  # noqa: E402


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(text.encode("gb18030"))


class MakeCorpus(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        source = os.path.join(self.dir.name, "source")
        # Two categories with words of their own, hard-wrapped like the news corpus.
        for n in range(6):
            write(f"{source}/train/体育12/{n}.txt", f"　　足球比赛第{n}场。\n球队\n获胜！篮球决赛？")
            write(f"{source}/test/经济3/{n}.txt", f"股市上涨{n}点。银行利率下调。")
        self.source = source

    def make(self, out, seed):
        out = os.path.join(self.dir.name, out)
        subprocess.run([sys.executable, os.path.join(HERE, "make_corpus.py"), "--source", self.source,
                        "--docs", "60", "--test", "20", "--seed", str(seed), "--out", out],
                       check=True, capture_output=True)
        files = {}
        for root, _, names in os.walk(out):
            for name in names:
                with open(os.path.join(root, name), "rb") as f:
                    files[os.path.relpath(os.path.join(root, name), out)] = f.read()
        return files

    def test_deterministic_and_category_dependent(self):
        first, again, other = self.make("a", 1), self.make("b", 1), self.make("c", 2)
        self.assertEqual(first, again)
        self.assertNotEqual(first, other)
        self.assertEqual(sum(p.startswith("train/") for p in first), 60)
        self.assertEqual(sum(p.startswith("test/") for p in first), 20)
        # Categories lose the size in their directory name; sentences keep
        # their end marks and come mostly from their own category.
        own = foreign = 0
        for path, data in first.items():
            text = data.decode("gb18030")
            self.assertTrue(path.split("/")[1] in ("体育", "经济"), path)
            self.assertNotIn("\n球队", text)
            mine, theirs = ("足球", "股市") if "/体育/" in path else ("股市", "足球")
            own += text.count(mine)
            foreign += text.count(theirs)
        self.assertGreater(own, 3 * foreign)
        self.assertGreater(foreign, 0)


class Report(unittest.TestCase):
    def test_exponents_and_per_document_ratio(self):
        paths = []
        with tempfile.TemporaryDirectory() as d:
            for size, index_seconds in ((1000, 1.0), (10000, 10.0), (100000, 200.0)):
                path = os.path.join(d, f"{size}.json")
                with open(path, "w") as f:
                    json.dump({"stages": [["index", index_seconds]], "wall": 2 * index_seconds,
                               "peak_kib": 1000,
                               "costs": [{"stage": "index", "seconds": index_seconds, "cpu": 1.8 * index_seconds,
                                          "cores": 1.8, "peak_mb": 50.0}]}, f)
                paths.append(f"{size}:knn train:{path}")
            out = io.StringIO()
            with redirect_stdout(out):
                report.main(paths)
        index = next(line for line in out.getvalue().splitlines() if " index " in line)
        # 1k -> 10k linear, 10k -> 100k 1.30; 200 s per 100k docs is twice 1 s per 1k.
        self.assertRegex(index, r"1\.00\s+1\.30 \|\s+2\.00\s+2\.00$")
        self.assertIn("exp 1k-10k", out.getvalue())


if __name__ == "__main__":
    unittest.main()
