// flash_bench: whole downloads with vornic-flash against the controller
// simulator on loopback (or a pseudo-terminal), timed against the floor the
// protocol sets, with the tool's CPU time and peak memory. With --fleet N,
// one fleet run into N simulated controllers at once; with --canary C, its
// first C controllers first, alone.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kFrames = 512;
constexpr std::size_t kImageBytes = 65536;
constexpr double kStopTestS = 0.010;
constexpr double kReaderLookS = 0.020;  // the serial reader's first look for a stop
constexpr int kFrameBytes = 136;
constexpr int kReplyBytes = 8;       // the serial simulator's reply
constexpr int kMaxReplyBytes = 64;   // the longest reply the simulator sends
constexpr int kBitsPerByte = 10;  // start, 8 data, stop
constexpr int kBaud = 19200;
constexpr double kTargetRatio = 1.05;
constexpr double kTargetCpuPercent = 5.0;
constexpr double kFleetTargetRatio = 1.10;
constexpr double kFleetTargetCpuPercentPerTarget = 1.5;
constexpr int kFleetDefaultJobs = 32;

struct Config {
    int runs = 3;
    bool runsGiven = false;
    int fleet = 0;  // controllers of a fleet run; 0: single downloads
    int jobs = 0;   // 0: vornic-flash's default
    int canary = 0;
    bool serial = false;
    int replyLength = 0;  // 0: the simulator's default for the transport
    std::string flash = VORNIC_FLASH_PATH;
    std::string sim = VORNIC_SIM_PATH;
};

struct Run {
    double wallS = 0;
    double cpuS = 0;
    long maxRssKiB = 0;
};

void Usage() {
    std::fprintf(stderr,
                 "Usage: flash_bench [--runs N] [--serial] [--reply-len N] [--fleet N [--jobs J] [--canary C]]\n"
                 "                   [--flash PATH] [--sim PATH]\n"
                 "Times N (default 3) whole downloads over loopback TCP, or over a\n"
                 "pseudo-terminal with --serial. --reply-len has the simulator answer\n"
                 "every frame with N bytes (1..64) in one write. --fleet N times fleet\n"
                 "runs (default 1) into N simulated controllers, J at once (default:\n"
                 "all, up to 32); --canary C loads the first C alone first.\n");
}

std::optional<Config> ParseArgs(int argc, char** argv) {
    Config c;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--runs" && hasValue) {
            c.runs = std::atoi(argv[++i]);
            c.runsGiven = true;
            if (c.runs < 1 || c.runs > 100) return std::nullopt;
        } else if (arg == "--fleet" && hasValue) {
            c.fleet = std::atoi(argv[++i]);
            if (c.fleet < 1 || c.fleet > 256) return std::nullopt;
        } else if (arg == "--jobs" && hasValue) {
            c.jobs = std::atoi(argv[++i]);
            if (c.jobs < 1 || c.jobs > 256) return std::nullopt;
        } else if (arg == "--canary" && hasValue) {
            c.canary = std::atoi(argv[++i]);
            if (c.canary < 1 || c.canary > 256) return std::nullopt;
        } else if (arg == "--serial") {
            c.serial = true;
        } else if (arg == "--reply-len" && hasValue) {
            c.replyLength = std::atoi(argv[++i]);
            if (c.replyLength < 1 || c.replyLength > kMaxReplyBytes) return std::nullopt;
        } else if (arg == "--flash" && hasValue) {
            c.flash = argv[++i];
        } else if (arg == "--sim" && hasValue) {
            c.sim = argv[++i];
        } else {
            return std::nullopt;
        }
    }
    if (c.fleet > 0 && !c.runsGiven) c.runs = 1;
    return c;
}

std::vector<char*> Argv(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// The simulator as a child with its standard output on a pipe.
class Simulator {
public:
    // With a fleet, one controller for each target, listed in `targetsPath`.
    bool Start(const Config& config, const std::string& imagePath, const std::string& targetsPath = "") {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return false;
        std::vector<std::string> args = {config.sim, "--image", imagePath};
        if (config.serial)
            args.push_back("--serial");
        else
            args.insert(args.end(), {"--port", "0"});
        if (config.replyLength > 0) args.insert(args.end(), {"--reply-len", std::to_string(config.replyLength)});
        if (config.fleet > 0)
            args.insert(args.end(), {"--count", std::to_string(config.fleet), "--write-targets", targetsPath});
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const int rc = ::posix_spawn(&m_pid, config.sim.c_str(), &actions, nullptr, Argv(args).data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        m_out = out[0];
        if (rc != 0) {
            m_pid = -1;
            return false;
        }
        m_banner = ReadLine(10000);
        for (int k = 1; k < config.fleet && !m_banner.empty(); ++k)
            if (ReadLine(10000).empty()) m_banner.clear();
        return !m_banner.empty();
    }

    // "listening 127.0.0.1:PORT" or "serial PATH".
    const std::string& Banner() const { return m_banner; }

    // Ends the simulator; its summary line.
    std::string Stop() {
        if (m_pid <= 0) return {};
        ::kill(m_pid, SIGTERM);
        std::string rest;
        for (std::string line; !(line = ReadLine(10000)).empty();) rest = line;
        int status;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return rest;
    }

    ~Simulator() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            int status;
            ::waitpid(m_pid, &status, 0);
        }
        if (m_out >= 0) ::close(m_out);
    }

private:
    std::string ReadLine(int timeoutMs) {
        std::string line;
        for (;;) {
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0) return line;
            char c;
            if (::read(m_out, &c, 1) != 1) return line;
            if (c == '\n') return line;
            line += c;
        }
    }

    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_banner;
};

// One download by vornic-flash, its output into `logPath`.
std::optional<Run> Download(const Config& config, const std::vector<std::string>& target,
                            const std::string& image, const std::string& logPath, int* exitCode) {
    std::vector<std::string> args = {config.flash};
    args.insert(args.end(), target.begin(), target.end());
    args.push_back(image);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid;
    const auto start = std::chrono::steady_clock::now();
    const int rc = ::posix_spawn(&pid, config.flash.c_str(), &actions, nullptr, Argv(args).data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::fprintf(stderr, "flash_bench: cannot start %s: %s\n", config.flash.c_str(), std::strerror(rc));
        return std::nullopt;
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    const auto end = std::chrono::steady_clock::now();
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    Run run;
    run.wallS = std::chrono::duration<double>(end - start).count();
    run.cpuS = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.maxRssKiB = usage.ru_maxrss;
    return run;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string LastLines(const std::string& text, int count) {
    std::size_t at = text.size();
    for (int i = 0; i <= count && at != std::string::npos && at > 0; ++i) at = text.rfind('\n', at - 1);
    return at == std::string::npos ? text : text.substr(at + 1);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void PrintRow(const char* label, const Run& r, double floorS) {
    std::printf("%-7s %8.3f %7.3f %8.3f %6.2f %11ld\n", label, r.wallS, r.wallS / floorS, r.cpuS,
                100.0 * r.cpuS / r.wallS, r.maxRssKiB);
}

}  // namespace

// One timed run of vornic-flash, its output kept in a log; nothing (and the
// end of the log shown) when it failed.
std::optional<Run> TimedRun(const Config& config, const std::vector<std::string>& target, const std::string& image,
                            const std::filesystem::path& folder, int i) {
    const std::string log = (folder / ("run-" + std::to_string(i) + ".log")).string();
    int exitCode = -1;
    const auto run = Download(config, target, image, log, &exitCode);
    if (run && exitCode != 0) {
        std::printf("run %d failed: vornic-flash exited %d after %.3f s:\n%s", i, exitCode, run->wallS,
                    LastLines(ReadFile(log), 5).c_str());
        return std::nullopt;
    }
    return run;
}

// Fleet runs: one vornic-flash into config.fleet controllers of one
// simulator, its wall time against the waves' floor and its CPU time (the
// parent's and every child's) per target.
int RunFleet(const Config& config, const std::filesystem::path& folder, const std::string& image,
             const std::string& bytes) {
    const std::string targets = (folder / "targets").string();
    const std::string received = (folder / "received.bin").string();
    Simulator sim;
    if (!sim.Start(config, received, targets)) {
        std::fprintf(stderr, "flash_bench: the simulator did not start (%s)\n", config.sim.c_str());
        return 1;
    }
    const int jobs = config.jobs > 0 ? config.jobs : std::min(config.fleet, kFleetDefaultJobs);
    // A canary is a wave of its own before the rest.
    const int canary = std::min(config.canary, config.fleet);
    const int waves = (canary + jobs - 1) / jobs + (config.fleet - canary + jobs - 1) / jobs;
    const double oneS = config.serial ? kFrames * (kStopTestS + kReaderLookS) : kFrames * kStopTestS;
    const double floorS = waves * oneS;
    std::printf("flash_bench: fleet of %d %s controllers, %d at once (%d wave%s), %d run%s\n", config.fleet,
                config.serial ? "serial (pseudo-terminal)" : "TCP", jobs, waves, waves > 1 ? "s" : "", config.runs,
                config.runs > 1 ? "s" : "");
    if (canary > 0) std::printf("a canary of %d first, alone, then the other %d\n", canary, config.fleet - canary);
    std::printf("floor: %d wave%s x %.3f s (one download) = %.3f s\n", waves, waves > 1 ? "s" : "", oneS, floorS);
    std::printf("\n%-7s %8s %7s %8s %6s %14s %11s\n", "run", "wall s", "ratio", "cpu s", "cpu %", "cpu %/target",
                "maxrss KiB");

    // One download alone on the same machine first: how much of the ratio is
    // the machine's and how much the fleet's.
    std::string way, first;
    std::ifstream(targets) >> way >> first;  // "tcp 127.0.0.1:PORT sim-1"
    const auto alone = TimedRun(config, {config.serial ? "--serial" : "--tcp", first}, image, folder, 0);
    if (!alone) return 1;
    std::printf("%-7s %8.3f %7.3f %8.3f %6.2f %14.3f %11ld\n", "alone", alone->wallS, alone->wallS / oneS,
                alone->cpuS, 100.0 * alone->cpuS / alone->wallS, 100.0 * alone->cpuS / alone->wallS,
                alone->maxRssKiB);

    std::vector<std::string> target = {"--targets", targets, "--report", (folder / "report.jsonl").string()};
    if (config.jobs > 0) target.insert(target.end(), {"--jobs", std::to_string(config.jobs)});
    if (config.canary > 0) target.insert(target.end(), {"--canary", std::to_string(config.canary)});
    std::vector<Run> runs;
    for (int i = 1; i <= config.runs; ++i) {
        for (int k = 1; k <= config.fleet; ++k) std::filesystem::remove(received + "." + std::to_string(k));
        const auto run = TimedRun(config, target, image, folder, i);
        if (!run) return 1;
        for (int k = 1; k <= config.fleet; ++k) {
            if (ReadFile(received + "." + std::to_string(k)) != bytes) {
                std::printf("run %d: controller %d holds another image\n", i, k);
                return 1;
            }
        }
        runs.push_back(*run);
        std::printf("%-7d %8.3f %7.3f %8.3f %6.2f %14.3f %11ld\n", i, run->wallS, run->wallS / floorS, run->cpuS,
                    100.0 * run->cpuS / run->wallS, 100.0 * run->cpuS / run->wallS / config.fleet, run->maxRssKiB);
        std::fflush(stdout);
    }
    std::vector<double> wall, cpu;
    for (const Run& r : runs) {
        wall.push_back(r.wallS);
        cpu.push_back(r.cpuS);
    }
    const double ratio = Median(wall) / floorS;
    const double perTarget = 100.0 * Median(cpu) / Median(wall) / config.fleet;
    std::printf("every controller holds the image, byte for byte\n");
    std::printf("fleet over one download alone (x %d wave%s): %.3f\n\n", waves, waves > 1 ? "s" : "",
                Median(wall) / (alone->wallS * waves));
    std::printf("target wall/floor <= %.2f: %s (%.3f)\n", kFleetTargetRatio,
                ratio <= kFleetTargetRatio ? "met" : "MISSED", ratio);
    std::printf("target cpu < %.1f%% of wall per target: %s (%.3f%%, all processes)\n",
                kFleetTargetCpuPercentPerTarget, perTarget < kFleetTargetCpuPercentPerTarget ? "met" : "MISSED",
                perTarget);
    std::printf("simulator: %s\n", sim.Stop().c_str());
    return 0;
}

int main(int argc, char** argv) {
    const auto parsed = ParseArgs(argc, argv);
    if (!parsed) {
        Usage();
        return 2;
    }
    const Config config = *parsed;

    std::string pattern = (std::filesystem::temp_directory_path() / "flash_bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("flash_bench: mkdtemp");
        return 1;
    }
    const std::filesystem::path folder = pattern;
    struct Cleanup {
        std::filesystem::path path;
        ~Cleanup() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    } cleanup{folder};

    const std::string image = (folder / "firmware.bin").string();
    const std::string received = (folder / "received.bin").string();
    std::string bytes(kImageBytes, '\0');
    std::mt19937 generator(20240601);
    for (auto& b : bytes) b = static_cast<char>(generator());
    std::ofstream(image, std::ios::binary) << bytes;
    if (config.fleet > 0) return RunFleet(config, folder, image, bytes);

    Simulator sim;
    if (!sim.Start(config, received)) {
        std::fprintf(stderr, "flash_bench: the simulator did not start (%s)\n", config.sim.c_str());
        return 1;
    }
    std::vector<std::string> target;
    const std::string& banner = sim.Banner();
    if (config.serial)
        target = {"--serial", banner.substr(banner.find(' ') + 1)};
    else
        target = {"--tcp", banner.substr(banner.find(' ') + 1)};

    const double floorS = config.serial ? kFrames * (kStopTestS + kReaderLookS) : kFrames * kStopTestS;
    std::printf("flash_bench: %d %s download%s of %zu bytes, vornic-flash against the simulator (%s)\n",
                config.runs, config.serial ? "serial" : "TCP", config.runs > 1 ? "s" : "", kImageBytes,
                banner.c_str());
    if (config.replyLength > 0) std::printf("the simulator answers each frame with %d bytes in one write\n", config.replyLength);
    if (config.serial) {
        const int replyBytes = config.replyLength > 0 ? config.replyLength : kReplyBytes;
        const double lineS = kFrames * static_cast<double>((kFrameBytes + replyBytes) * kBitsPerByte) / kBaud;
        std::printf("protocol floor: %d frames x (10 ms stop test + 20 ms reader look) = %.3f s\n", kFrames, floorS);
        std::printf("19200-baud line: %d frames x (%d + %d) bytes x %d bits / %d baud = %.3f s\n", kFrames,
                    kFrameBytes, replyBytes, kBitsPerByte, kBaud, lineS);
        std::printf("on a real 19200-baud port expect at least %.3f s (the pseudo-terminal has no line rate)\n",
                    floorS + lineS);
    } else {
        std::printf("protocol floor: %d frames x 10 ms stop test = %.3f s\n", kFrames, floorS);
    }
    std::printf("\n%-7s %8s %7s %8s %6s %11s\n", "run", "wall s", "ratio", "cpu s", "cpu %", "maxrss KiB");

    std::vector<Run> runs;
    for (int i = 1; i <= config.runs; ++i) {
        std::filesystem::remove(received);
        const auto run = TimedRun(config, target, image, folder, i);
        if (!run) {
            std::printf("simulator: %s\n", sim.Stop().c_str());
            return 1;
        }
        if (ReadFile(received) != bytes) {
            std::printf("run %d: the simulator's image differs from the file\n", i);
            return 1;
        }
        runs.push_back(*run);
        PrintRow(std::to_string(i).c_str(), *run, floorS);
        std::fflush(stdout);
    }

    std::vector<double> wall, cpu, rss;
    for (const Run& r : runs) {
        wall.push_back(r.wallS);
        cpu.push_back(r.cpuS);
        rss.push_back(static_cast<double>(r.maxRssKiB));
    }
    const Run median{Median(wall), Median(cpu), static_cast<long>(Median(rss))};
    PrintRow("median", median, floorS);
    std::printf("every image byte-identical to the file\n\n");

    const double ratio = median.wallS / floorS;
    const double cpuPercent = 100.0 * median.cpuS / median.wallS;
    std::printf("target wall/floor <= %.2f: %s (%.3f)\n", kTargetRatio, ratio <= kTargetRatio ? "met" : "MISSED", ratio);
    std::printf("target cpu < %.0f%% of wall: %s (%.2f%%)\n", kTargetCpuPercent,
                cpuPercent < kTargetCpuPercent ? "met" : "MISSED", cpuPercent);
    std::printf("simulator: %s\n", sim.Stop().c_str());
    return 0;
}
