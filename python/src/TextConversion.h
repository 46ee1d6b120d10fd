#pragma once
// Texts between Python and the segmenter. A text arrives as a str (its
// UTF-8 bytes) or as bytes in UTF-8 or GB18030 (detected as the programs
// detect a file's encoding); the segmenter works in GB18030. Results go back
// as one UTF-8 buffer per text, converted once, from which the Python list
// or dict is built word by word.
#include <string>
#include <string_view>
#include <vector>

#include <pybind11/pybind11.h>

#include "common/Status.h"

namespace kestrel::python {

// The bytes of one text, viewed while the Python object is kept alive.
struct TextBytes {
    std::string_view bytes;
    bool utf8 = false;  // from a str: UTF-8 for certain
};

// A str or bytes object's bytes; `keep` holds what the view needs alive (a
// temporary UTF-8 copy of a non-ASCII str). TypeError for anything else.
TextBytes textBytes(pybind11::handle text, pybind11::object& keep);

// The text in GB18030. Bytes that are text in no encoding fail with the
// programs' message naming `name`; bytes replaced by U+FFFD leave the
// programs' warning in `warning`.
Status workingText(const TextBytes& text, const std::string& name, std::string& gbk, std::string& warning);

// The words (GB18030) joined by line feeds, in UTF-8.
std::string joinedWords(const std::vector<std::string>& words);

// The ".seg" lines "word:count" of the words (first occurrences in order,
// stop words already removed), in GB18030.
std::string segLines(const std::vector<std::string>& words);

// The Python list of the words of joinedWords().
pybind11::list wordList(std::string_view joinedUtf8);

// The Python dict {word: count} of UTF-8 ".seg" lines, in their order.
pybind11::dict countDict(std::string_view segLinesUtf8);

}  // namespace kestrel::python
