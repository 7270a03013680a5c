#pragma once
// The thin per-OS file calls that text_file.cpp and read_only_file.cpp are
// written over. Private to platform/: each OS's text_file_*.cpp defines the
// calls of the first part, its read_only_file_*.cpp those of the second.
// A call that fails returns false (or kNoFile, or -1) with the system's last
// error set.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::file_calls {

// The descriptor on POSIX, the HANDLE on Windows.
using NativeFile = std::intptr_t;
inline constexpr NativeFile kNoFile = -1;

// What a replacement needs to know of the file already at the path.
struct ExistingFile {
    bool exists = false;
    bool regular = false;
    // No write bit for anyone, or the read-only attribute on Windows.
    bool markedReadOnly = false;
    // Given back to the new file on POSIX; on Windows ReplaceFileW carries
    // the attributes and access rights over itself.
    std::uint32_t mode = 0;
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
};

// Why a new file could not be made.
enum class NoNewFile : std::uint8_t { NameTaken, FolderRefuses, FolderMissing, Other };

// --- text_file_*.cpp ---
// The file a link names, so that the link survives; `path` itself otherwise.
std::string ResolvedPath(const std::string& path);
// Fails only when the system cannot tell; a missing file is no failure.
bool Inspect(const std::string& path, ExistingFile* file);
// Whether this user may write the file: a replacement would go through even
// for a file they may not.
bool MayWrite(const std::string& path);
// Where the folder part of `path` ends (after its last separator).
std::size_t FolderEnd(const std::string& path);
NativeFile OpenToRead(const std::string& path);
// A regular file: not a pipe or a device that could hold the reader.
bool IsRegularFile(NativeFile file, bool* regular);
// A new file for writing, the user's alone when it is to replace one.
NativeFile CreateNew(const std::string& path, bool replacesAFile);
NoNewFile WhyNoNewFile(int error);
NativeFile OpenToWrite(const std::string& path);
// Makes room for `length` bytes without cutting the file, so that a full
// disk fails before a byte changes.
bool Reserve(NativeFile file, std::size_t length);
bool WriteFromStart(NativeFile file, std::string_view text);
bool SetLength(NativeFile file, std::size_t length);
bool KeepOwnerAndMode(NativeFile file, const ExistingFile& old);
bool Sync(NativeFile file);
bool Close(NativeFile file);
void Remove(const std::string& path);
// `temp` takes the place of the existing `target`.
bool ReplaceExisting(const std::string& temp, const std::string& target);
// `temp` is renamed to `target`, replacing whatever is there.
bool MoveOver(const std::string& temp, const std::string& target);
// True when a failed ReplaceExisting has moved the old file out of its name.
bool OldFileMovedAside(int error);
// Hurries a new name in `folder` to the disk.
void SyncFolder(const std::string& folder);

// --- read_only_file_*.cpp ---
// At most `count` bytes; 0 at the end.
std::int64_t ReadSome(NativeFile file, void* buffer, std::size_t count);
bool FileLength(NativeFile file, std::uint64_t* length);

// The test seam of the read-only file's lock: the injected error, taken once
// (0 for none). Defined in read_only_file.cpp.
int TakeInjectedLockFailure();

}  // namespace platform::file_calls
