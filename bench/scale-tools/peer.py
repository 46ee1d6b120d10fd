#!/usr/bin/python3
"""The same task done the way a user without the workbench would: jieba
segments, scikit-learn counts words, keeps the CHI best features and trains
KNN (cosine, brute force) and a linear SVM.

  peer.py --corpus DIR --dim N -k K --jobs J --json OUT

DIR holds train/<category>/*.txt and test/<category>/*.txt (GB18030). Prints
one line per stage (seconds, peak memory) and the accuracy of each
classifier; writes the same figures as JSON.
"""

import argparse
import json
import os
import resource
import sys
import time


def import_jieba():
    """Debian's python3-jieba, also when another python3 runs this script."""
    try:
        import jieba
    except ImportError:
        sys.path.append("/usr/lib/python3/dist-packages")
        import jieba
    jieba.setLogLevel(60)
    return jieba


def peak_mib():
    """Largest resident memory of this process and of its finished workers."""
    own = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    children = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    return max(own, children) / 1024


def documents(root):
    paths, labels = [], []
    for category in sorted(os.listdir(root)):
        directory = os.path.join(root, category)
        if not os.path.isdir(directory):
            continue
        for name in sorted(os.listdir(directory)):
            if name.endswith(".txt"):
                paths.append(os.path.join(directory, name))
                labels.append(category)
    return paths, labels


def segment(path):
    jieba = import_jieba()
    with open(path, "rb") as f:
        text = f.read().decode("gb18030", errors="replace")
    return " ".join(word for word in jieba.cut(text) if not word.isspace())


def segment_all(paths, jobs):
    if jobs <= 1:
        return [segment(p) for p in paths]
    import multiprocessing
    with multiprocessing.Pool(jobs, initializer=import_jieba) as pool:
        return pool.map(segment, paths, chunksize=64)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--dim", type=int, default=5000)
    parser.add_argument("-k", type=int, default=20)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--json")
    args = parser.parse_args(argv[1:])

    from sklearn.feature_extraction.text import CountVectorizer, TfidfTransformer
    from sklearn.feature_selection import SelectKBest, chi2
    from sklearn.neighbors import KNeighborsClassifier
    from sklearn.svm import LinearSVC

    stages = []

    def stage(name, started):
        seconds = time.perf_counter() - started
        stages.append({"stage": name, "seconds": seconds, "peak_mib": peak_mib()})
        print(f"    {name:<22} {seconds:9.3f} s  peak {peak_mib():8.1f} MiB", flush=True)
        return time.perf_counter()

    train_paths, train_labels = documents(os.path.join(args.corpus, "train"))
    test_paths, test_labels = documents(os.path.join(args.corpus, "test"))
    t = time.perf_counter()
    train_text = segment_all(train_paths, args.jobs)
    t = stage("train: segment", t)
    counter = CountVectorizer(tokenizer=str.split, token_pattern=None, lowercase=False)
    train_counts = counter.fit_transform(train_text)
    del train_text
    t = stage("train: index", t)
    selector = SelectKBest(chi2, k=min(args.dim, train_counts.shape[1]))
    train_selected = selector.fit_transform(train_counts, train_labels)
    tfidf = TfidfTransformer()
    train_vectors = tfidf.fit_transform(train_selected)
    t = stage("train: select+vectors", t)
    test_text = segment_all(test_paths, args.jobs)
    t = stage("test: segment", t)
    test_vectors = tfidf.transform(selector.transform(counter.transform(test_text)))
    del test_text
    t = stage("test: vectors", t)

    accuracy = {}
    knn = KNeighborsClassifier(n_neighbors=args.k, metric="cosine", algorithm="brute", n_jobs=args.jobs)
    knn.fit(train_vectors, train_labels)
    predicted = knn.predict(test_vectors)
    accuracy["knn"] = sum(p == l for p, l in zip(predicted, test_labels)) / max(1, len(test_labels))
    t = stage("knn: fit+predict", t)
    svm = LinearSVC()
    svm.fit(train_vectors, train_labels)
    predicted = svm.predict(test_vectors)
    accuracy["svm"] = sum(p == l for p, l in zip(predicted, test_labels)) / max(1, len(test_labels))
    t = stage("svm: fit+predict", t)
    print(f"    accuracy: KNN {100 * accuracy['knn']:.2f} %, linear SVM {100 * accuracy['svm']:.2f} %")
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"stages": stages, "accuracy": accuracy, "train": len(train_paths),
                       "test": len(test_paths)}, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
