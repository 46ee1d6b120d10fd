#include "classify/svm/SvmOptions.h"

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

SvmOptionResult parseSvmOption(int argc, char** argv, int& i, SvmSettings& settings,
                               std::string& error) {
    const std::string option = argv[i];
    if (option == "--no-bias") {
        settings.biased = 0;
        return SvmOptionResult::Consumed;
    }
    const bool known = option == "--kernel" || option == "-d" || option == "-g" ||
                       option == "-s" || option == "-c" || option == "-e";
    if (!known) return SvmOptionResult::NotSvmOption;
    if (i + 1 >= argc) {
        error = "option " + option + " needs a value";
        return SvmOptionResult::Error;
    }
    const std::string value = argv[++i];
    auto bad = [&](const char* what) {
        error = "option " + option + ": " + what + ", not \"" + value + "\"";
        return SvmOptionResult::Error;
    };
    if (option == "--kernel") {
        if (value == "linear" || value == "0") settings.kernelType = 0;
        else if (value == "poly" || value == "polynomial" || value == "1") settings.kernelType = 1;
        else if (value == "rbf" || value == "2") settings.kernelType = 2;
        else if (value == "sigmoid" || value == "3") settings.kernelType = 3;
        else return bad("expected linear, poly, rbf or sigmoid");
        return SvmOptionResult::Consumed;
    }
    if (option == "-d") {
        long degree = 0;
        if (!parseOptionLong(value, degree) || degree < -2147483647L || degree > 2147483647L)
            return bad("expected a whole number");
        settings.degree = degree;
        return SvmOptionResult::Consumed;
    }
    double real = 0.0;
    if (!parseOptionReal(value, real)) return bad("expected a number");
    if (option == "-g") settings.gamma = real;
    else if (option == "-s") settings.coefS = real;
    else if (option == "-c") settings.coefC = real;
    else if (option == "-e") settings.tolerance = real;
    return SvmOptionResult::Consumed;
}

const char* svmOptionsHelp() {
    return "  --kernel K     linear (default), poly, rbf or sigmoid\n"
           "  -d N           degree of the polynomial kernel (default 1)\n"
           "  -g X           width of the radial basis kernel (default 1)\n"
           "  -s X           factor of the dot product in poly/sigmoid kernels (default 1)\n"
           "  -c X           additive constant in poly/sigmoid kernels (default 0)\n"
           "  -e X           tolerance recorded with the parameters (default 0.001)\n"
           "  --no-bias      hyperplane through the origin (threshold fixed at 0)\n";
}

}  // namespace kestrel
