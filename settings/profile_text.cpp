#include "settings/profile_text.h"

#include "settings/leading_integer.h"

namespace settings {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnds = "\r\n";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

struct Line {
    std::size_t begin;  // first byte of the content
    std::size_t end;    // one past the content: where the line end starts
    std::size_t next;   // one past the line end
    bool HasLineEnd() const { return next > end; }
};

// An editor's byte-order mark is no part of the first line.
std::size_t FirstLineStart(std::string_view text) { return text.substr(0, 3) == kBom ? 3 : 0; }

Line LineAt(std::string_view text, std::size_t pos) {
    const std::size_t end = text.find_first_of(kLineEnds, pos);
    if (end == std::string_view::npos) return {pos, text.size(), text.size()};
    std::size_t next = end + 1;
    if (text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
    return {pos, end, next};
}

enum class LineKind : std::uint8_t { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;
    std::size_t valueBegin = 0;  // offsets into the whole text
    std::size_t valueEnd = 0;
};

ParsedLine Parse(std::string_view text, const Line& line) {
    const std::string_view content = text.substr(line.begin, line.end - line.begin);
    std::size_t i = 0;
    while (i < content.size() && IsBlank(content[i])) ++i;
    if (i == content.size() || content[i] == ';') return {};
    if (content[i] == '[') {
        const std::size_t close = content.find(']', i + 1);
        if (close == std::string_view::npos) return {};
        return {LineKind::Section, Trim(content.substr(i + 1, close - i - 1))};
    }
    const std::size_t eq = content.find('=', i);
    if (eq == std::string_view::npos || eq == i) return {};
    std::size_t valueBegin = eq + 1;
    std::size_t valueEnd = content.size();
    while (valueEnd > valueBegin && IsBlank(content[valueEnd - 1])) --valueEnd;
    while (valueBegin < valueEnd && IsBlank(content[valueBegin])) ++valueBegin;
    // An empty value is written right after its '=', before any blanks.
    if (valueBegin == valueEnd) valueBegin = valueEnd = eq + 1;
    return {LineKind::Key, Trim(content.substr(i, eq - i)), line.begin + valueBegin,
            line.begin + valueEnd};
}

// Hands each line with its parse to `visit` in turn, until `visit` says no more.
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
    for (std::size_t pos = FirstLineStart(text); pos < text.size();) {
        const Line line = LineAt(text, pos);
        pos = line.next;
        if (!visit(line, Parse(text, line))) return;
    }
}

struct Lookup {
    bool sectionFound = false;
    Line anchor{};  // the last key line of the first matching section, or its header
    bool keyFound = false;
    std::size_t valueBegin = 0;
    std::size_t valueEnd = 0;
};

Lookup Find(std::string_view text, std::string_view section, std::string_view key) {
    Lookup found;
    bool inMatch = false;
    bool inFirstMatch = false;
    ForEachLine(text, [&](const Line& line, const ParsedLine& parsed) {
        if (parsed.kind == LineKind::Section) {
            inMatch = SameName(parsed.name, section);
            inFirstMatch = inMatch && !found.sectionFound;
            if (inFirstMatch) {
                found.sectionFound = true;
                found.anchor = line;
            }
            return true;
        }
        if (parsed.kind != LineKind::Key || !inMatch) return true;
        if (inFirstMatch) found.anchor = line;
        if (!SameName(parsed.name, key)) return true;
        found.keyFound = true;
        found.valueBegin = parsed.valueBegin;
        found.valueEnd = parsed.valueEnd;
        return false;
    });
    return found;
}

std::string_view LineEndStyle(std::string_view text) {
    const std::size_t end = text.find_first_of(kLineEnds);
    if (end == std::string_view::npos) return "\r\n";
    if (text[end] == '\n') return "\n";
    return end + 1 < text.size() && text[end + 1] == '\n' ? std::string_view("\r\n")
                                                          : std::string_view("\r");
}

bool HasLineEndChar(std::string_view s) { return s.find_first_of(kLineEnds) != std::string_view::npos; }

bool CleanName(std::string_view s) {
    return !s.empty() && !IsBlank(s.front()) && !IsBlank(s.back()) && !HasLineEndChar(s);
}

}  // namespace

std::optional<std::string> ProfileValue(std::string_view text, std::string_view section,
                                        std::string_view key) {
    const Lookup found = Find(text, section, key);
    if (!found.keyFound) return std::nullopt;
    return std::string(text.substr(found.valueBegin, found.valueEnd - found.valueBegin));
}

std::uint32_t ProfileIntFromText(std::string_view value) {
    std::size_t i = 0;
    while (i < value.size() && IsBlank(value[i])) ++i;
    return LeadingInteger(value.substr(i)).value_or(0);
}

std::uint32_t ProfileInt(std::string_view text, std::string_view section, std::string_view key,
                         std::uint32_t defaultValue) {
    const Lookup found = Find(text, section, key);
    if (!found.keyFound || found.valueBegin == found.valueEnd) return defaultValue;
    return ProfileIntFromText(text.substr(found.valueBegin, found.valueEnd - found.valueBegin));
}

std::vector<ProfileEntry> ProfileSectionEntries(std::string_view text, std::string_view section) {
    std::vector<ProfileEntry> entries;
    bool inMatch = false;
    ForEachLine(text, [&](const Line&, const ParsedLine& parsed) {
        if (parsed.kind == LineKind::Section) {
            inMatch = SameName(parsed.name, section);
        } else if (parsed.kind == LineKind::Key && inMatch) {
            entries.push_back(
                {std::string(parsed.name),
                 std::string(text.substr(parsed.valueBegin, parsed.valueEnd - parsed.valueBegin))});
        }
        return true;
    });
    return entries;
}

bool ProfileWriteIsValid(std::string_view section, std::string_view key, std::string_view value) {
    if (!CleanName(section) || section.find(']') != std::string_view::npos) return false;
    if (!CleanName(key) || key.find('=') != std::string_view::npos || key.front() == ';' ||
        key.front() == '[')
        return false;
    if (HasLineEndChar(value)) return false;
    return value.empty() || (!IsBlank(value.front()) && !IsBlank(value.back()));
}

std::optional<std::string> ProfileWithValue(std::string_view text, std::string_view section,
                                            std::string_view key, std::string_view value) {
    if (!ProfileWriteIsValid(section, key, value)) return std::nullopt;
    const Lookup found = Find(text, section, key);
    std::string out;
    if (found.keyFound) {
        out.reserve(text.size() + value.size());
        out.append(text.substr(0, found.valueBegin));
        out.append(value);
        out.append(text.substr(found.valueEnd));
        return out;
    }
    const std::string_view eol = LineEndStyle(text);
    std::string keyLine = std::string(key) + "=" + std::string(value);
    if (found.sectionFound) {
        const Line& anchor = found.anchor;
        out.reserve(text.size() + keyLine.size() + eol.size());
        out.append(text.substr(0, anchor.next));
        if (anchor.HasLineEnd()) {
            // The line end of the line before: in a file of mixed line ends a
            // lone CR followed by an empty LF line would merge into one CR LF.
            out.append(keyLine).append(text.substr(anchor.end, anchor.next - anchor.end));
        } else {
            // After the file's last line, which has no line end: keep it without one.
            out.append(eol).append(keyLine);
        }
        out.append(text.substr(anchor.next));
        return out;
    }
    out.assign(text);
    const bool endsOpen = !text.empty() && kLineEnds.find(text.back()) == std::string_view::npos;
    if (endsOpen) out.append(eol);
    out.append("[").append(section).append("]").append(eol).append(keyLine);
    if (!endsOpen) out.append(eol);
    return out;
}

}  // namespace settings
