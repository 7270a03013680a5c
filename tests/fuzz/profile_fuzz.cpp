// Drives the profile reader and writer with any text. An input is either
// "section\0key\0value\0text" or a plain text, then written with [Set] com=1.
//
// After a write of (section, key, value) to a text, split both texts into
// lines (content and line end: CR LF, LF, a lone CR or none at the end):
// - reading the key gives the value, and writing it again changes nothing;
// - when the key was there, one line at most differs, and only in the value
//   span (after the first '=', blanks and tabs around it excluded; right
//   after the '=' when the value was empty); its line end is the same;
// - when the key was missing, the new text is the old one with "key=value"
//   inserted as one line, or with "[section]" and "key=value" appended. A
//   line inserted after a line with a line end ends like that line; other
//   added line ends are the first one of the old text (CR LF when it had
//   none); an old last line without a line end gains that one, and the new
//   last line then has none.
// Every other line keeps its content and its line end byte for byte.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "settings/profile_text.h"

namespace {

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "profile invariant broken: %s\n", what);
    std::abort();
}

struct TextLine {
    std::string_view content;
    std::string_view end;
    bool operator==(const TextLine&) const = default;
};

std::vector<TextLine> Lines(std::string_view text) {
    std::vector<TextLine> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = pos;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
        std::size_t next = end;
        if (next < text.size()) {
            ++next;
            if (text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
        }
        lines.push_back({text.substr(pos, end - pos), text.substr(end, next - end)});
        pos = next;
    }
    return lines;
}

std::string_view FirstLineEnd(const std::vector<TextLine>& lines) {
    for (const TextLine& line : lines) {
        if (!line.end.empty()) return line.end;
    }
    return "\r\n";
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The line as it must read after its value span was replaced.
std::string WithValue(std::string_view content, std::string_view value) {
    const std::size_t eq = content.find('=');
    if (eq == std::string_view::npos) return "<no '='>";
    std::size_t begin = eq + 1;
    std::size_t end = content.size();
    while (end > begin && IsBlank(content[end - 1])) --end;
    while (begin < end && IsBlank(content[begin])) ++begin;
    if (begin == end) begin = end = eq + 1;
    return std::string(content.substr(0, begin)) + std::string(value) +
           std::string(content.substr(end));
}

void CheckKeyChanged(const std::vector<TextLine>& before, const std::vector<TextLine>& after,
                     std::string_view value) {
    Check(before.size() == after.size(), "a changed key changes the number of lines");
    int changed = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i] == after[i]) continue;
        ++changed;
        Check(before[i].end == after[i].end, "the changed line keeps its line end");
        Check(after[i].content == WithValue(before[i].content, value),
              "only the value span of the line changes");
    }
    Check(changed <= 1, "at most one line changes");
}

// `added` stands at `at`, each ending like the line before it or, at the
// very start, like the file's lines; the old lines from `at` on follow
// unchanged.
void CheckInserted(const std::vector<TextLine>& before, const std::vector<TextLine>& after,
                   const std::vector<std::string>& added, std::size_t at) {
    const std::string_view eol =
        added.size() == 1 && at > 0 ? before[at - 1].end : FirstLineEnd(before);
    for (std::size_t k = 0; k < added.size(); ++k) {
        Check(after[at + k].content == added[k], "the added line reads as written");
        Check(after[at + k].end == eol, "an added line ends like the file's lines");
    }
    for (std::size_t i = at; i < before.size(); ++i) {
        Check(before[i] == after[i + added.size()], "the lines after the insertion stay");
    }
}

// The old last line had no line end: it gains the file's one, and the added
// lines follow with the last of them again without one.
void CheckAppendedAfterOpenLastLine(const std::vector<TextLine>& before,
                                    const std::vector<TextLine>& after,
                                    const std::vector<std::string>& added) {
    const std::string_view eol = FirstLineEnd(before);
    const std::size_t n = before.size();
    Check(after[n - 1].end == eol, "the last line gains the file's line end");
    for (std::size_t k = 0; k < added.size(); ++k) {
        Check(after[n + k].content == added[k], "the added line reads as written");
        Check(after[n + k].end == (k + 1 == added.size() ? std::string_view() : eol),
              "the new last line stays without a line end");
    }
}

void CheckKeyAdded(std::string_view text, std::string_view written, std::string_view section,
                   std::string_view key, std::string_view value) {
    const auto before = Lines(text);
    const auto after = Lines(written);
    const std::size_t n = before.size();
    Check(after.size() == n + 1 || after.size() == n + 2, "one line, or a section of two, is added");
    std::vector<std::string> added{std::string(key) + "=" + std::string(value)};
    if (after.size() == n + 2) added.insert(added.begin(), "[" + std::string(section) + "]");

    std::size_t at = 0;
    while (at < n && before[at] == after[at]) ++at;
    const bool openEnd = n > 0 && before[n - 1].end.empty();
    if (openEnd && at == n - 1 && after[at].content == before[at].content) {
        CheckAppendedAfterOpenLastLine(before, after, added);
        return;
    }
    if (added.size() == 2) Check(at == n, "a new section goes at the end");
    CheckInserted(before, after, added, at);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view section = "Set";
    std::string_view key = "com";
    std::string_view value = "1";
    std::string_view text = input;
    const std::size_t a = input.find('\0');
    const std::size_t b = a == std::string_view::npos ? a : input.find('\0', a + 1);
    const std::size_t c = b == std::string_view::npos ? b : input.find('\0', b + 1);
    if (c != std::string_view::npos) {
        section = input.substr(0, a);
        key = input.substr(a + 1, b - a - 1);
        value = input.substr(b + 1, c - b - 1);
        text = input.substr(c + 1);
    }

    (void)settings::ProfileSectionEntries(text, section);
    (void)settings::ProfileInt(text, section, key, 7);
    (void)settings::ProfileIntFromText(value);

    const auto old = settings::ProfileValue(text, section, key);
    const auto written = settings::ProfileWithValue(text, section, key, value);
    if (!settings::ProfileWriteIsValid(section, key, value)) {
        Check(!written.has_value(), "an invalid write is refused");
        return 0;
    }
    Check(written.has_value(), "a valid write is done");
    Check(settings::ProfileValue(*written, section, key) == value, "the key reads as written");
    Check(settings::ProfileWithValue(*written, section, key, value) == *written,
          "writing the same value again changes nothing");
    if (old.has_value()) {
        CheckKeyChanged(Lines(text), Lines(*written), value);
    } else {
        CheckKeyAdded(text, *written, section, key, value);
    }
    return 0;
}
