#include "cli/SvmOptions.h"

#include <charconv>
#include <cmath>

namespace kestrel {

bool parseOptionReal(const std::string& text, double& value) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin < end && *begin == '+') ++begin;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    return ec == std::errc() && ptr == end && begin != end && std::isfinite(value);
}

bool parseOptionLong(const std::string& text, long& value) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin < end && *begin == '+') ++begin;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    return ec == std::errc() && ptr == end && begin != end;
}

}  // namespace kestrel
