"""Kestrel from Python: its word segmenter for Chinese text.

    import kestrel
    seg = kestrel.Segmenter()
    seg.cut("今天天气很好")          # ['今天', '天气', '很', '好']
    seg.cut_counts("...")            # {word: count}, as a .seg file holds them

kestrel.sklearn holds a tokenizer for scikit-learn's vectorizers,
kestrel.dask the segmentation of Dask bags and data frames.
"""

import os as _os

from . import _location
from ._kestrel import Segmenter, __version__, default_data_directories
from ._kestrel import _set_package_data_directories

__all__ = ["Segmenter", "__version__", "default_data_directories"]

# The data built or installed with the package, after ./data/ and $KESTREL_DATA.
_set_package_data_directories(
    [_os.path.normpath(_os.path.join(_os.path.dirname(_os.path.abspath(__file__)), _location.DATA_DIR))])
