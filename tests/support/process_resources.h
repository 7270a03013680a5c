#pragma once
// What the process holds, to prove that a run leaves nothing behind: its
// threads by id and its descriptors by number and target. A check looks for
// what is new since the baseline, never at bare counts: a thread of an earlier
// step may still be on its way out when the baseline is taken (a joined
// thread stays listed for a moment on a busy machine), and its end during the
// run must not pass for a difference.

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>

namespace support {

struct ProcessResources {
    std::set<int> threads;                   // ids under /proc/self/task
    std::map<int, std::string> descriptors;  // number -> what it refers to
};

namespace detail {
template <typename Visit>
inline void ForEachEntry(const char* folder, Visit visit) {
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) return;
    const int own = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        visit(own, entry->d_name);
    }
    ::closedir(dir);
}
}  // namespace detail

inline ProcessResources TakeProcessResources() {
    ProcessResources r;
    detail::ForEachEntry("/proc/self/task", [&](int, const char* name) { r.threads.insert(std::atoi(name)); });
    detail::ForEachEntry("/proc/self/fd", [&](int own, const char* name) {
        const int fd = std::atoi(name);
        if (fd == own) return;  // the listing's own descriptor
        char target[512];
        const ssize_t n = ::readlinkat(own, name, target, sizeof target - 1);
        r.descriptors[fd] = n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "?";
    });
    return r;
}

// How many descriptors the process holds now: a bare count, for a step on
// this thread alone, where nothing of another thread can be on its way out.
inline int CountOpenDescriptors() { return static_cast<int>(TakeProcessResources().descriptors.size()); }

// What `now` holds that `before` did not, as text; empty when nothing.
inline std::string NewSince(const ProcessResources& before, const ProcessResources& now) {
    std::ostringstream text;
    for (const auto& [fd, target] : now.descriptors) {
        const auto was = before.descriptors.find(fd);
        if (was == before.descriptors.end() || was->second != target)
            text << " descriptor " << fd << " -> " << target << ";";
    }
    for (const int id : now.threads)
        if (before.threads.count(id) == 0) text << " thread " << id << ";";
    return text.str();
}

// The baseline for a check. A sanitizer's runtime starts a helper thread of
// its own with the first thread of the process: one is started and ended
// here first, so that the helper is not taken for one the tool left behind.
inline ProcessResources Baseline() {
    std::thread([] {}).join();
    return TakeProcessResources();
}

// Detached workers end a moment after the idle event, and a peer closes its
// end of a connection a moment after the tool: what is new is looked for
// again until nothing is, or the time is up.
inline ::testing::AssertionResult NothingLeftSince(const ProcessResources& baseline,
                                                   std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::string left = NewSince(baseline, TakeProcessResources());
    while (!left.empty() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        left = NewSince(baseline, TakeProcessResources());
    }
    if (left.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "new since the baseline:" << left;
}

}  // namespace support
