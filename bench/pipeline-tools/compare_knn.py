#!/usr/bin/python3
"""Compares the workbench's KNN with scikit-learn's brute-force cosine KNN.

Both classify the same workspace files: train.dat and test.dat (SVM-light
format, features numbered from 1, labels = category id + 1). The workbench's
assignments come from result.dat (one line per test document, in test.dat
order: file name, true id, assigned id). k is read from params.dat.

Besides the agreement, every document on which the two differ is explained
by looking at the cosine similarities themselves:
  - empty vector: the document has no selected feature, so every similarity
    is 0/0 (the workbench) or 0 (scikit-learn) and the choice of neighbours
    is arbitrary;
  - boundary tie: the k-th and (k+1)-th nearest training documents are
    equally similar (within 1e-9), so each program may keep a different one;
  - otherwise the difference is unexplained, which points at a fault.
A reference vote that follows the workbench's own rule (stable ranking by
decreasing similarity, equal votes go to the lowest category id) is computed
too, so a disagreement can be attributed to one side.
"""

import argparse
import json
import os
import sys
import time

try:
    import numpy as np
    from sklearn.datasets import load_svmlight_files
    from sklearn.neighbors import KNeighborsClassifier
    from sklearn.preprocessing import normalize
except ImportError as err:
    print(f"compare_knn: {err}; install the Debian package python3-sklearn", file=sys.stderr)
    sys.exit(3)

TIE = 1e-9


def read_params(workspace):
    with open(os.path.join(workspace, "params.dat"), encoding="ascii", errors="replace") as f:
        lines = [line.split("#")[0].strip() for line in f]
    if not lines or lines[0] != "KNN":
        raise ValueError("params.dat does not describe a KNN classifier")
    return int(lines[1]), int(lines[2])


def read_result(workspace):
    assigned, truth = [], []
    with open(os.path.join(workspace, "result.dat"), "rb") as f:
        for line in f:
            fields = line.rstrip(b"\r\n").rsplit(b" ", 2)
            if len(fields) == 3:
                truth.append(int(fields[1]))
                assigned.append(int(fields[2]))
    return np.array(truth), np.array(assigned)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--workspace", required=True)
    parser.add_argument("--kestrel-seconds", type=float, default=None,
                        help="the workbench's classification time, for the ratio")
    parser.add_argument("--n-jobs", type=int, default=1, help="scikit-learn worker processes (default 1)")
    parser.add_argument("--json", help="also write the figures to this file")
    args = parser.parse_args()

    k, similarity = read_params(args.workspace)
    if similarity != 0:
        print(f"note: params.dat asks for similarity {similarity}, not cosine; comparing with cosine anyway")

    t0 = time.perf_counter()
    x_train, y_train, x_test, y_test = load_svmlight_files(
        [os.path.join(args.workspace, "train.dat"), os.path.join(args.workspace, "test.dat")],
        zero_based=False, dtype=np.float64)
    load_seconds = time.perf_counter() - t0
    y_train = y_train.astype(int) - 1
    y_test = y_test.astype(int) - 1
    n_train, n_test = x_train.shape[0], x_test.shape[0]

    t0 = time.perf_counter()
    knn = KNeighborsClassifier(n_neighbors=min(k, n_train), metric="cosine", algorithm="brute",
                               n_jobs=args.n_jobs)
    knn.fit(x_train, y_train)
    sk_pred = knn.predict(x_test)
    sk_seconds = time.perf_counter() - t0

    truth, kestrel = read_result(args.workspace)
    if len(kestrel) != n_test:
        print(f"compare_knn: result.dat has {len(kestrel)} lines, test.dat {n_test}", file=sys.stderr)
        return 1
    if not np.array_equal(truth, y_test):
        print("compare_knn: the true categories of result.dat and test.dat differ", file=sys.stderr)
        return 1

    # Reference vote and the reasons for every disagreement.
    train_norm = normalize(x_train).T.tocsc()
    train_empty = np.asarray(x_train.getnnz(axis=1) == 0)
    test_empty = np.asarray(x_test.getnnz(axis=1) == 0)
    categories = int(max(y_train.max(), y_test.max())) + 1
    kk = min(k, n_train)
    reference = np.empty(n_test, dtype=int)
    boundary_tie = np.zeros(n_test, dtype=bool)
    vote_tie = np.zeros(n_test, dtype=bool)
    empty_near = np.zeros(n_test, dtype=bool)
    for start in range(0, n_test, 256):
        block = (normalize(x_test[start:start + 256]) @ train_norm).toarray()
        for row, sims in enumerate(block):
            i = start + row
            order = np.argsort(-sims, kind="stable")
            top = order[:kk]
            votes = np.bincount(y_train[top], minlength=categories)
            reference[i] = int(np.argmax(votes))
            vote_tie[i] = np.count_nonzero(votes == votes.max()) > 1
            if kk < n_train:
                boundary_tie[i] = sims[order[kk - 1]] - sims[order[kk]] <= TIE
            empty_near[i] = bool(train_empty[top].any())

    differ = kestrel != sk_pred
    reasons = {"empty vector": 0, "boundary tie": 0, "unexplained": 0}
    unexplained = []
    for i in np.flatnonzero(differ):
        if test_empty[i] or empty_near[i]:
            reasons["empty vector"] += 1
        elif boundary_tie[i]:
            reasons["boundary tie"] += 1
        else:
            reasons["unexplained"] += 1
            unexplained.append(int(i))

    figures = {
        "train_documents": n_train,
        "test_documents": n_test,
        "features": x_train.shape[1],
        "k": k,
        "sklearn_load_seconds": load_seconds,
        "sklearn_seconds": sk_seconds,
        "kestrel_seconds": args.kestrel_seconds,
        "agreement": float(np.mean(~differ)) if n_test else 1.0,
        "differences": int(differ.sum()),
        "reasons": reasons,
        "kestrel_matches_reference": float(np.mean(kestrel == reference)) if n_test else 1.0,
        "sklearn_matches_reference": float(np.mean(sk_pred == reference)) if n_test else 1.0,
        "kestrel_accuracy": float(np.mean(kestrel == y_test)) if n_test else 0.0,
        "sklearn_accuracy": float(np.mean(sk_pred == y_test)) if n_test else 0.0,
        "vote_ties": int(vote_tie.sum()),
        "boundary_ties": int(boundary_tie.sum()),
        "empty_test_vectors": int(test_empty.sum()),
        "empty_training_vectors": int(train_empty.sum()),
    }

    print(f"KNN comparison: {n_train} training x {n_test} test documents, "
          f"{x_train.shape[1]} features, k = {k}, cosine")
    print(f"  scikit-learn brute force: {sk_seconds:.3f} s fit+predict "
          f"(n_jobs={args.n_jobs}; reading the two files took {load_seconds:.3f} s more)")
    if args.kestrel_seconds is not None:
        ratio = args.kestrel_seconds / sk_seconds if sk_seconds > 0 else float("inf")
        figures["time_ratio"] = ratio
        print(f"  kestrel classification:   {args.kestrel_seconds:.3f} s  "
              f"-> ratio kestrel / scikit-learn = {ratio:.2f}")
    print(f"  same category: {figures['agreement'] * 100:.2f} % "
          f"({n_test - figures['differences']} of {n_test})")
    if figures["differences"]:
        print("  differences by cause: " + ", ".join(f"{n} {r}" for r, n in reasons.items()))
    print(f"  agreement with the reference vote (stable ranking, lowest id wins a tie): "
          f"kestrel {figures['kestrel_matches_reference'] * 100:.2f} %, "
          f"scikit-learn {figures['sklearn_matches_reference'] * 100:.2f} %")
    print(f"  accuracy: kestrel {figures['kestrel_accuracy'] * 100:.2f} %, "
          f"scikit-learn {figures['sklearn_accuracy'] * 100:.2f} %")
    print(f"  ties: {figures['vote_ties']} documents with a shared top vote (both programs give it to the "
          f"lowest category id), {figures['boundary_ties']} with equally similar k-th and (k+1)-th neighbours; "
          f"{figures['empty_test_vectors']} empty test vectors, "
          f"{figures['empty_training_vectors']} empty training vectors")
    if unexplained:
        print(f"  unexplained differences (test.dat lines, 1-based): "
              f"{', '.join(str(i + 1) for i in unexplained[:20])}{' ...' if len(unexplained) > 20 else ''}")
    if args.json:
        with open(args.json, "w") as f:
            json.dump(figures, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
