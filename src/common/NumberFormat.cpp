#include "common/NumberFormat.h"

#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <locale.h>

namespace kestrel {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// A plain decimal ("0.070387", "-12.5", "3") of at most 15 digits, read
// exactly as from_chars reads it: the digits form an integer m below 2^53
// and the point shifts it by k <= 15 places, so m / 10^k is a single
// correctly rounded division of two exact doubles. False (nothing read)
// for anything else, which the general reader then takes.
bool parsePlainDecimal(const char* p, const char* end, double& value, const char** stop) {
    static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const bool negative = p < end && *p == '-';
    if (negative) ++p;
    uint64_t m = 0;
    int digits = 0, fraction = 0;
    bool point = false;
    for (; p < end; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            if (++digits > 15) return false;
            m = m * 10 + uint64_t(c - '0');
            fraction += point;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0 || (p < end && (*p == 'e' || *p == 'E'))) return false;
    const double v = double(m) / kPowers[fraction];
    value = negative ? -v : v;
    *stop = p;
    return true;
}

// The layout of "%.*g" for the significant digits digits[0, count) (no
// trailing zeros) of a value d.ddd * 10^exponent.
void appendLayout(std::string& out, bool negative, const char* digits, int count, int exponent,
                  int precision) {
    if (negative) out += '-';
    if (exponent >= -4 && exponent < precision) {
        if (exponent >= 0) {
            for (int i = 0; i <= exponent; ++i) out += i < count ? digits[i] : '0';
            if (count > exponent + 1) {
                out += '.';
                out.append(digits + exponent + 1, size_t(count - exponent - 1));
            }
        } else {
            out += "0.";
            out.append(size_t(-exponent - 1), '0');
            out.append(digits, size_t(count));
        }
    } else {
        out += digits[0];
        if (count > 1) {
            out += '.';
            out.append(digits + 1, size_t(count - 1));
        }
        out += exponent < 0 ? "e-" : "e+";
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude < 10) out += '0';
        out += std::to_string(magnitude);
    }
}

// "%.*g" for a precision of at most 9 and a value whose exponent in that
// layout lies in [-4, precision): the value scaled to `precision` digits
// before the point is one multiplication by an exact power of ten, off the
// exact product by less than 1e-7, so rounding it to an integer gives the
// correctly rounded digits whenever its fraction is not within 1e-6 of a
// half. False (nothing written) for every other value.
bool appendRoundedReal(std::string& out, double value, int precision) {
    static constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13};
    if (precision < 1 || precision > 9 || !std::isfinite(value) || value == 0.0) return false;
    const bool negative = value < 0.0;
    const double magnitude = negative ? -value : value;
    if (!(magnitude >= 9e-5 && magnitude < kPowers[precision])) return false;
    // A first guess of the exponent, which the loop below settles.
    int exponent = -4;
    while (exponent + 1 < precision && magnitude >= kPowers[exponent + 5] * 1e-4) ++exponent;
    // The exponent puts the scaled value into [10^(precision-1), 10^precision).
    const double low = kPowers[precision - 1], high = kPowers[precision];
    double scaled = 0.0;
    for (int attempt = 0;; ++attempt) {
        if (attempt == 3 || exponent < -4 || exponent >= precision) return false;
        scaled = magnitude * kPowers[precision - 1 - exponent];
        // Near a threshold the side it falls on is not certain.
        if (std::fabs(scaled - low) < 1e-6 || std::fabs(scaled - high) < 1e-6) return false;
        if (scaled < low) --exponent;
        else if (scaled >= high) ++exponent;
        else break;
    }
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (std::fabs(fraction - 0.5) < 1e-6) return false;  // too close to a tie to tell
    uint64_t rounded = uint64_t(whole) + (fraction > 0.5 ? 1 : 0);
    if (rounded == uint64_t(high)) {  // rounded up to the next power: one digit more before the point
        rounded = uint64_t(low);
        if (++exponent >= precision) return false;
    }
    char digits[16];
    for (int i = precision - 1; i >= 0; --i) {
        digits[i] = char('0' + rounded % 10);
        rounded /= 10;
    }
    int count = precision;
    while (count > 1 && digits[count - 1] == '0') --count;  // %g drops trailing zeros
    appendLayout(out, negative, digits, count, exponent, precision);
    return true;
}

// "%.*g" from the shortest representation of a normal value (or zero), when
// that has at most `precision` (<= 15) significant digits: rounding to
// `precision` digits then leaves it as it is (the shortest digits are within
// half a unit in the last place of the value, far closer than half a step of
// 15 digits; not so for subnormal values, whose units are coarse), so only
// the layout of %g is left to do. False (nothing written) otherwise.
bool appendShortReal(std::string& out, double value, int precision) {
    if (precision > 15 || !(value == 0.0 || std::fabs(value) >= DBL_MIN)) return false;
    char buffer[40];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    if (ec != std::errc()) return false;
    // buffer: [-]d[.ddd]e(+|-)xx
    const char* p = buffer;
    const bool negative = *p == '-';
    if (negative) ++p;
    char digits[24];
    int count = 0;
    for (; p < end && *p != 'e'; ++p)
        if (*p != '.') {
            if (count == int(sizeof digits)) return false;
            digits[count++] = *p;
        }
    if (p == end || count == 0 || count > precision) return false;
    ++p;  // 'e'
    const bool negativeExponent = *p == '-';
    int exponent = 0;
    for (++p; p < end; ++p) exponent = exponent * 10 + (*p - '0');
    if (negativeExponent) exponent = -exponent;
    while (count > 1 && digits[count - 1] == '0') --count;  // %g drops trailing zeros

    appendLayout(out, negative, digits, count, exponent, precision);
    return true;
}

}  // namespace

bool parseLong(const char* begin, const char* end, long& value, const char** stop) {
    const char* p = begin;
    if (p < end && *p == '+') ++p;
    auto [ptr, ec] = std::from_chars(p, end, value);
    if (ec == std::errc::result_out_of_range) {
        // Too large for a long: read it as the extreme value, like strtol.
        const char* q = (p < end && *p == '-') ? p + 1 : p;
        while (q < end && *q >= '0' && *q <= '9') ++q;
        value = (p < end && *p == '-') ? LONG_MIN : LONG_MAX;
        *stop = q;
        return true;
    }
    if (ec != std::errc()) return false;
    *stop = ptr;
    return true;
}

bool parseDouble(const char* begin, const char* end, double& value, const char** stop) {
    const char* p = begin;
    if (p < end && *p == '+') ++p;
    if (parsePlainDecimal(p, end, value, stop)) return true;
    auto [ptr, ec] = std::from_chars(p, end, value);
    if (ec == std::errc::result_out_of_range) {
        // Over- or underflow: take strtod's view (+-HUGE_VAL or 0) so the
        // caller's finiteness check decides; read in the "C" locale, whose
        // decimal point is the one these texts use.
        static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
        const std::string copy(p, ptr);
        value = strtod_l(copy.c_str(), nullptr, cLocale);
        *stop = ptr;
        return true;
    }
    if (ec != std::errc()) return false;
    *stop = ptr;
    return true;
}

void appendReal(std::string& out, double value, int precision) {
    if (appendRoundedReal(out, value, precision)) return;
    if (std::isfinite(value) && appendShortReal(out, value, precision)) return;
    char buffer[64];
    auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                   std::chars_format::general, precision);
    if (ec == std::errc()) out.append(buffer, ptr);
    else out += "nan";
}

void appendLong(std::string& out, long value) {
    char buffer[32];
    auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec;
    out.append(buffer, ptr);
}

void appendFixed(std::string& out, double value, int decimals) {
    char buffer[400];  // the largest double has 309 digits before the point
    auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (ec == std::errc()) out.append(buffer, ptr);
    else out += "nan";
}

std::string fixedText(double value, int decimals) {
    std::string out;
    appendFixed(out, value, decimals);
    return out;
}

std::string realText(double value, int precision) {
    std::string out;
    appendReal(out, value, precision);
    return out;
}

double leadingReal(std::string_view text) {
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end && isBlank(*p)) ++p;
    double value = 0.0;
    const char* stop = nullptr;
    return parseDouble(p, end, value, &stop) ? value : 0.0;
}

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

bool parseWholeReal(std::string_view text, double& value) {
    text = trimmed(text);
    const char* end = text.data() + text.size();
    const char* stop = nullptr;
    double v = 0.0;
    if (text.empty() || !parseDouble(text.data(), end, v, &stop) || stop != end || !std::isfinite(v)) return false;
    value = v;
    return true;
}

bool parseWholeLong(std::string_view text, long& value) {
    text = trimmed(text);
    const char* p = text.data();
    const char* end = p + text.size();
    if (p < end && *p == '+') ++p;
    long v = 0;
    auto [ptr, ec] = std::from_chars(p, end, v);
    if (text.empty() || ec != std::errc() || ptr != end) return false;
    value = v;
    return true;
}

}  // namespace kestrel
