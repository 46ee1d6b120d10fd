#include "WordClasses.h"

#include "common/Encoding.h"

namespace kestrel {

int32_t packTag(std::string_view tag) {
    if (tag.empty()) return 0;
    for (char c : tag)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return 0;
    if (tag == "eng") tag = "nx";
    if (tag.size() > 2) tag = tag.substr(0, 2);  // nrt, nrfg -> nr; vvn -> vv
    if (tag.size() == 1) return static_cast<unsigned char>(tag[0]) * 256;
    return static_cast<unsigned char>(tag[0]) * 256 + static_cast<unsigned char>(tag[1]);
}

const ClassTokens& classTokens() {
    static const ClassTokens tokens{utf8ToGbk("未##数"), utf8ToGbk("未##时"), utf8ToGbk("未##串"),
                                    utf8ToGbk("未##人"), utf8ToGbk("未##地"), utf8ToGbk("始##始"),
                                    utf8ToGbk("末##末")};
    return tokens;
}

size_t gbkCharBytes(std::string_view gbk, size_t i) {
    return static_cast<unsigned char>(gbk[i]) >= 0x80 && i + 1 < gbk.size() ? 2 : 1;
}

size_t gbkLength(std::string_view gbk) {
    size_t n = 0;
    for (size_t i = 0; i < gbk.size(); i += gbkCharBytes(gbk, i)) ++n;
    return n;
}

std::string gbkCharacters(std::string_view utf8) { return utf8ToGbk(utf8); }

bool containsGbkChar(std::string_view set, std::string_view ch) {
    if (ch.size() != 2) return false;
    for (size_t i = 0; i + 1 < set.size(); i += 2)
        if (set[i] == ch[0] && set[i + 1] == ch[1]) return true;
    return false;
}

namespace {

struct NumberSets {
    std::string digits = gbkCharacters("０１２３４５６７８９");
    std::string numerals =
        gbkCharacters("零○〇一二两三四五六七八九十廿百千万亿壹贰叁肆伍陆柒捌玖拾佰仟点");
    std::string separators = gbkCharacters("∶·．／±—＋－％‰");
    std::string leaders = gbkCharacters("第几数上成");
    std::string fen = gbkCharacters("分之");
    std::string timeUnits = gbkCharacters("年月日时分秒点");
    std::string monthUnit = gbkCharacters("月份");
};

const NumberSets& numberSets() {
    static const NumberSets sets;
    return sets;
}

}  // namespace

bool isNumberWord(std::string_view w) {
    const auto& s = numberSets();
    bool sawDigit = false;
    for (size_t i = 0; i < w.size();) {
        const size_t n = gbkCharBytes(w, i);
        const std::string_view ch = w.substr(i, n);
        if (n == 1) {
            const char c = ch[0];
            if (c >= '0' && c <= '9') sawDigit = true;
            else if (std::string_view("+-./%").find(c) == std::string_view::npos) return false;
        } else if (containsGbkChar(s.digits, ch) || containsGbkChar(s.numerals, ch)) {
            sawDigit = true;
        } else if (w.substr(i, 4) == s.fen && sawDigit) {
            i += 4;
            continue;
        } else if (!(containsGbkChar(s.separators, ch) || (i == 0 && containsGbkChar(s.leaders, ch)))) {
            return false;
        }
        i += n;
    }
    return sawDigit;
}

bool isNumberTimeWord(std::string_view w) {
    const auto& s = numberSets();
    if (w.size() > 4 && w.substr(w.size() - 4) == s.monthUnit) return isNumberWord(w.substr(0, w.size() - 4));
    if (w.size() < 4 || static_cast<unsigned char>(w[w.size() - 2]) < 0x80) return false;
    return containsGbkChar(s.timeUnits, w.substr(w.size() - 2)) && isNumberWord(w.substr(0, w.size() - 2));
}

bool isForeignStringWord(std::string_view w) {
    bool letter = false;
    for (size_t i = 0; i < w.size();) {
        const auto c = static_cast<unsigned char>(w[i]);
        if (c < 0x80) {
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) letter = true;
            else if (!(c >= '0' && c <= '9')) return false;
            ++i;
            continue;
        }
        if (i + 1 >= w.size() || c != 0xA3) return false;
        const auto t = static_cast<unsigned char>(w[i + 1]);
        if ((t >= 0xC1 && t <= 0xDA) || (t >= 0xE1 && t <= 0xFA)) letter = true;
        else if (!(t >= 0xB0 && t <= 0xB9)) return false;
        i += 2;
    }
    return letter;
}

}  // namespace kestrel
