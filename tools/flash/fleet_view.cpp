#include "tools/flash/fleet_view.h"

#include <algorithm>
#include <cstdio>

#include "platform/terminal.h"

namespace flash {

namespace {

constexpr int kBarWidth = 20;
constexpr std::size_t kMaxLabelWidth = 24;
constexpr std::int64_t kRedrawMs = 100;

std::string StateText(const TargetStatus& s) {
    switch (s.state) {
        case TargetState::Waiting: return s.attempts > 0 ? "waiting to try again" : "waiting";
        case TargetState::Connecting: return "connecting";
        case TargetState::Sending: return "sending";
        case TargetState::Ok: return "ok";
        case TargetState::Failed: return s.message;
    }
    return {};
}

bool Running(const TargetStatus& s) {
    return s.state == TargetState::Connecting || s.state == TargetState::Sending;
}

// Keeps a line within the terminal's width: a wrapped line would throw the
// redraw's count of lines off.
std::string Fitted(std::string line, int columns) {
    if (columns > 0 && line.size() >= static_cast<std::size_t>(columns)) line.resize(static_cast<std::size_t>(columns - 1));
    return line;
}

class PlainView : public FleetView {
public:
    void Changed(const TargetStatus& status, const std::string& event) override {
        if (event.empty()) return;
        std::printf("%s: %s\n", TargetLabel(*status.target).c_str(), event.c_str());
        std::fflush(stdout);
    }
    void Note(const std::string& text) override { std::fprintf(stderr, "vornic-flash: %s\n", text.c_str()); }
    std::int64_t TickMs() const override { return -1; }
    void Tick() override {}
    void Close() override {}
};

class LiveView : public FleetView {
public:
    explicit LiveView(const std::vector<TargetStatus>& statuses) : m_statuses(statuses) {}

    void Changed(const TargetStatus&, const std::string&) override { m_dirty = true; }
    void Note(const std::string& text) override {
        m_note = text;
        m_dirty = true;
    }
    std::int64_t TickMs() const override { return kRedrawMs; }
    void Tick() override {
        if (m_dirty) Draw();
    }
    void Close() override { Draw(); }

private:
    void Draw() {
        const std::vector<std::string> lines = LiveLines(m_statuses, m_note, platform::StandardOutputRows(),
                                                         platform::StandardOutputColumns());
        // Back to the first line of the last drawing, and clear from there.
        std::string out;
        if (m_drawn > 0) out += "\x1b[" + std::to_string(m_drawn) + "A";
        out += "\r\x1b[J";
        for (const auto& line : lines) out += line + "\n";
        std::fputs(out.c_str(), stdout);
        std::fflush(stdout);
        m_drawn = lines.size();
        m_dirty = false;
    }

    const std::vector<TargetStatus>& m_statuses;
    std::string m_note;
    std::size_t m_drawn = 0;
    bool m_dirty = true;
};

}  // namespace

std::string TargetLabel(const FlashTarget& target) { return target.name.empty() ? target.text : target.name; }

std::string LiveLine(const TargetStatus& s, std::size_t labelWidth, int columns) {
    std::string label = TargetLabel(*s.target);
    label.resize(std::max(label.size(), labelWidth), ' ');
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
    for (const auto& s : statuses) width = std::max(width, TargetLabel(*s.target).size());
    width = std::min(width, kMaxLabelWidth);

    const std::size_t noteRows = note.empty() ? 0 : 1;
    // One row stays free for the cursor below the drawing.
    const std::size_t room = rows > 0 ? static_cast<std::size_t>(std::max(rows - 1, 2)) - noteRows : statuses.size();
    std::vector<std::string> lines;
    if (statuses.size() <= room) {
        for (const auto& s : statuses) lines.push_back(LiveLine(s, width, columns));
    } else {
        // The running targets first, then the failed ones, then a count of
        // the rest.
        int ok = 0, waiting = 0, hidden = 0;
        for (const bool pickRunning : {true, false}) {
            for (const auto& s : statuses) {
                const bool wanted = pickRunning ? Running(s) : s.state == TargetState::Failed;
                if (!wanted) continue;
                if (lines.size() + 1 < room)
                    lines.push_back(LiveLine(s, width, columns));
                else
                    ++hidden;
            }
        }
        for (const auto& s : statuses) {
            ok += s.state == TargetState::Ok;
            waiting += s.state == TargetState::Waiting;
        }
        lines.push_back(Fitted("... and " + std::to_string(hidden + ok + waiting) + " more: " + std::to_string(ok) +
                                   " ok, " + std::to_string(waiting) + " waiting",
                               columns));
    }
    if (!note.empty()) lines.push_back(Fitted(note, columns));
    return lines;
}

std::string SummaryText(const std::vector<TargetStatus>& statuses) {
    const auto ok = std::count_if(statuses.begin(), statuses.end(),
                                  [](const TargetStatus& s) { return s.state == TargetState::Ok; });
    std::string text = std::to_string(statuses.size()) + " target" + (statuses.size() == 1 ? "" : "s") + ": " +
                       std::to_string(ok) + " ok, " + std::to_string(static_cast<long>(statuses.size()) - ok) +
                       " failed\n";
    for (const auto& s : statuses) {
        if (s.state == TargetState::Ok) continue;
        const FlashTarget& t = *s.target;
        text += "  " + t.text + (t.name.empty() ? "" : " (" + t.name + ")") + ": " + s.message + "\n";
    }
    return text;
}

std::unique_ptr<FleetView> MakeFleetView(const std::vector<TargetStatus>& statuses) {
    if (platform::StandardOutputIsTerminal()) return std::make_unique<LiveView>(statuses);
    return std::make_unique<PlainView>();
}

}  // namespace flash
