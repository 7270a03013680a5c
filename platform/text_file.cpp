#include "platform/text_file.h"

#include <atomic>
#include <cstdint>

#include "platform/child_process.h"
#include "platform/file_calls.h"
#include "platform/system_error.h"

namespace platform {

using file_calls::ExistingFile;
using file_calls::kNoFile;
using file_calls::NativeFile;
using file_calls::NoNewFile;

namespace {

std::atomic<std::uint8_t> g_failStep{0};  // ReplaceStep + 1; 0 for none
std::atomic<int> g_failError{0};

std::uint8_t Encoded(ReplaceStep step) {
    return static_cast<std::uint8_t>(static_cast<std::uint8_t>(step) + 1);
}

// True, with the system's last error set to the injected code, when the seam
// fails this step; each injection fails one step once.
bool InjectedReplaceFailure(ReplaceStep step) {
    std::uint8_t expected = Encoded(step);
    if (!g_failStep.compare_exchange_strong(expected, 0)) return false;
    SetLastError(g_failError.load());
    return true;
}

bool Fail(FileErrorCause* cause, FileErrorCause value) {
    if (cause) *cause = value;
    return false;
}

bool FailWith(FileErrorCause* cause, int err) { return Fail(cause, FileErrorCauseFromSystemError(err)); }

bool FailLastError(FileErrorCause* cause) { return FailWith(cause, LastError()); }

bool Succeed(FileErrorCause* cause) {
    if (cause) *cause = FileErrorCause::None;
    return true;
}

bool WriteAll(NativeFile file, std::string_view text) {
    if (InjectedReplaceFailure(ReplaceStep::Write)) return false;
    return file_calls::WriteFromStart(file, text);
}

// Closes a file without losing the error that made us give up on it.
bool GiveUp(NativeFile file, FileErrorCause* cause) {
    const int err = LastError();
    file_calls::Close(file);
    return FailWith(cause, err);
}

// Used only when the folder refuses new files but the file itself may be
// written. The room is reserved first so that a full disk fails before any
// byte changes.
bool RewriteInPlace(const std::string& target, std::string_view text, FileErrorCause* cause) {
    const NativeFile file = file_calls::OpenToWrite(target);
    if (file == kNoFile) return FailLastError(cause);
    if (!file_calls::Reserve(file, text.size()) || !WriteAll(file, text) ||
        !file_calls::SetLength(file, text.size()) || !file_calls::Sync(file))
        return GiveUp(file, cause);
    if (!file_calls::Close(file)) return FailLastError(cause);
    return Succeed(cause);
}

// Replaces (or creates) `target` with `text` through a temporary file in its
// folder. `old` is the file being replaced, or null.
bool ReplaceWithText(const std::string& target, std::string_view text, const ExistingFile* old,
                     FileErrorCause* cause) {
    static std::atomic<unsigned> counter{0};
    const std::size_t folderEnd = file_calls::FolderEnd(target);
    const std::string folder = target.substr(0, folderEnd);
    // Kept short enough that the temporary name fits the folder's name limit.
    const std::string base = target.substr(folderEnd, 200);

    std::string temp;
    NativeFile file = kNoFile;
    for (int attempt = 0;; ++attempt) {
        temp = folder + "." + base + "." + std::to_string(ProcessId()) + "." +
               std::to_string(counter.fetch_add(1)) + ".tmp";
        if (!InjectedReplaceFailure(ReplaceStep::CreateTemp)) file = file_calls::CreateNew(temp, old != nullptr);
        if (file != kNoFile) break;
        const int err = LastError();
        const NoNewFile why = file_calls::WhyNoNewFile(err);
        if (why == NoNewFile::NameTaken && attempt < 100) continue;
        if (why == NoNewFile::FolderRefuses && old) return RewriteInPlace(target, text, cause);
        // What is missing when a new name cannot be made is the folder.
        return why == NoNewFile::FolderMissing ? Fail(cause, FileErrorCause::BadPath) : FailWith(cause, err);
    }

    auto abandon = [&]() {
        const int err = LastError();
        if (file != kNoFile) file_calls::Close(file);
        file_calls::Remove(temp);
        return FailWith(cause, err);
    };
    if (!WriteAll(file, text)) return abandon();
    if (old && !file_calls::KeepOwnerAndMode(file, *old)) return abandon();
    if (!file_calls::Sync(file)) return abandon();
    const bool closed = file_calls::Close(file);
    file = kNoFile;
    if (!closed) return abandon();
    const bool replaced = !InjectedReplaceFailure(ReplaceStep::Rename) &&
                          (old ? file_calls::ReplaceExisting(temp, target) : file_calls::MoveOver(temp, target));
    if (!replaced) {
        if (!file_calls::OldFileMovedAside(LastError())) return abandon();
        // The old file is gone from its name: the temporary file holds the
        // only copy, and stays should the move fail too.
        if (!file_calls::MoveOver(temp, target)) return FailLastError(cause);
    }
    file_calls::SyncFolder(folder);
    return Succeed(cause);
}

}  // namespace

void FailNextReplace(ReplaceStep step, int err) {
    g_failError.store(err);
    g_failStep.store(Encoded(step));
}

bool ReadFileText(const std::string& path, std::string* text, FileErrorCause* cause) {
    text->clear();
    const NativeFile file = file_calls::OpenToRead(path);
    if (file == kNoFile) return FailLastError(cause);
    auto fail = [&](FileErrorCause value) {
        file_calls::Close(file);
        text->clear();
        return Fail(cause, value);
    };
    bool regular = false;
    if (!file_calls::IsRegularFile(file, &regular)) return fail(FileErrorCauseFromSystemError(LastError()));
    if (!regular) return fail(FileErrorCause::AccessDenied);
    char buffer[4096];
    for (;;) {
        const std::int64_t n = file_calls::ReadSome(file, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) return fail(FileErrorCauseFromSystemError(LastError()));
        text->append(buffer, static_cast<std::size_t>(n));
    }
    file_calls::Close(file);
    return Succeed(cause);
}

bool RewriteFileText(const std::string& path,
                     const std::function<std::string(const std::string&)>& edit,
                     FileErrorCause* cause) {
    const std::string target = file_calls::ResolvedPath(path);
    ExistingFile old;
    if (!file_calls::Inspect(target, &old)) return FailLastError(cause);

    std::string text;
    if (old.exists) {
        if (!old.regular) return Fail(cause, FileErrorCause::AccessDenied);
        // Root or an administrator could still replace the file, and must
        // not: its user has marked it read-only.
        if (old.markedReadOnly) return Fail(cause, FileErrorCause::AccessDenied);
        if (!file_calls::MayWrite(target)) return FailLastError(cause);
        if (!ReadFileText(target, &text, cause)) return false;
    }
    const std::string updated = edit(text);
    // Nothing to change: the file is left alone, its time stamp included.
    if (old.exists && updated == text) return Succeed(cause);
    return ReplaceWithText(target, updated, old.exists ? &old : nullptr, cause);
}

bool CreateFileWithText(const std::string& path, std::string_view text, FileErrorCause* cause) {
    return ReplaceWithText(path, text, nullptr, cause);
}

}  // namespace platform
