#pragma once
// GBK forms of the fixed texts of the segmenter. Sources are UTF-8, the
// segmenter works on GBK bytes, so each text is converted once on first use.
#include <string>
#include <string_view>

#include "common/Encoding.h"

namespace kestrel {

// GBK bytes of a UTF-8 literal (every literal used here has a GBK form).
inline std::string gbkText(std::string_view utf8) { return utf8ToGbk(utf8); }

}  // namespace kestrel
