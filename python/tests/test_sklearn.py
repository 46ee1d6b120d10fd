"""The tokenizer in scikit-learn's vectorizers, pickled as joblib and Dask ship it."""

import pickle

import pytest

from kestrel.sklearn import Tokenizer

text_module = pytest.importorskip("sklearn.feature_extraction.text", reason="python3-sklearn is not installed")


def test_tokenizer_in_a_tfidf_vectorizer_survives_pickling(segmenter, sample_files):
    texts = [path.read_bytes().decode("gb18030") for path in sample_files]
    vectorizer = text_module.TfidfVectorizer(tokenizer=Tokenizer(), lowercase=False, token_pattern=None)
    vectorizer.fit(texts)
    kept = {w for words in segmenter.words_many(texts) for w in words}
    assert set(vectorizer.vocabulary_) == kept
    copy = pickle.loads(pickle.dumps(vectorizer))
    assert abs(copy.transform(texts) - vectorizer.transform(texts)).max() == 0

    plain = Tokenizer(plain=True)
    assert pickle.loads(pickle.dumps(plain)) == plain
    assert plain(texts[0]) == segmenter.cut(texts[0])
    counts = text_module.CountVectorizer(tokenizer=Tokenizer(), lowercase=False, token_pattern=None)
    row = counts.fit_transform(texts[:1])
    assert dict(zip(counts.get_feature_names_out(), row.toarray()[0])) == segmenter.cut_counts(texts[0])
