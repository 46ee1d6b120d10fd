"""kestrel.dask without a cluster and on a LocalCluster of two worker processes."""

import pytest

from conftest import read_seg, run_kestrel

dask_bag = pytest.importorskip("dask.bag", reason="python3-dask is not installed")
import kestrel.dask  # noqa: E402


def records_of(corpus):
    """(category/title, text) of every document of a corpus."""
    return [(f"{path.parent.name}/{path.stem}", path.read_bytes()) for path in sorted(corpus.glob("*/*.txt"))]


def test_segment_without_a_cluster(segmenter, sample_files):
    texts = [path.read_bytes() for path in sample_files]
    bag = dask_bag.from_sequence(texts, npartitions=3)
    assert kestrel.dask.segment(bag).compute(scheduler="sync") == segmenter.cut_counts_many(texts)
    dataframe = pytest.importorskip("dask.dataframe", reason="python3-pandas is not installed")
    import pandas

    frame = dataframe.from_pandas(pandas.DataFrame({"text": texts}), npartitions=2)
    assert list(kestrel.dask.segment(frame).compute()) == segmenter.cut_counts_many(texts)


def test_to_seg_leaves_out_bad_records_and_says_so(segmenter, tmp_path):
    records = [("体育/a", "今天天气很好"), ("../b", "中文"), ("体育/a", "再来"), ("c", bytes(range(256)) * 4)]
    with pytest.raises(ValueError) as raised:
        kestrel.dask.to_seg(dask_bag.from_sequence(records, npartitions=1), tmp_path / "out")
    message = str(raised.value)
    assert message.startswith("1 documents written") and "3 records left out" in message
    assert "record 1 (../b): the document id is not" in message
    assert "document 体育/a appeared before (partition 0 record 0)" in message
    assert "record 3 is not a text file (binary)" in message
    assert sorted(p.name for p in (tmp_path / "out").rglob("*")) == ["a.seg", "体育"]
    assert read_seg(tmp_path / "out" / "体育" / "a.seg") == segmenter.cut_counts("今天天气很好")
    twice = dask_bag.from_sequence([("体育/b", "中文"), ("体育/b", "好")], npartitions=2)
    with pytest.raises(ValueError, match=r"1 documents written .*partition 1: document 体育/b appeared before"):
        kestrel.dask.to_seg(twice, tmp_path / "out")



def test_a_local_cluster_segments_and_writes_what_the_program_writes(segmenter, trained, tmp_path):
    distributed = pytest.importorskip("distributed", reason="python3-distributed is not installed")
    corpus, workspace = trained
    records = records_of(corpus)
    expected = {id_: read_seg(corpus / f"{id_}.seg") for id_, _ in records}
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None, worker_dashboard_address=None) as cluster, \
            distributed.Client(cluster, timeout=60) as client:
        bag = dask_bag.from_sequence(records, npartitions=4)
        segmented = client.compute(kestrel.dask.segment(bag)).result(timeout=120)
        assert dict(segmented) == expected
        assert len(client.run(lambda: 1)) == 2
        written = kestrel.dask.to_seg(bag, tmp_path / "seg")
    assert written == len(records)
    run_kestrel("train", "--corpus", tmp_path / "seg", "--format", "seg", "--workspace", tmp_path / "ws")
    assert (tmp_path / "ws" / "train.dat").read_bytes() == (workspace / "train.dat").read_bytes()
