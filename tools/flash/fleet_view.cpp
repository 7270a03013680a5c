#include "tools/flash/fleet_view.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "platform/terminal.h"

namespace flash {

namespace {

constexpr int kBarWidth = 20;
constexpr std::size_t kMaxLabelWidth = 24;
// A label keeps at least this much of itself, the state at least this many
// columns, however narrow the terminal.
constexpr std::size_t kMinLabelWidth = 6;
constexpr std::size_t kMinStateWidth = 10;
constexpr std::int64_t kRedrawMs = 100;
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // U+2026, one column

// The code points that take two columns on a terminal: East Asian wide and
// full-width ranges, and the emoji blocks.
constexpr std::array<std::pair<char32_t, char32_t>, 11> kWide = {{{0x1100, 0x115F},
                                                                   {0x2E80, 0x303E},
                                                                   {0x3041, 0x33FF},
                                                                   {0x3400, 0x4DBF},
                                                                   {0x4E00, 0x9FFF},
                                                                   {0xA000, 0xA4CF},
                                                                   {0xAC00, 0xD7A3},
                                                                   {0xF900, 0xFAFF},
                                                                   {0xFE30, 0xFE4F},
                                                                   {0xFF00, 0xFF60},
                                                                   {0xFFE0, 0xFFE6}}};

int CodePointWidth(char32_t c) {
    if ((c >= 0x0300 && c <= 0x036F) || c == 0x200B) return 0;  // combining marks, zero-width space
    for (const auto& [low, high] : kWide)
        if (c >= low && c <= high) return 2;
    if ((c >= 0x1F300 && c <= 0x1F64F) || (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD)) return 2;
    return 1;
}

// The code point at text[i] and its length in bytes; a byte that starts no
// valid sequence stands for itself, one column wide.
std::pair<char32_t, std::size_t> NextCodePoint(std::string_view text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length <= 1 || i + length > text.size()) return {lead, 1};
    char32_t c = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return {lead, 1};
        c = (c << 6) | (next & 0x3F);
    }
    return {c, length};
}

std::string StateText(const TargetStatus& s) {
    switch (s.state) {
        case TargetState::Waiting: return s.attempts > 0 ? "waiting to try again" : "waiting";
        case TargetState::Connecting: return "connecting";
        case TargetState::Sending: return "sending";
        case TargetState::Ok:
        case TargetState::AlreadyLoaded:
            if (!s.endText.empty()) return s.endText;
            return s.state == TargetState::Ok ? "ok" : "already loaded";
        case TargetState::Failed:
        case TargetState::NotStarted: return s.endText.empty() ? s.message : s.endText;
    }
    return {};
}

bool Running(const TargetStatus& s) {
    return s.state == TargetState::Connecting || s.state == TargetState::Sending;
}

bool Failed(const TargetStatus& s) { return s.state == TargetState::Failed || s.state == TargetState::NotStarted; }

// Keeps a line narrower than the terminal: a wrapped line would throw the
// redraw's count of lines off.
std::string Fitted(const std::string& line, int columns) {
    return columns > 0 ? CutToWidth(line, static_cast<std::size_t>(columns - 1)) : line;
}

// Writes to standard output until a write fails: then the reader has gone,
// and nothing more is shown.
class Output {
public:
    void Put(const std::string& text) {
        if (m_gone) return;
        m_gone = std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0;
    }

private:
    bool m_gone = false;
};

class QuietView : public FleetView {
public:
    void Changed(const TargetStatus&, const std::string&) override {}
    void Note(const std::string&) override {}
    void Stage(const std::string&) override {}
    std::int64_t TickMs() const override { return -1; }
    void Tick() override {}
    void Close() override {}
};

class PlainView : public FleetView {
public:
    void Changed(const TargetStatus& status, const std::string& event) override {
        if (!event.empty()) m_out.Put(TargetLabel(*status.target) + ": " + event + "\n");
    }
    void Note(const std::string& text) override { std::fprintf(stderr, "vornic-flash: %s\n", text.c_str()); }
    void Stage(const std::string& stage) override { m_out.Put("== stage " + stage + " ==\n"); }
    std::int64_t TickMs() const override { return -1; }
    void Tick() override {}
    void Close() override {}

private:
    Output m_out;
};

class LiveView : public FleetView {
public:
    explicit LiveView(const std::vector<TargetStatus>& statuses) : m_statuses(statuses) {}

    void Changed(const TargetStatus&, const std::string&) override { m_dirty = true; }
    void Note(const std::string& text) override {
        m_note = text;
        m_dirty = true;
    }
    void Stage(const std::string& stage) override {
        m_stage = stage;
        m_dirty = true;
    }
    std::int64_t TickMs() const override { return kRedrawMs; }
    void Tick() override {
        if (m_dirty) Draw();
    }
    void Close() override { Draw(); }

private:
    void Draw() {
        const int rows = platform::StandardOutputRows(), columns = platform::StandardOutputColumns();
        std::vector<std::string> lines;
        if (!m_stage.empty()) lines.push_back(Fitted(StageLine(m_statuses, m_stage), columns));
        const auto targets = LiveLines(m_statuses, m_note, rows > 0 ? std::max(rows - 1, 3) : rows, columns);
        lines.insert(lines.end(), targets.begin(), targets.end());
        // Back to the first line of the last drawing, and clear from there.
        std::string out;
        if (m_drawn > 0) out += "\x1b[" + std::to_string(m_drawn) + "A";
        out += "\r\x1b[J";
        for (const auto& line : lines) out += line + "\n";
        m_out.Put(out);
        m_drawn = lines.size();
        m_dirty = false;
    }

    const std::vector<TargetStatus>& m_statuses;
    Output m_out;
    std::string m_note;
    std::string m_stage;
    std::size_t m_drawn = 0;
    bool m_dirty = true;
};

}  // namespace

std::size_t DisplayWidth(std::string_view text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto [c, length] = NextCodePoint(text, i);
        width += static_cast<std::size_t>(CodePointWidth(c));
        i += length;
    }
    return width;
}

std::string CutToWidth(const std::string& text, std::size_t columns) {
    if (DisplayWidth(text) <= columns) return text;
    if (columns == 0) return {};
    std::string cut;
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto [c, length] = NextCodePoint(text, i);
        const auto w = static_cast<std::size_t>(CodePointWidth(c));
        // One column stays for the ellipsis.
        if (width + w > columns - 1) break;
        cut.append(text, i, length);
        width += w;
        i += length;
    }
    return cut + std::string(kEllipsis);
}

std::string TargetLabel(const FlashTarget& target) { return target.name.empty() ? target.text : target.name; }

std::string LiveLine(const TargetStatus& s, std::size_t labelWidth, int columns) {
    // The bar, the percent and the blanks around them.
    constexpr std::size_t kFixed = 2 + (kBarWidth + 2) + 1 + 4 + 2;
    std::string label = TargetLabel(*s.target);
    std::size_t limit = labelWidth > 0 ? labelWidth : DisplayWidth(label);
    if (columns > 0) {
        const std::size_t usable = static_cast<std::size_t>(columns - 1);
        const std::size_t room = usable > kFixed + kMinStateWidth ? usable - kFixed - kMinStateWidth : 0;
        limit = std::min(limit, std::max(room, kMinLabelWidth));
    }
    label = CutToWidth(label, limit);
    label.append(limit - std::min(limit, DisplayWidth(label)), ' ');
    const int filled = s.percent * kBarWidth / 100;
    // Appended piece by piece: g++ 12 at -O2 takes "[" + std::string(...) for
    // an overlapping copy (-Wrestrict) where there is none.
    std::string bar = "[";
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '-');
    bar += ']';
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", s.percent);
    return Fitted(label + "  " + bar + " " + percent + "  " + StateText(s), columns);
}

std::vector<std::string> LiveLines(const std::vector<TargetStatus>& statuses, const std::string& note, int rows,
                                   int columns) {
    std::size_t width = 0;
    for (const auto& s : statuses) width = std::max(width, DisplayWidth(TargetLabel(*s.target)));
    width = std::min(width, kMaxLabelWidth);

    const std::size_t noteRows = note.empty() ? 0 : 1;
    // One row stays free for the cursor below the drawing.
    const std::size_t room = rows > 0 ? static_cast<std::size_t>(std::max(rows - 1, 2)) - noteRows : statuses.size();
    std::vector<std::string> lines;
    if (statuses.size() <= room) {
        for (const auto& s : statuses) lines.push_back(LiveLine(s, width, columns));
    } else {
        // The running targets first, then the failed ones, then the waiting
        // ones; the last line counts the rest.
        int ok = 0, failed = 0, waiting = 0, running = 0;
        for (int pick = 0; pick < 3; ++pick) {
            for (const auto& s : statuses) {
                const bool wanted = pick == 0 ? Running(s) : pick == 1 ? Failed(s) : s.state == TargetState::Waiting;
                if (!wanted) continue;
                if (lines.size() + 1 < room) {
                    lines.push_back(LiveLine(s, width, columns));
                    continue;
                }
                (pick == 0 ? running : pick == 1 ? failed : waiting) += 1;
            }
        }
        for (const auto& s : statuses) ok += s.state == TargetState::Ok || s.state == TargetState::AlreadyLoaded;
        std::string more = "... and " + std::to_string(ok + failed + waiting + running) + " more: ";
        if (running > 0) more += std::to_string(running) + " running, ";
        more += std::to_string(ok) + " ok, " + std::to_string(failed) + " failed, " + std::to_string(waiting) + " waiting";
        lines.push_back(Fitted(more, columns));
    }
    if (!note.empty()) lines.push_back(Fitted(note, columns));
    return lines;
}

namespace {

struct Counts {
    long ok = 0, failed = 0, notStarted = 0, loaded = 0, running = 0, waiting = 0;
};

Counts CountStates(const std::vector<TargetStatus>& statuses) {
    Counts c;
    for (const auto& s : statuses) {
        switch (s.state) {
            case TargetState::Waiting: ++c.waiting; break;
            case TargetState::Connecting:
            case TargetState::Sending: ++c.running; break;
            case TargetState::Ok: ++c.ok; break;
            case TargetState::Failed: ++c.failed; break;
            case TargetState::NotStarted: ++c.notStarted; break;
            case TargetState::AlreadyLoaded: ++c.loaded; break;
        }
    }
    return c;
}

}  // namespace

std::string SummaryText(const std::vector<TargetStatus>& statuses, bool onlyCount, const std::string& stage) {
    const Counts c = CountStates(statuses);
    std::string text = std::to_string(statuses.size()) + " target" + (statuses.size() == 1 ? "" : "s") + ": " +
                       std::to_string(c.ok) + " ok, " + std::to_string(c.failed) + " failed";
    if (c.notStarted > 0) text += ", " + std::to_string(c.notStarted) + " not started";
    if (c.loaded > 0) text += ", " + std::to_string(c.loaded) + " already loaded";
    if (!stage.empty()) text += "; stage " + stage;
    text += "\n";
    if (onlyCount) return text;
    for (const auto& s : statuses) {
        if (s.state == TargetState::Ok || s.state == TargetState::AlreadyLoaded) continue;
        const FlashTarget& t = *s.target;
        text += "  " + t.text + (t.name.empty() ? "" : " (" + t.name + ")") + ": " + s.message + "\n";
    }
    return text;
}

std::string StageLine(const std::vector<TargetStatus>& statuses, const std::string& stage) {
    const Counts c = CountStates(statuses);
    std::string text = "stage " + stage + ": " + std::to_string(c.running) + " running, " + std::to_string(c.ok) +
                       " ok, " + std::to_string(c.failed) + " failed, " + std::to_string(c.waiting) + " waiting";
    if (c.notStarted > 0) text += ", " + std::to_string(c.notStarted) + " not started";
    if (c.loaded > 0) text += ", " + std::to_string(c.loaded) + " already loaded";
    return text;
}

std::unique_ptr<FleetView> MakeFleetView(const std::vector<TargetStatus>& statuses, bool quiet) {
    if (quiet) return std::make_unique<QuietView>();
    if (platform::StandardOutputIsTerminal()) return std::make_unique<LiveView>(statuses);
    return std::make_unique<PlainView>();
}

}  // namespace flash
