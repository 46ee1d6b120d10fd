"""Kestrel in scikit-learn pipelines.

A tokenizer for scikit-learn's text vectorizers:

    from sklearn.feature_extraction.text import TfidfVectorizer
    from kestrel.sklearn import Tokenizer

    vectorizer = TfidfVectorizer(tokenizer=Tokenizer(), lowercase=False, token_pattern=None)
    X = vectorizer.fit_transform(texts)

The tokenizer pickles (joblib, multiprocessing and Dask ship it to other
processes) and loads the segmenter's data lazily, once per process.

An estimator over Kestrel's own classifiers (fit/predict over lists of
texts) belongs here too; it binds the training and classification stages
and is not part of this version.
"""

from ._kestrel import Segmenter

__all__ = ["Tokenizer"]

# Segmenters of this process by data argument; the data itself is loaded
# once per process and directory by the module.
_segmenters = {}


def segmenter(data=None):
    """The Segmenter of this process for `data`, made on first use."""
    found = _segmenters.get(data)
    if found is None:
        found = _segmenters[data] = Segmenter(data)
    return found


class Tokenizer:
    """A callable text -> list of words.

    By default the words are those Kestrel classifies on, in text order with
    repeats: stop words, punctuation and numbers removed (the word list of
    `kestrel segment`). With plain=True every word of the text is kept, as
    Segmenter.cut and `kestrel segment --plain` give them.
    """

    def __init__(self, data=None, plain=False):
        self.data = data
        self.plain = plain

    def __call__(self, text):
        seg = segmenter(self.data)
        return seg.cut(text) if self.plain else seg.words(text)

    def __getstate__(self):
        return {"data": self.data, "plain": self.plain}

    def __setstate__(self, state):
        self.data = state["data"]
        self.plain = state["plain"]

    def __eq__(self, other):
        return isinstance(other, Tokenizer) and (self.data, self.plain) == (other.data, other.plain)

    def __hash__(self):
        return hash((self.data, self.plain))

    def __repr__(self):
        return f"kestrel.sklearn.Tokenizer(data={self.data!r}, plain={self.plain!r})"
