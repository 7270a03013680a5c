#pragma once
// What the soak shares: how many rounds a phase runs and the seed of its
// random moments (both from the environment, so that the long form and a
// repeat of a failing run use the same code), a watchdog that ends the
// process when a round hangs, the process's own descriptor and thread counts,
// and the tally of runs and messages that each phase prints.

#include <chrono>
#include <cstdint>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <utility>

#include "support/process_resources.h"

namespace soak {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Rounds a phase: VORNIC_SOAK_ROUNDS, 10 unless set.
int Rounds();
// The seed of every random choice: VORNIC_SOAK_SEED, or one of its own.
std::uint32_t Seed();
// A generator for one phase: the seed mixed with the phase's name, so that a
// phase run alone takes the same moments as in the whole soak.
std::mt19937 Generator(const std::string& phase);
int Uniform(std::mt19937& generator, int low, int high);

// How long one round may take: VORNIC_SOAK_ROUND_LIMIT_S, or 30 s (90 s under
// a sanitizer, which slows a run down several times).
std::chrono::seconds RoundLimit();

// One thread for the whole process. A round that is armed and not disarmed
// in time ends the process with a "HANG:" line and exit status 3: the user-
// interface thread may be the one that is stuck, so nothing else could.
class Watchdog {
public:
    // Starts its thread; before the counts of any baseline are taken.
    static void Start();
    static void Arm(const std::string& what, std::chrono::seconds limit);
    static void Disarm();
};

// Reports a round that did not end while the test still ran: the same line
// and status as the watchdog. A worker may still use the window, so the test
// could not even clean up.
[[noreturn]] void Hang(const std::string& what);

// Threads and descriptors of the process; printed as counts.
using Resources = support::ProcessResources;
std::ostream& operator<<(std::ostream& out, const Resources& r);

// What one phase saw.
struct PhaseTally {
    explicit PhaseTally(std::string name) : phase(std::move(name)) {}

    std::string phase;
    int rounds = 0;
    int runs = 0;          // downloads started
    int successes = 0;     // ended with "Download firmware successfully!"
    int stopped = 0;       // ended with "Download firmware erroe!" after a Break or Exit
    int breaks = 0;        // Break pressed during the run
    int exits = 0;         // Exit given (button, Esc or close); windows closed
    int tooLate = 0;       // the Break or Exit came after the run had ended
    int failedRounds = 0;  // rounds with a failed check
    std::map<std::string, int> messages;  // by text and icon
    double seconds = 0;
    double longestRun = 0;
    Resources before;
    Resources after;

    void Message(const std::string& text, const std::string& icon);
    // Prints the tally as "soak:" lines and adds it to the process's total.
    void Print() const;
};

// Prints the total of every phase printed so far, if any, with the process's
// counts at its start and at its end. Qt keeps a little of its first window
// and boxes (event descriptors) to the end: the phases' own counts, taken
// after a warm-up, are the ones that must match.
void PrintTotal(const Resources& atStart);

}  // namespace soak
