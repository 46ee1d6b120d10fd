#!/usr/bin/python3
"""Writes a large raw-text corpus by recombining the sentences of a real one.

  make_corpus.py --source DIR --docs N [--test N] --seed S --out DIR

SOURCE holds category directories of GB18030 news articles (train/ and test/
of a corpus such as cn10, or the category directories themselves). The
output is OUT/train/<category>/<n>.txt and OUT/test/<category>/<n>.txt in
GB18030, the raw input format of the workbench.

Every generated document belongs to a category chosen in proportion to that
category's share of the source; its length is the length of a randomly drawn
source article of the category (so lengths follow real news articles); its
sentences come mostly from the category's own articles and sometimes from
another category's, so categories are learnable but overlap. Paragraphs of a
few sentences each, indented as in the source. The same arguments always
give the same corpus, byte for byte.
"""

import argparse
import os
import random
import re
import sys

# Sentence ends of Chinese text; a sentence keeps its closing mark and any
# closing quotation marks or brackets right after it.
SENTENCE = re.compile(r"[^。！？!?]*[。！？!?]+[”’」』）)]*|[^。！？!?]+$")
OWN_CATEGORY_SHARE = 0.85
INDENT = "\u3000\u3000"


def category_name(directory):
    """'经济325' -> '经济': the source's directories carry their size."""
    return directory.rstrip("0123456789") or directory


def source_directories(source):
    roots = [os.path.join(source, p) for p in ("train", "test") if os.path.isdir(os.path.join(source, p))]
    return roots or [source]


def read_source(source):
    """{category: (sentences as GB18030 bytes, article lengths in bytes)}."""
    categories = {}
    for root in source_directories(source):
        for directory in sorted(os.listdir(root)):
            path = os.path.join(root, directory)
            if not os.path.isdir(path):
                continue
            sentences, lengths = categories.setdefault(category_name(directory), ([], []))
            for name in sorted(os.listdir(path)):
                if not name.lower().endswith(".txt"):
                    continue
                with open(os.path.join(path, name), "rb") as f:
                    raw = f.read()
                text = "".join(raw.decode("gb18030", errors="replace").split())
                if not text:
                    continue
                lengths.append(len(raw))
                for match in SENTENCE.finditer(text):
                    sentence = match.group(0)
                    if sentence:
                        sentences.append(sentence.encode("gb18030", errors="replace"))
    return {name: value for name, value in categories.items() if value[0]}


def write_document(path, rng, own, others, target):
    """One article of about `target` bytes; returns the bytes written."""
    paragraphs, paragraph, size = [], [], 0
    while size < target or not paragraph and not paragraphs:
        pool = own if rng.random() < OWN_CATEGORY_SHARE or not others else rng.choice(others)
        sentence = pool[rng.randrange(len(pool))]
        paragraph.append(sentence)
        size += len(sentence)
        if len(paragraph) >= rng.randint(2, 5):
            paragraphs.append(paragraph)
            paragraph = []
    if paragraph:
        paragraphs.append(paragraph)
    indent = INDENT.encode("gb18030")
    data = b"".join(indent + b"".join(p) + b"\n" for p in paragraphs)
    with open(path, "wb") as f:
        f.write(data)
    return len(data)


def write_part(out, part, count, rng, categories, names, weights):
    sizes = 0
    for name in names:
        os.makedirs(os.path.join(out, part, name), exist_ok=True)
    pools = {name: categories[name][0] for name in names}
    for n in range(count):
        name = rng.choices(names, weights)[0]
        sentences, lengths = categories[name]
        others = [pools[other] for other in names if other != name]
        target = lengths[rng.randrange(len(lengths))]
        sizes += write_document(os.path.join(out, part, name, f"{n}.txt"), rng, sentences, others, target)
    return sizes


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--source", required=True)
    parser.add_argument("--docs", type=int, required=True, help="training documents")
    parser.add_argument("--test", type=int, default=None, help="test documents (default: a tenth of --docs)")
    parser.add_argument("--seed", type=int, default=20261208)
    parser.add_argument("--out", required=True)
    args = parser.parse_args(argv[1:])
    if args.docs < 1:
        parser.error("--docs must be at least 1")
    test = args.docs // 10 if args.test is None else args.test
    categories = read_source(args.source)
    if len(categories) < 2:
        print(f"make_corpus.py: {args.source} has fewer than two categories of *.txt articles", file=sys.stderr)
        return 1
    names = sorted(categories)
    weights = [len(categories[name][1]) for name in names]
    rng = random.Random(args.seed)
    train_bytes = write_part(args.out, "train", args.docs, rng, categories, names, weights)
    test_bytes = write_part(args.out, "test", test, rng, categories, names, weights)
    print(f"{args.out}: {args.docs} training documents ({train_bytes / 1e6:.1f} MB), "
          f"{test} test documents ({test_bytes / 1e6:.1f} MB), {len(names)} categories", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
