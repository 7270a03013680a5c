// flash_bench: whole downloads with vornic-flash against the controller
// simulator on loopback (or a pseudo-terminal), timed against the floor the
// protocol sets, with the tool's CPU time and peak memory.

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

struct Config {
    int runs = 3;
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
                 "Usage: flash_bench [--runs N] [--serial] [--reply-len N] [--flash PATH] [--sim PATH]\n"
                 "Times N (default 3) whole downloads over loopback TCP, or over a\n"
                 "pseudo-terminal with --serial. --reply-len has the simulator answer\n"
                 "every frame with N bytes (1..64) in one write.\n");
}

std::optional<Config> ParseArgs(int argc, char** argv) {
    Config c;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--runs" && hasValue) {
            c.runs = std::atoi(argv[++i]);
            if (c.runs < 1 || c.runs > 100) return std::nullopt;
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
    bool Start(const Config& config, const std::string& imagePath) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return false;
        std::vector<std::string> args = {config.sim, "--image", imagePath};
        if (config.serial)
            args.push_back("--serial");
        else
            args.insert(args.end(), {"--port", "0"});
        if (config.replyLength > 0) args.insert(args.end(), {"--reply-len", std::to_string(config.replyLength)});
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
        const std::string log = (folder / ("flash-" + std::to_string(i) + ".log")).string();
        int exitCode = -1;
        const auto run = Download(config, target, image, log, &exitCode);
        if (!run) return 1;
        if (exitCode != 0) {
            std::printf("run %d failed: vornic-flash exited %d after %.3f s:\n%s", i, exitCode, run->wallS,
                        LastLines(ReadFile(log), 3).c_str());
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
