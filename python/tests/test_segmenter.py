"""kestrel.Segmenter against the kestrel program on the sample corpus."""

import pickle
import threading

import pytest

import kestrel
from conftest import run_kestrel, read_seg


def test_cut_gives_the_words_of_segment_plain(segmenter, sample_files):
    expected = run_kestrel("segment", "--plain", *sample_files).decode("utf-8").split()
    texts = [path.read_bytes() for path in sample_files]
    assert [w for text in texts for w in segmenter.cut(text)] == expected
    assert [w for words in segmenter.cut_many(texts) for w in words] == expected


def test_words_give_the_word_list_of_segment(segmenter, sample_files):
    expected = run_kestrel("segment", *sample_files).decode("utf-8").split("\n")[:-1]
    texts = [path.read_bytes() for path in sample_files]
    assert [w for words in segmenter.words_many(texts) for w in words] == expected


def test_cut_counts_equal_the_seg_files_of_train(segmenter, trained):
    corpus, _ = trained
    documents = sorted(corpus.glob("*/*.txt"))
    expected = [read_seg(path.with_suffix(".seg")) for path in documents]
    texts = [path.read_bytes() for path in documents]
    assert [segmenter.cut_counts(text) for text in texts] == expected
    counted = segmenter.cut_counts_many(texts)
    assert counted == expected
    # The order of first occurrence is that of the file.
    assert [list(c) for c in counted] == [list(e) for e in expected]


def test_str_utf8_and_gb18030_bytes_give_the_same_words(segmenter, sample_files):
    text = b"".join(path.read_bytes() for path in sample_files[:5]).decode("gb18030")
    # A character GBK does not have travels as four GB18030 bytes.
    text += "\n𠀀字与€符号 ABC中文123"
    forms = [text, text.encode("utf-8"), text.encode("gb18030"), "\ufeff" + text]
    assert all(segmenter.cut(form) == segmenter.cut(text) for form in forms)
    assert all(segmenter.cut_counts(form) == segmenter.cut_counts(text) for form in forms)
    assert "𠀀字" in "".join(segmenter.cut(text))
    assert segmenter.cut("") == [] and segmenter.cut_counts(b"") == {}


def test_bad_input_raises_with_the_programs_message(segmenter, tmp_path):
    binary = bytes(range(256)) * 8
    (tmp_path / "binary.txt").write_bytes(binary)
    done = run_kestrel_failing("segment", tmp_path / "binary.txt")
    assert "is not a text file (binary)" in done
    with pytest.raises(ValueError, match=r"^text is not a text file \(binary\)$"):
        segmenter.cut(binary)
    with pytest.raises(ValueError, match=r"^text 1 is not a text file \(binary\)$"):
        segmenter.cut_counts_many(["好", binary])
    with pytest.raises(TypeError, match="str or bytes"):
        segmenter.cut(12)
    with pytest.raises(TypeError, match="not a single text"):
        segmenter.cut_many("今天天气很好")
    assert segmenter.cut_many(t for t in ["今天", "天气".encode("gb18030")]) == [["今天"], ["天气"]]
    with pytest.warns(UnicodeWarning, match="1 byte that is not valid"):
        assert segmenter.cut("今天天气很好，我们去公园散步。".encode("utf-8") + b"\xff") != []


def run_kestrel_failing(*args):
    import subprocess
    from conftest import BIN_DIR

    done = subprocess.run([str(BIN_DIR / "kestrel"), *map(str, args)], capture_output=True, timeout=60)
    assert done.returncode != 0
    return done.stderr.decode("utf-8", "replace")


def test_threads_on_one_segmenter_give_the_same_words(segmenter, sample_files):
    texts = [path.read_bytes() for path in sample_files]
    expected = [segmenter.cut(text) for text in texts]
    results = {}

    def work(n):
        results[n] = [segmenter.cut(text) for text in reversed(texts)][::-1]

    threads = [threading.Thread(target=work, args=(n,)) for n in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert all(results[n] == expected for n in range(4))
    assert segmenter.cut_many(texts, threads=3) == expected


def test_data_directory_and_its_failures(segmenter, monkeypatch, tmp_path):
    assert kestrel.Segmenter(data=segmenter.data_directory).data_directory == segmenter.data_directory
    # A data directory given explicitly is the one used, or the call fails naming it.
    with pytest.raises(RuntimeError, match=f"cannot load the segmenter's data: .*{tmp_path}"):
        kestrel.Segmenter(data=str(tmp_path))
    monkeypatch.setenv("KESTREL_DATA", str(tmp_path / "elsewhere"))
    monkeypatch.chdir(tmp_path)
    assert kestrel.default_data_directories()[:2] == [f"{tmp_path}/data/", f"{tmp_path}/elsewhere/"]
    assert kestrel.Segmenter().data_directory == segmenter.data_directory


def test_segmenter_pickles_and_has_the_programs_version(segmenter):
    copy = pickle.loads(pickle.dumps(segmenter))
    assert copy.cut("今天天气很好") == segmenter.cut("今天天气很好")
    assert run_kestrel("--version").decode().split() == ["kestrel", kestrel.__version__]


def test_seg_files_are_never_written_through_a_symbolic_link(segmenter, tmp_path):
    # The writer behind kestrel.dask.to_seg, called without dask.
    out, outside = tmp_path / "out", tmp_path / "outside"
    (out / "other").mkdir(parents=True)
    outside.mkdir()
    (outside / "target").write_bytes(b"keep")
    (out / "cat").symlink_to(outside)
    (out / "other" / "z.seg").symlink_to(outside / "target")
    records = [("cat/x", "今天天气很好"), ("other/y", "中文"), ("other/z", "公园")]
    written, problems = segmenter._write_seg(str(out), records, 2)
    # A linked category is refused; a link in place of a file is replaced, its target left alone.
    assert written == ["other/y", "other/z"]
    assert len(problems) == 1 and problems[0].startswith("record 0: ") and "is a symbolic link" in problems[0]
    assert list(outside.iterdir()) == [outside / "target"] and (outside / "target").read_bytes() == b"keep"
    assert not (out / "other" / "z.seg").is_symlink()
    assert read_seg(out / "other" / "z.seg") == segmenter.cut_counts("公园")
