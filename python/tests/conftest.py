"""Shared fixtures: the kestrel program of the same build and the sample corpus."""

import os
import pathlib
import shutil
import subprocess

import pytest

import kestrel

SOURCE_DIR = pathlib.Path(os.environ.get("KESTREL_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
BIN_DIR = pathlib.Path(os.environ.get("KESTREL_BIN_DIR", SOURCE_DIR / "build" / "bin"))


def run_kestrel(*args, cwd=None):
    """Runs the kestrel program; its standard output, or the test fails with its messages."""
    done = subprocess.run([str(BIN_DIR / "kestrel"), *map(str, args)], cwd=cwd, capture_output=True, timeout=120)
    assert done.returncode == 0, done.stderr.decode("utf-8", "replace")
    return done.stdout


@pytest.fixture(scope="session")
def segmenter():
    return kestrel.Segmenter()


@pytest.fixture(scope="session")
def sample(tmp_path_factory):
    """A copy of the sample corpus (training writes beside the documents)."""
    copy = tmp_path_factory.mktemp("sample") / "sample"
    shutil.copytree(SOURCE_DIR / "examples" / "sample", copy)
    return copy


@pytest.fixture(scope="session")
def sample_files(sample):
    return sorted(sample.glob("*/*/*.txt")) + sorted(sample.glob("unlabelled/*.txt"))


@pytest.fixture(scope="session")
def trained(sample, tmp_path_factory):
    """The training corpus after `kestrel train`: its .seg files and workspace."""
    workspace = tmp_path_factory.mktemp("workspace")
    run_kestrel("train", "--corpus", sample / "train", "--workspace", workspace)
    return sample / "train", workspace


def read_seg(path):
    """{word: count} of a .seg file."""
    counts = {}
    for line in path.read_bytes().decode("gb18030").splitlines():
        word, _, count = line.rpartition(":")
        counts[word] = int(count)
    return counts
