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
    void Stage(const std::string& stage) override {
        std::printf("== stage %s ==\n", stage.c_str());
        std::fflush(stdout);
    }
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
        std::fputs(out.c_str(), stdout);
        std::fflush(stdout);
        m_drawn = lines.size();
        m_dirty = false;
    }

    const std::vector<TargetStatus>& m_statuses;
    std::string m_note;
    std::string m_stage;
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
        int ok = 0, waiting = 0, hidden = 0, other = 0;
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
            other += s.state == TargetState::NotStarted || s.state == TargetState::AlreadyLoaded;
        }
        lines.push_back(Fitted("... and " + std::to_string(hidden + ok + waiting + other) + " more: " +
                                   std::to_string(ok) + " ok, " + std::to_string(waiting) + " waiting" +
                                   (other > 0 ? ", " + std::to_string(other) + " not started or already loaded" : ""),
                               columns));
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

std::string SummaryText(const std::vector<TargetStatus>& statuses, const std::string& stage) {
    const Counts c = CountStates(statuses);
    std::string text = std::to_string(statuses.size()) + " target" + (statuses.size() == 1 ? "" : "s") + ": " +
                       std::to_string(c.ok) + " ok, " + std::to_string(c.failed) + " failed";
    if (c.notStarted > 0) text += ", " + std::to_string(c.notStarted) + " not started";
    if (c.loaded > 0) text += ", " + std::to_string(c.loaded) + " already loaded";
    if (!stage.empty()) text += "; stage " + stage;
    text += "\n";
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

std::unique_ptr<FleetView> MakeFleetView(const std::vector<TargetStatus>& statuses) {
    if (platform::StandardOutputIsTerminal()) return std::make_unique<LiveView>(statuses);
    return std::make_unique<PlainView>();
}

}  // namespace flash
