#include "tools/command_line.h"

#include <CLI/CLI.hpp>

namespace tools {

ParseOutcome ParseCommandLine(CLI::App& app, const std::vector<std::string>& args, std::string* error,
                              const std::string& versionFlags) {
    app.set_help_flag("-h,--help");
    app.set_version_flag(versionFlags, std::string(VORNIC_VERSION));
    // The parser takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return ParseOutcome::Help;
    } catch (const CLI::CallForVersion&) {
        return ParseOutcome::Version;
    } catch (const CLI::ParseError& e) {
        *error = e.what();
        return ParseOutcome::UsageError;
    }
    return ParseOutcome::Run;
}

CLI::Option* AddValueOption(CLI::App& app, const std::string& names, std::function<void(const std::string&)> take) {
    return app.add_option_function<std::string>(names, std::move(take))->trigger_on_parse();
}

CLI::Option* AddFlagOption(CLI::App& app, const std::string& names, std::function<void()> take) {
    return app.add_flag_callback(names, std::move(take))->trigger_on_parse();
}

void RefuseValue(const std::string& option, const std::string& reason) {
    throw CLI::ValidationError(option, reason);
}

std::string UsageErrorText(std::string_view program, const std::string& reason) {
    return std::string(program) + ": " + reason + "\n(--help lists the options)\n";
}

std::string VersionLine(std::string_view program) {
    return std::string(program) + " " VORNIC_VERSION;
}

std::optional<std::uint32_t> ParseDottedQuad(std::string_view text) {
    std::uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = text.find('.');
        if ((part < 3) != (dot != std::string_view::npos)) return std::nullopt;
        const std::string_view piece = text.substr(0, dot);
        // "0255" would read as 255 but names no part of an address.
        const auto value = piece.size() <= 3 ? ParseNumber<std::uint32_t>(piece, 0, 255) : std::nullopt;
        if (!value) return std::nullopt;
        address = (address << 8) | *value;
        if (dot != std::string_view::npos) text.remove_prefix(dot + 1);
    }
    return address;
}

}  // namespace tools
