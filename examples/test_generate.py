#!/usr/bin/python3
"""Tests of the sample-corpus generator and of the checked-in sample files.

Run: python3 -m unittest discover -s examples -p 'test_*.py'
"""

import importlib.machinery
import importlib.util
import os
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
_loader = importlib.machinery.SourceFileLoader("generate", os.path.join(HERE, "generate"))
_spec = importlib.util.spec_from_loader("generate", _loader)
generate = importlib.util.module_from_spec(_spec)
_loader.exec_module(generate)


def source_problems(text):
    """Problems that read_source reports for a .words file with this text."""
    problems = generate.Problems()
    with tempfile.NamedTemporaryFile("wb", suffix=".words", delete=False) as f:
        f.write(text.encode("utf-8"))
    try:
        paragraphs = generate.read_source(f.name, problems)
    finally:
        os.remove(f.name)
    return paragraphs, problems.items


class SegmentedCopy(unittest.TestCase):
    def test_counts_in_order_of_first_occurrence_without_stop_words(self):
        paragraphs = [["中国", "人民", "的", "中国", "，", "银行"], ["人民", "。", "了"]]
        self.assertEqual(generate.seg_lines(paragraphs), "中国:2\n人民:2\n银行:1\n")

    def test_ascii_runs_follow_the_segmenter(self):
        # Numbers and single letters are dropped, two-letter runs kept.
        paragraphs = [["A", "股", "5G", "2023", "3.5", "%", "CT", "筛查"]]
        self.assertEqual(generate.seg_lines(paragraphs), "股:1\nCT:1\n筛查:1\n")

    def test_empty_document_gives_empty_file(self):
        self.assertEqual(generate.seg_lines([["的", "。"]]), "")


class SourceChecks(unittest.TestCase):
    def test_well_formed_source(self):
        paragraphs, problems = source_problems("今天 天气 好 。\n\n明天 下雨 。\n")
        self.assertEqual(problems, [])
        self.assertEqual(paragraphs, [["今天", "天气", "好", "。"], ["明天", "下雨", "。"]])

    def test_malformed_sources_are_refused(self):
        for text in ("今天  天气\n", " 今天\n", "今天 \n", "今天\t天气\n", "今天\r\n",
                     "比分 3:2\n", "A股 上涨\n", "\ufeff今天\n"):
            with self.subTest(text=text):
                paragraphs, problems = source_problems(text)
                self.assertIsNone(paragraphs)
                self.assertEqual(len(problems), 1)


class Encoding(unittest.TestCase):
    def test_character_without_gbk_form_is_refused(self):
        problems = generate.Problems()
        self.assertIsNone(generate.to_gbk("健康\U0001F600", "x", problems))
        self.assertIn("no GBK form", problems.items[0])

    def test_gbk_that_reads_as_utf8_is_refused(self):
        # C4 A3 is a GBK character and also the UTF-8 form of U+0123.
        text = b"\xc4\xa3".decode("gbk")
        problems = generate.Problems()
        self.assertIsNone(generate.to_gbk(text + "\n", "x", problems))
        self.assertIn("valid UTF-8", problems.items[0])

    def test_ordinary_text_converts(self):
        self.assertEqual(generate.to_gbk("体育：“冠军”—…\n", "x", generate.Problems()),
                         "体育：“冠军”—…\n".encode("gbk"))


class CheckedInSample(unittest.TestCase):
    def test_outputs_match_sources(self):
        self.assertEqual(generate.build(check_only=True), 0)

    def test_layout_and_sizes(self):
        for part, least in (("train", 12), ("test", 4)):
            for category in ("体育", "财经", "科技", "健康"):
                folder = os.path.join(HERE, "sample", part, category)
                titles = sorted(n for n in os.listdir(folder) if n.endswith(".txt"))
                self.assertGreaterEqual(len(titles), least, folder)
                for title in titles:
                    with open(os.path.join(folder, title), "rb") as f:
                        data = f.read()
                    self.assertNotIn(b"\r", data)
                    self.assertTrue(data.endswith(b"\n"))
                    count = generate.hanzi_count(data.decode("gbk"))
                    self.assertTrue(100 <= count <= 400, (title, count))
        unlabelled = [n for n in os.listdir(os.path.join(HERE, "sample", "unlabelled")) if n.endswith(".txt")]
        self.assertTrue(4 <= len(unlabelled) <= 6)


if __name__ == "__main__":
    unittest.main()
