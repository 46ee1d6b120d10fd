#include "cli/OptionParser.h"

#include <cstdio>
#include <memory>
#include <optional>

#include "classify/SvmEngine.h"
#include "workspace/ParameterNames.h"
#include "cli/SvmOptions.h"

namespace kestrel::cli {

namespace {

constexpr size_t kNameColumn = 24;
constexpr size_t kLineWidth = 79;

// Help in the layout of the other kestrel commands: the usage line first,
// then what the command does, then the options with their descriptions
// wrapped to the width of a terminal.
class HelpFormatter : public CLI::Formatter {
public:
    HelpFormatter() { column_width(kNameColumn); }

    std::string make_description(const CLI::App*) const override { return {}; }
    std::string make_usage(const CLI::App* app, std::string name) const override {
        std::string usage = CLI::Formatter::make_usage(app, name);
        // The program itself takes a command and that command's options.
        if (app->get_prefix_command()) usage.insert(usage.find('\n'), " COMMAND [options]");
        return usage + "\n" + app->get_description();
    }
    std::string make_option_opts(const CLI::Option* option) const override {
        const std::string& text = option->get_option_text();
        return text.empty() ? std::string() : " " + text;
    }
    std::string make_option_name(const CLI::Option* option, bool positional) const override {
        return positional ? std::string() : CLI::Formatter::make_option_name(option, positional);
    }
    std::string make_option_usage(const CLI::Option* option) const override {
        return option->get_option_text();  // positionals only
    }
    std::string make_option_desc(const CLI::Option* option) const override {
        return wrapped(option->get_description(), kLineWidth - kNameColumn);
    }

private:
    // Breaks `text` at blanks into lines of at most `width` characters
    // (counting each UTF-8 character once).
    static std::string wrapped(const std::string& text, size_t width) {
        std::string out;
        size_t lineLength = 0;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find(' ', start);
            if (end == std::string::npos) end = text.size();
            const std::string word = text.substr(start, end - start);
            size_t length = 0;
            for (const char c : word) length += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
            if (lineLength > 0 && lineLength + 1 + length > width) {
                out += '\n';
                lineLength = 0;
            } else if (lineLength > 0) {
                out += ' ';
                ++lineLength;
            }
            out += word;
            lineLength += length;
            start = end + 1;
        }
        return out;
    }
};

}  // namespace

OptionParser::OptionParser(const std::string& command, const std::string& description)
    : app_(description, command.empty() ? "kestrel" : "kestrel " + command) {
    // Unknown options are refused below with a message of our own.
    app_.allow_extras();
    // An option given twice takes its last value.
    app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app_.formatter(std::make_shared<HelpFormatter>());
    app_.set_help_flag("-h,--help", "show this help");
}

CLI::Option* OptionParser::addNumber(const std::string& name, uint32_t& target, uint32_t min, uint32_t max,
                                     const std::string& description) {
    return app_
        .add_option_function<std::string>(
            name,
            [this, name, &target, min, max](const std::string& value) {
                uint64_t number = 0;
                const bool digits = !value.empty() && value.size() <= 10 &&
                                    value.find_first_not_of("0123456789") == std::string::npos;
                if (digits) number = std::stoull(value);
                if (!digits || number < min || number > max) refuse(name, value);
                target = static_cast<uint32_t>(number);
            },
            description)
        ->option_text("N");
}

void OptionParser::refuse(const std::string& name, const std::string& value) const {
    throw CLI::ValidationError("bad value for " + name + ": " + value + " (see " + app_.get_name() + " --help)");
}

int OptionParser::usageError(const std::string& message) const {
    std::fprintf(stderr, "%s: %s\n", app_.get_name().c_str(), message.c_str());
    return 2;
}

int OptionParser::parse(int argc, char** argv) {
    try {
        app_.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app_.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion& version) {
        std::printf("%s\n", version.what());
        return 0;
    } catch (const CLI::ParseError& e) {
        return usageError(e.what());
    }
    const std::vector<std::string> extra = app_.remaining();
    if (extra.empty() || app_.get_prefix_command()) return -1;
    return usageError((extra[0].starts_with("-") ? "unknown option " : "unexpected argument ") + extra[0] +
                      " (see " + app_.get_name() + " --help)");
}

CLI::Option* addEncodingOption(CLI::App& app, std::string& encoding, const std::string& description) {
    return app.add_option("--encoding", encoding, description)
        ->option_text("ENC")
        ->check([](const std::string& value) -> std::string {
            if (value == "utf8" || value == "utf-8" || value == "UTF-8" || value == "gbk" || value == "GBK") return {};
            return "unknown encoding '" + value + "' (use utf8 or gbk)";
        });
}

StreamEncoding streamEncoding(const std::string& encoding) {
    return encoding == "gbk" || encoding == "GBK" ? StreamEncoding::kGb18030 : StreamEncoding::kUtf8;
}

namespace {

// An SVM option's value refused: "option -g: expected a number, not "x"".
[[noreturn]] void refuseSvmValue(const std::string& option, const char* what, const std::string& value) {
    throw CLI::ValidationError("option " + option + ": " + what + ", not \"" + value + "\"");
}

void addReal(CLI::App& app, const std::string& option, double& target, const std::string& description) {
    app.add_option_function<std::string>(
           option,
           [option, &target](const std::string& value) {
               if (!parseOptionReal(value, target)) refuseSvmValue(option, "expected a number", value);
           },
           description)
        ->option_text("X");
}

}  // namespace

void addSvmOptions(CLI::App& app, SvmSettings& settings) {
    const std::string group = "SVM parameters";
    app.add_option_function<std::string>(
           "--kernel",
           [&settings](const std::string& value) {
               const std::optional<int> kernel = parseKernel(value);
               if (!kernel) refuseSvmValue("--kernel", "expected linear, poly, rbf, sigmoid or a code 0 to 3", value);
               settings.kernelType = *kernel;
           },
           choiceList(kernelChoices(), ", ") + " (default linear)")
        ->option_text("K")
        ->group(group);
    app.add_option_function<std::string>(
           "-d",
           [&settings](const std::string& value) {
               long degree = 0;
               if (!parseOptionLong(value, degree) || degree < -2147483647L || degree > 2147483647L)
                   refuseSvmValue("-d", "expected a whole number", value);
               settings.degree = degree;
           },
           "degree of the polynomial kernel (default 1)")
        ->option_text("N")
        ->group(group);
    addReal(app, "-g", settings.gamma, "width of the radial basis kernel (default 1)");
    addReal(app, "-s", settings.coefS, "factor of the dot product in poly/sigmoid kernels (default 1)");
    addReal(app, "-c", settings.coefC, "additive constant in poly/sigmoid kernels (default 0)");
    addReal(app, "-e", settings.tolerance, "tolerance recorded with the parameters (default 0.001)");
    for (const char* option : {"-g", "-s", "-c", "-e"}) app.get_option(option)->group(group);
    app.add_flag_callback("--no-bias", [&settings] { settings.biased = 0; },
                          "hyperplane through the origin (threshold fixed at 0)")
        ->group(group);
}

}  // namespace kestrel::cli
