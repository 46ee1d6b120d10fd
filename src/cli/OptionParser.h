#pragma once
// The options of one kestrel subcommand, parsed with CLI11 so that every
// subcommand answers --help, bad values and unknown options the same way:
// help on standard output with status 0, a one-line message on standard
// error with status 2.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cli/SegStream.h"

namespace kestrel {
struct SvmSettings;
}

namespace kestrel::cli {

// The words of a list of choices joined by `separator`, for the help.
template <typename T>
std::string choiceList(const std::vector<std::pair<std::string, T>>& choices, const char* separator) {
    std::string text;
    for (const auto& choice : choices) text += (text.empty() ? "" : separator) + choice.first;
    return text;
}

class OptionParser {
public:
    // `command` is the subcommand's name ("train"), empty for the program
    // itself; `description` opens its --help.
    OptionParser(const std::string& command, const std::string& description);

    CLI::App& app() { return app_; }

    // A whole number in [min, max].
    CLI::Option* addNumber(const std::string& name, uint32_t& target, uint32_t min, uint32_t max,
                           const std::string& description);
    // One of the words of `choices`, each standing for a value.
    template <typename T>
    CLI::Option* addChoice(const std::string& name, T& target, std::vector<std::pair<std::string, T>> choices,
                           const std::string& description) {
        const std::string text = optionText(choices);
        return app_
            .add_option_function<std::string>(
                name,
                [this, name, &target, choices = std::move(choices)](const std::string& value) {
                    for (const auto& [word, meaning] : choices)
                        if (word == value) {
                            target = meaning;
                            return;
                        }
                    refuse(name, value);
                },
                description)
            ->option_text(text);
    }

    // Parses argv (argv[0] being the subcommand). -1 when the command is to
    // run; otherwise the exit status, after printing the help or the
    // message.
    int parse(int argc, char** argv);

    // Refuses a value: "bad value for NAME: VALUE (see kestrel COMMAND --help)".
    [[noreturn]] void refuse(const std::string& name, const std::string& value) const;
    // Prints a usage message on standard error; returns the status 2.
    int usageError(const std::string& message) const;

private:
    template <typename T>
    static std::string optionText(const std::vector<std::pair<std::string, T>>& choices) {
        return choiceList(choices, "|");
    }

    CLI::App app_;
};

// Adds --encoding ENC, accepting utf8 (utf-8, UTF-8) and gbk (GBK).
CLI::Option* addEncodingOption(CLI::App& app, std::string& encoding, const std::string& description);
// The encoding --encoding named (checked by addEncodingOption).
StreamEncoding streamEncoding(const std::string& encoding);

// The SVM parameters shared by train and svm-learn: --kernel (the words and
// codes of kernelChoices), -d, -g, -s, -c, -e and --no-bias.
void addSvmOptions(CLI::App& app, SvmSettings& settings);

}  // namespace kestrel::cli
