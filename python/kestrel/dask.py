"""Kestrel's segmenter over Dask collections, on one machine or a cluster.

    import dask.bag as db
    import kestrel.dask

    texts = db.from_sequence(["今天天气很好", "..."], npartitions=8)
    counts = kestrel.dask.segment(texts).compute()      # [{word: count}, ...]

    records = db.from_sequence([("体育/001", "..."), ("财经/002", "...")])
    kestrel.dask.to_seg(records, "corpus")              # corpus/体育/001.seg ...

Each worker process loads the segmenter's data once, on its first task, and
segments a partition on every core it has (threads=0) or on `threads`. With a
dask.distributed.Client the calls run on its cluster; the workers need the
module and the data (the Debian package) and, for to_seg, the directory.

Classification of a bag over a workspace comes with the module's workspace
API and is not part of this version.
"""

import dask
import dask.bag as _bag

from .sklearn import segmenter as _segmenter

__all__ = ["segment", "to_seg"]


def _is_record(item):
    return isinstance(item, (tuple, list)) and len(item) == 2


def _segment_partition(items, data, threads):
    items = list(items)
    records = [_is_record(item) for item in items]
    texts = [item[1] if record else item for item, record in zip(items, records)]
    counts = _segmenter(data).cut_counts_many(texts, threads)
    return [(item[0], c) if record else c for item, record, c in zip(items, records, counts)]


def _segment_series(series, data, threads):
    import pandas

    counts = _segmenter(data).cut_counts_many(list(series), threads)
    return pandas.Series(counts, index=series.index, name=series.name, dtype=object)


def segment(collection, data=None, column="text", threads=0):
    """Texts to word counts ({word: count}, as a .seg file holds them).

    A bag of texts (str, or bytes in UTF-8 or GB18030) gives a bag of dicts;
    a bag of (id, text) records a bag of (id, dict). A dask Series of texts,
    or the column `column` of a dask DataFrame, gives a Series of dicts.
    Nothing runs until the result is computed.
    """
    if isinstance(collection, _bag.Bag):
        return collection.map_partitions(_segment_partition, data, threads)
    try:
        import dask.dataframe as dd
    except ImportError:
        dd = None
    if dd is not None and isinstance(collection, dd.DataFrame):
        collection = collection[column]
    if dd is not None and isinstance(collection, dd.Series):
        return collection.map_partitions(_segment_series, data, threads, meta=(collection.name, object))
    raise TypeError(f"kestrel.dask.segment takes a dask bag, Series or DataFrame, not {type(collection).__name__}")


def _write_partition(records, directory, data, threads, index):
    return _segmenter(data)._write_seg(directory, records, threads, f"partition {index} record")


# Problems listed in the message of a failed to_seg, at most.
_SHOWN_PROBLEMS = 20


def _duplicates_across(results):
    """Ids that more than one partition wrote, as problems."""
    first = {}
    problems = []
    for index, (ids, _) in enumerate(results):
        for id_ in ids:
            if id_ in first:
                problems.append(f"partition {index}: document {id_} appeared before (partition {first[id_]}); "
                                f"its .seg file holds one of the two")
            else:
                first[id_] = index
    return problems


def to_seg(records, directory, data=None, threads=0):
    """Writes a .seg corpus that `kestrel train --format seg` reads.

    `records` is a bag of (id, text) pairs; the id "category/title" becomes
    directory/category/title.seg, the id "title" directory/title.seg, in
    GB18030, each file written atomically. Returns the number of files
    written. Records whose id is no such name, appears twice, or whose text
    is in no encoding are left out, and after writing the others to_seg
    raises ValueError naming them.
    """
    if not isinstance(records, _bag.Bag):
        raise TypeError(f"kestrel.dask.to_seg takes a dask bag of (id, text) records, not {type(records).__name__}")
    directory = str(directory)
    tasks = [dask.delayed(_write_partition)(part, directory, data, threads, index)
             for index, part in enumerate(records.to_delayed())]
    results = dask.compute(*tasks)
    duplicates = _duplicates_across(results)
    written = sum(len(ids) for ids, _ in results) - len(duplicates)
    problems = [problem for _, reported in results for problem in reported] + duplicates
    if problems:
        shown = "; ".join(problems[:_SHOWN_PROBLEMS])
        more = f"; and {len(problems) - _SHOWN_PROBLEMS} more" if len(problems) > _SHOWN_PROBLEMS else ""
        raise ValueError(f"{written} documents written below {directory}; {len(problems)} records left out: "
                         f"{shown}{more}")
    return written
