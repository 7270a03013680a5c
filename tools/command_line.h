#pragma once
// What the command-line programs share: one way to run the option parser
// over the arguments, the --help and --version every program answers, and
// numbers and addresses checked whole and against their range.

#include <charconv>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace tools {

// The exit statuses both programs share.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// The run itself ended, but its record (vornic-flash's report) could not be
// written whole.
inline constexpr int kExitReportFailed = 3;
// vornic-flash's staged fleet runs: the targets after a failed canary, or
// after --max-failures, were not started.
inline constexpr int kExitCanaryFailed = 4;
inline constexpr int kExitStoppedAfterFailures = 5;
// After a Break requested by a signal, 128 + the signal, as shells count it:
// InterruptSignals::RequestedExitStatus.

enum class ParseOutcome { Run, Help, Version, UsageError };

// Runs `app` over the arguments after the program's name, with -h/--help and
// `versionFlags` added. The programs print their own usage text, so the
// parser prints nothing; a usage error's reason goes to *error.
ParseOutcome ParseCommandLine(CLI::App& app, const std::vector<std::string>& args, std::string* error,
                              const std::string& versionFlags = "--version");

// What a usage error prints: the reason and where the options are listed.
std::string UsageErrorText(std::string_view program, const std::string& reason);

// An option with one value. `take` runs as each occurrence is read, so a
// repeated option is seen every time and in the order given; it refuses a
// value with RefuseValue.
CLI::Option* AddValueOption(CLI::App& app, const std::string& names, std::function<void(const std::string&)> take);
// An option without a value, taken the same way.
CLI::Option* AddFlagOption(CLI::App& app, const std::string& names, std::function<void()> take);

// Ends the parse with a usage error "option: reason".
[[noreturn]] void RefuseValue(const std::string& option, const std::string& reason);

// "program 1.2.3.4", the line --version prints.
std::string VersionLine(std::string_view program);

// A whole unsigned number in `base` within [low, high]: no sign, no blanks,
// nothing after the digits.
template <typename T>
std::optional<T> ParseNumber(std::string_view text, T low, T high, int base = 10) {
    std::uint64_t value = 0;
    const char* const end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || failure != std::errc{} || stop != end) return std::nullopt;
    if (std::cmp_less(value, low) || std::cmp_greater(value, high)) return std::nullopt;
    return static_cast<T>(value);
}

// Four decimal parts of 0..255 ("127.0.0.1"), in host byte order. Names and
// the short forms ("127.1") are refused: no lookup may reach beyond the link.
std::optional<std::uint32_t> ParseDottedQuad(std::string_view text);

}  // namespace tools
