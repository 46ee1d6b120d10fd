#pragma once
// Numbers in files and messages, written and read the same way whatever the
// process locale says: the decimal point is always '.', there is never a
// thousands separator. Every writer and reader of numbers goes through these.
#include <string>
#include <string_view>

namespace kestrel {

// "%.*f": `decimals` digits after the point ("%.6f" of 0.5 is "0.500000").
void appendFixed(std::string& out, double value, int decimals);
std::string fixedText(double value, int decimals);

// "%.*g" with a precision of 1 to 32 (trailing zeros dropped, exponent form
// for very large and small values).
void appendReal(std::string& out, double value, int precision);
std::string realText(double value, int precision);

void appendLong(std::string& out, long value);

// Integer at the start of [begin, end) (optional sign), like "%ld": true when
// at least one digit was read; `stop` is set past the digits. A value too
// large for a long reads as the extreme value, like strtol.
bool parseLong(const char* begin, const char* end, long& value, const char** stop);

// Real number at the start of [begin, end) (optional sign; decimal, exponent,
// "inf" or "nan"), like strtod without the leading blanks. True when a number
// was read; `stop` is set past it. Out-of-range values read as +-HUGE_VAL or 0.
bool parseDouble(const char* begin, const char* end, double& value, const char** stop);

// The real value of the leading text the way strtod reads it (leading blanks
// skipped); 0 without a number.
double leadingReal(std::string_view text);

// The whole text (blanks around it allowed) as one number; false for an
// empty text, trailing junk or a value out of range.
bool parseWholeReal(std::string_view text, double& value);
bool parseWholeLong(std::string_view text, long& value);

}  // namespace kestrel
