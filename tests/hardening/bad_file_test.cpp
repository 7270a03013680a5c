// Bad firmware files and paths: whatever the user names, the run ends with
// one notice with the tool's text for it, never blocks on what it opens, reads no
// more than the image, and leaves the tool ready for the next run.

#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstring>
#include <filesystem>

#include "hardening_support.h"
#include "platform/file_error.h"

namespace {

using namespace hardening;
namespace fs = std::filesystem;

constexpr const char* kSuccess = "Download firmware successfully!";
constexpr std::uint32_t kReceiveTimeoutMs = 5000;

class BadFiles : public ::testing::Test {
protected:
    void SetUp() override {
        m_context.SetPath({});
        m_context.UseTcp(m_sim.Port(), kReceiveTimeoutMs);
    }

    std::string Path(const std::string& name) const { return m_folder.Path(name); }

    // One run with `path`, ended with exactly `text`.
    void ExpectRunEndsWith(const std::string& path, const std::string& text,
                           MessageStyle style = MessageStyle::Warning,
                           std::source_location where = std::source_location::current()) {
        ::testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), path.substr(0, 200));
        m_context.SetPath(path);
        const RunMark mark = MarkOf(m_context);
        RunToEnd(m_context, 120s);
        ExpectRunEndedWith(m_context, mark, text, style, where);
    }

    // A run refused before its first frame, at once: nothing it was given
    // may hold it, neither a read nor a wait.
    void ExpectRefused(const std::string& path, const std::string& text,
                       std::source_location where = std::source_location::current()) {
        const RunMark mark = MarkOf(m_context);
        const auto start = Clock::now();
        ExpectRunEndsWith(path, text, MessageStyle::Warning, where);
        EXPECT_LT(Clock::now() - start, 10s) << path.substr(0, 200);
        EXPECT_EQ(ProgressSince(m_context, mark), std::vector<int>{0}) << "frames were sent";
    }

    void ExpectSent(const Bytes& image) {
        const auto received = m_sim.LastImage();
        ASSERT_TRUE(received.has_value());
        EXPECT_TRUE(std::equal(received->begin(), received->end(), image.begin()));
    }

    support::TempFolder m_folder;
    SimThread m_sim{{}};
    RecordingContext m_context;
};

TEST_F(BadFiles, WhatIsNoImageEndsWithTheFileErrorOfItsCause) {
    using platform::FileErrorCause;
    const std::string missing = Path("missing.bin");
    ExpectRefused(missing, platform::FileErrorText(FileErrorCause::FileNotFound, missing));
    ExpectRefused(missing, missing + " was not found.");

    ExpectRefused("", "an unnamed file contains an invalid path.");

    const std::string folder = Path("a folder");
    fs::create_directory(folder);
    ExpectRefused(folder, "Access to " + folder + " was denied.");

    const std::string dangling = Path("dangling.bin");
    fs::create_symlink(Path("nowhere.bin"), dangling);
    ExpectRefused(dangling, dangling + " was not found.");

    const std::string loopA = Path("loop-a.bin"), loopB = Path("loop-b.bin");
    fs::create_symlink(loopB, loopA);
    fs::create_symlink(loopA, loopB);
    ExpectRefused(loopA, loopA + " contains an invalid path.");

    const std::string image = support::WriteBytes(Path("image.bin"), ImageBytes(1));
    ExpectRefused(image + "/inside.bin", image + "/inside.bin contains an invalid path.");

    // A name longer than a folder entry may be, and a path longer than the
    // system takes at all: the text is cut at 1023 bytes.
    const std::string longName = Path(std::string(300, 'n') + ".bin");
    ExpectRefused(longName, longName + " contains an invalid path.");
    std::string longPath = Path("");
    while (longPath.size() < 5000) longPath += "deeper/";
    longPath += "image.bin";
    const std::string cut = platform::FileErrorText(FileErrorCause::BadPath, longPath);
    EXPECT_EQ(cut.size(), 1023u);
    EXPECT_EQ(cut, longPath.substr(0, 1023));
    ExpectRefused(longPath, cut);

    // Held by another program: the lock is the sharing of the file.
    const int holder = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    ExpectRefused(image, "A sharing violation occurred while accessing " + image + ".");
    ::close(holder);
}

TEST_F(BadFiles, PipesDevicesAndSocketsAreRefusedWithoutWaitingOnThem) {
    // A named pipe nobody writes to would block an open or a read for ever;
    // /dev/zero never ends; /dev/null reads as empty; a socket cannot be
    // opened at all. None is a firmware image: each is refused as access
    // denied before anything is read.
    const std::string fifo = Path("pipe.bin");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ExpectRefused(fifo, "Access to " + fifo + " was denied.");

    ExpectRefused("/dev/zero", "Access to /dev/zero was denied.");
    ExpectRefused("/dev/null", "Access to /dev/null was denied.");

    const std::string socketPath = Path("socket.bin");
    const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(s, 1), 0);
    ExpectRefused(socketPath, "Access to " + socketPath + " was denied.");
    ::close(s);
}

TEST_F(BadFiles, TooShortFilesEndBeforeAnyFrameAndAFullOneIsSentWhole) {
    const std::string empty = support::WriteBytes(Path("empty.bin"), {});
    ExpectRefused(empty, "Read firmware error,please check!");
    const Bytes image = ImageBytes(2);
    const std::string shortOne =
        support::WriteBytes(Path("short.bin"), Bytes(image.begin(), image.end() - 1));
    ExpectRefused(shortOne, "Read firmware error,please check!");

    // Spaces and UTF-8 in the folder and the name change nothing.
    fs::create_directory(Path("Firmware für Tafel 3"));
    const std::string exact = support::WriteBytes(Path("Firmware für Tafel 3/固件 v2.bin"), image);
    ExpectRunEndsWith(exact, kSuccess, MessageStyle::Information);
    ExpectSent(image);
}

TEST_F(BadFiles, OfAGibibyteFileOnlyTheImageIsRead) {
    // The simulator runs as a program of its own here, so that the bytes it
    // reads are not counted as this process's.
    const Bytes image = ImageBytes(3);
    const std::string path = support::WriteBytes(Path("huge.bin"), image);
    fs::resize_file(path, std::uint64_t{1} << 30);  // sparse: no disk behind the rest
    const std::string received = Path("received.bin");
    SimProcess sim({"--port", "0", "--image", received});
    m_context.UseTcp(sim.Port(), kReceiveTimeoutMs);

    const std::uint64_t before = ReadCharCount();
    ExpectRunEndsWith(path, kSuccess, MessageStyle::Information);
    const std::uint64_t read = ReadCharCount() - before;

    EXPECT_GE(read, std::uint64_t{kImageSize});
    EXPECT_LT(read, std::uint64_t{kImageSize} + 16384) << "more than the image was read";
    std::ifstream in(received, std::ios::binary);
    const Bytes got((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(got, image);
}

TEST_F(BadFiles, FileCutShortWhileSendingEndsWithReadFirmwareError) {
    const std::string path = support::WriteBytes(Path("cut.bin"), ImageBytes(4));
    // At frame 300: 300 frames were read, the next read comes back empty.
    m_context.OnProgress([&, calls = 0](int) mutable {
        if (calls++ == 300) fs::resize_file(path, 300 * kFrameDataSize);
    });
    ExpectRunEndsWith(path, "Read firmware error!");
    EXPECT_EQ(m_context.Progress().size(), 302u);
}

TEST_F(BadFiles, FileRewrittenInPlaceWhileSendingEndsWithReadFirmwareError) {
    // Another program writes a new image over the one being sent (the lock
    // binds only those who ask for it). Going on would send the first frames
    // of one image and the rest of another, and call it a success.
    const std::string path = support::WriteBytes(Path("rewritten.bin"), ImageBytes(5));
    const Bytes other = ImageBytes(6);
    m_context.OnProgress([&, calls = 0](int) mutable {
        if (calls++ != 100) return;
        std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
        out.write(reinterpret_cast<const char*>(other.data()), static_cast<std::streamsize>(other.size()));
    });
    ExpectRunEndsWith(path, "Read firmware error!");
    EXPECT_EQ(m_context.Progress().size(), 102u) << "the rewrite must be noticed at the next frame";
}

TEST_F(BadFiles, FileReplacedWhileSendingIsSentAsItWasWhenOpened) {
    // Saving a new build usually writes a new file and renames it over the
    // old name. The open image is unchanged by that, and it is what goes out.
    const Bytes image = ImageBytes(7);
    const std::string path = support::WriteBytes(Path("replaced.bin"), image);
    const std::string fresh = support::WriteBytes(Path("fresh.bin"), ImageBytes(8));
    m_context.OnProgress([&, calls = 0](int) mutable {
        if (calls++ == 100) fs::rename(fresh, path);
    });
    ExpectRunEndsWith(path, kSuccess, MessageStyle::Information);
    ExpectSent(image);
}

}  // namespace
