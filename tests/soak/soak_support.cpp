#include "soak_support.h"

#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "support/loopback.h"

namespace soak {

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::chrono::seconds kDefaultRoundLimit = 90s;
#else
constexpr std::chrono::seconds kDefaultRoundLimit = 30s;
#endif
constexpr int kDefaultRounds = 10;
constexpr int kHangStatus = 3;

std::optional<unsigned long> EnvironmentNumber(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return std::nullopt;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (*end != '\0') {
        std::fprintf(stderr, "soak: %s=%s is no number; ignored\n", name, text);
        return std::nullopt;
    }
    return value;
}

// The watchdog's state; its thread lives as long as the process.
struct WatchdogState {
    std::mutex lock;
    std::condition_variable changed;
    std::optional<Clock::time_point> deadline;
    std::string what;
    std::chrono::seconds limit{0};
};

WatchdogState& State() {
    static WatchdogState* const state = [] {
        auto* s = new WatchdogState;
        std::thread([s] {
            std::unique_lock<std::mutex> guard(s->lock);
            for (;;) {
                if (!s->deadline) {
                    s->changed.wait(guard);
                    continue;
                }
                const auto deadline = *s->deadline;
                if (s->changed.wait_until(guard, deadline) == std::cv_status::timeout &&
                    s->deadline == deadline) {
                    std::fprintf(stderr, "HANG: %s did not end within %lld s\n", s->what.c_str(),
                                 static_cast<long long>(s->limit.count()));
                    std::fflush(stderr);
                    std::_Exit(kHangStatus);
                }
            }
        }).detach();
        return s;
    }();
    return *state;
}

PhaseTally& Total() {
    static PhaseTally total("total");
    return total;
}

}  // namespace

int Rounds() {
    static const int rounds = [] {
        const auto value = EnvironmentNumber("VORNIC_SOAK_ROUNDS");
        return value && *value > 0 && *value <= 100000 ? static_cast<int>(*value) : kDefaultRounds;
    }();
    return rounds;
}

std::uint32_t Seed() {
    static const std::uint32_t seed = [] {
        const auto value = EnvironmentNumber("VORNIC_SOAK_SEED");
        return value ? static_cast<std::uint32_t>(*value) : std::random_device{}();
    }();
    return seed;
}

std::mt19937 Generator(const std::string& phase) {
    std::seed_seq sequence{Seed(), static_cast<std::uint32_t>(std::hash<std::string>{}(phase))};
    return std::mt19937(sequence);
}

int Uniform(std::mt19937& generator, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(generator);
}

std::chrono::seconds RoundLimit() {
    static const std::chrono::seconds limit = [] {
        const auto value = EnvironmentNumber("VORNIC_SOAK_ROUND_LIMIT_S");
        return value && *value > 0 ? std::chrono::seconds(*value) : kDefaultRoundLimit;
    }();
    return limit;
}

void Watchdog::Start() { State(); }

void Watchdog::Arm(const std::string& what, std::chrono::seconds limit) {
    WatchdogState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.what = what;
    s.limit = limit;
    s.deadline = Clock::now() + limit;
    s.changed.notify_one();
}

void Watchdog::Disarm() {
    WatchdogState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.deadline.reset();
    s.changed.notify_one();
}

void Hang(const std::string& what) {
    std::fprintf(stderr, "HANG: %s did not end within %lld s\n", what.c_str(),
                 static_cast<long long>(RoundLimit().count()));
    std::fflush(stderr);
    std::_Exit(kHangStatus);
}

std::ostream& operator<<(std::ostream& out, const Resources& r) {
    return out << r.descriptors.size() << " descriptors, " << r.threads.size() << " threads";
}

void PhaseTally::Message(const std::string& text, const std::string& icon) {
    ++messages["\"" + text + "\" (" + icon + ")"];
}

namespace {

std::string Lines(const PhaseTally& t, bool withResources) {
    std::ostringstream out;
    out << "soak: " << t.phase << ": " << t.rounds << " rounds, " << t.runs << " runs, "
        << t.successes << " successes, " << t.stopped << " stopped, " << t.breaks << " breaks, "
        << t.exits << " exits, " << t.tooLate << " too late for the run, " << t.failedRounds
        << " failed rounds\n";
    for (const auto& [text, count] : t.messages)
        out << "soak: " << t.phase << ":   " << count << " x " << text << "\n";
    char time[128];
    std::snprintf(time, sizeof time, "%.1f s (longest run %.2f s)", t.seconds, t.longestRun);
    out << "soak: " << t.phase << ":   time " << time << "\n";
    if (withResources)
        out << "soak: " << t.phase << ":   before " << t.before << "; after " << t.after << "\n";
    return out.str();
}

}  // namespace

void PhaseTally::Print() const {
    std::fputs(Lines(*this, true).c_str(), stdout);
    std::fflush(stdout);

    PhaseTally& total = Total();
    total.rounds += rounds;
    total.runs += runs;
    total.successes += successes;
    total.stopped += stopped;
    total.breaks += breaks;
    total.exits += exits;
    total.tooLate += tooLate;
    total.failedRounds += failedRounds;
    for (const auto& [text, count] : messages) total.messages[text] += count;
    total.seconds += seconds;
    if (longestRun > total.longestRun) total.longestRun = longestRun;
}

void PrintTotal(const Resources& atStart) {
    const PhaseTally& total = Total();
    if (total.rounds == 0) return;
    // Counted once whatever the tool's last worker was doing has ended.
    (void)support::NothingLeftSince(atStart, 1s);
    const Resources atEnd = support::TakeProcessResources();
    std::ostringstream out;
    out << "soak: seed " << Seed() << " (VORNIC_SOAK_SEED=" << Seed()
        << " repeats the moments), " << Rounds() << " rounds a phase\n";
    out << Lines(total, false);
    out << "soak: total:   process at start " << atStart << "; at end " << atEnd << "\n";
    std::fputs(out.str().c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace soak
