#!/usr/bin/python3
"""Writes a synthetic segmented corpus for the pipeline benchmark.

Layout: OUT/train/<category>/<title>.seg and OUT/test/<category>/<title>.seg,
GBK words, one "word:count" line per distinct word in order of first
occurrence, LF line ends -- the preprocessed input format of the workbench.

Words are random strings of 1-4 GB2312 ideographs. Every document mixes a
shared background vocabulary (Zipf distributed, like function and common
words of real text) with its category's topic vocabulary (a Zipf
distribution over a category-specific subset of the words) and a little of
another category's topic, so categories are separable but overlap. The same
arguments and seed always give the same corpus, byte for byte.
"""

import argparse
import math
import os
import random
import sys


def ideograph(rng):
    """One GB2312 ideograph as two GBK bytes (rows B0-F7; D7FA-D7FE are unassigned)."""
    while True:
        lead = rng.randint(0xB0, 0xF7)
        trail = rng.randint(0xA1, 0xFE)
        if not (lead == 0xD7 and trail >= 0xFA):
            return bytes((lead, trail))


def make_vocabulary(rng, size):
    lengths = [1, 2, 2, 2, 2, 2, 2, 3, 3, 4]
    words, seen = [], set()
    while len(words) < size:
        word = b"".join(ideograph(rng) for _ in range(rng.choice(lengths)))
        if word not in seen:
            seen.add(word)
            words.append(word)
    return words


def zipf_cumulative(count, exponent):
    total, cumulative = 0.0, []
    for rank in range(count):
        total += 1.0 / (rank + 2.7) ** exponent
        cumulative.append(total)
    return cumulative


def is_utf8(data):
    try:
        data.decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


def document_bytes(words):
    counts = {}
    for word in words:
        counts[word] = counts.get(word, 0) + 1
    data = b"".join(w + b":" + str(c).encode() + b"\n" for w, c in counts.items())
    # The workbench reads a file that is valid UTF-8 as UTF-8. A short run of
    # random GBK could pass for UTF-8; a word starting with byte B0 (never a
    # UTF-8 lead byte) rules that out.
    if any(b >= 0x80 for b in data) and is_utf8(data):
        data += b"\xb0\xa1:1\n"
    return data


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--docs", type=int, default=10000, help="total documents, train and test (default 10000)")
    parser.add_argument("--categories", type=int, default=10, help="number of categories (default 10)")
    parser.add_argument("--vocabulary", type=int, default=30000, help="distinct words (default 30000)")
    parser.add_argument("--topic-words", type=int, default=1500, help="topic words per category (default 1500)")
    parser.add_argument("--test-every", type=int, default=4,
                        help="every n-th document of a category goes to the test part (default 4)")
    parser.add_argument("--seed", type=int, default=20240501, help="random seed")
    parser.add_argument("--out", required=True, help="output directory (must not exist or be empty)")
    args = parser.parse_args()

    if args.docs < 2 * args.categories or args.categories < 2:
        parser.error("need at least 2 categories and 2 documents per category")
    if args.topic_words > args.vocabulary or args.test_every < 2:
        parser.error("topic words must not exceed the vocabulary; --test-every must be at least 2")
    if os.path.isdir(args.out) and os.listdir(args.out):
        parser.error(f"{args.out} is not empty")

    rng = random.Random(args.seed)
    vocabulary = make_vocabulary(rng, args.vocabulary)
    background = vocabulary[:]
    rng.shuffle(background)
    background_cum = zipf_cumulative(len(background), 1.0)
    topics = []
    for _ in range(args.categories):
        words = rng.sample(vocabulary, args.topic_words)
        topics.append((words, zipf_cumulative(len(words), 1.1)))

    # Category sizes vary between 0.6 and 1.4 times the mean.
    weights = [0.6 + 0.8 * c / max(1, args.categories - 1) for c in range(args.categories)]
    rng.shuffle(weights)
    scale = args.docs / sum(weights)
    sizes = [max(2, int(w * scale)) for w in weights]
    sizes[0] += args.docs - sum(sizes)

    written = {"train": 0, "test": 0}
    for category, size in enumerate(sizes):
        name = f"cat{category:02d}"
        for part in ("train", "test"):
            os.makedirs(os.path.join(args.out, part, name), exist_ok=True)
        topic_words, topic_cum = topics[category]
        for index in range(size):
            # Lengths follow a log-normal around 250 tokens.
            length = min(1500, max(30, int(rng.lognormvariate(math.log(250), 0.6))))
            share = rng.uniform(0.04, 0.24)          # own topic
            other = rng.randrange(args.categories)   # a neighbouring topic
            other_share = rng.uniform(0.0, 0.12)
            tokens = []
            for _ in range(length):
                u = rng.random()
                if u < share:
                    tokens.append(rng.choices(topic_words, cum_weights=topic_cum)[0])
                elif u < share + other_share:
                    words, cum = topics[other]
                    tokens.append(rng.choices(words, cum_weights=cum)[0])
                else:
                    tokens.append(rng.choices(background, cum_weights=background_cum)[0])
            part = "test" if index % args.test_every == args.test_every - 1 else "train"
            path = os.path.join(args.out, part, name, f"{index + 1:05d}.seg")
            with open(path, "wb") as f:
                f.write(document_bytes(tokens))
            written[part] += 1
    print(f"{args.out}: {written['train']} training and {written['test']} test documents "
          f"in {args.categories} categories")
    return 0


if __name__ == "__main__":
    sys.exit(main())
