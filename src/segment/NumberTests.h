#pragma once
// Tests that decide whether a word is a number (Arabic or Chinese numerals)
// and whether a number can be a year; used to merge numbers and times.
#include <string_view>

namespace kestrel {

// Optional sign, full-width digits with an optional separator and more
// full-width digits, ASCII digits likewise, then a percent sign or a run of
// multipliers (百千万亿佰仟). A slash separates digits but never leads.
bool isAllNum(std::string_view s);
// Chinese numerals (and 分之, the separators ∶·．／ and 点); the first
// character may instead be one of 几数第上成.
bool isAllChineseNum(std::string_view s);
// Chinese numerals (〇 to 九, 十 百 千 万 亿) mixed with ASCII or full-width
// digits, at least one of each: 二００一, ３万二千.
bool isMixedNum(std::string_view s);
// Whether a number followed by 年 names a year.
bool isYearTime(std::string_view s);

inline bool isNumber(std::string_view s) { return isAllNum(s) || isAllChineseNum(s) || isMixedNum(s); }
// False when no string that begins with the first character of `s` is a
// number: most words are turned away without the tests.
bool mayBeNumber(std::string_view s);
// False when neither `s` nor any string that begins with it is a number:
// some whole character of `s` is one that no number holds.
bool mayBeginNumber(std::string_view s);

}  // namespace kestrel
