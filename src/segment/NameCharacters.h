#pragma once
// Characters typical of transliterated Western, Japanese and transliterated
// Russian names (GBK). The person recogniser uses them to decide whether a
// doubled surname-given-name pattern is a name sequence.
#include <string>

namespace kestrel {

const std::string& westernNameCharacters();
const std::string& japaneseNameCharacters();
const std::string& russianNameCharacters();

}  // namespace kestrel
