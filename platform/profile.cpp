#include "platform/profile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnds = "\r\n";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

struct Line {
    std::size_t begin;  // first byte of the content
    std::size_t end;    // one past the content: where the line end starts
    std::size_t next;   // one past the line end
    bool HasLineEnd() const { return next > end; }
};

// An editor's byte-order mark is no part of the first line.
std::size_t FirstLineStart(std::string_view text) { return text.substr(0, 3) == kBom ? 3 : 0; }

Line LineAt(std::string_view text, std::size_t pos) {
    const std::size_t end = text.find_first_of(kLineEnds, pos);
    if (end == std::string_view::npos) return {pos, text.size(), text.size()};
    std::size_t next = end + 1;
    if (text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
    return {pos, end, next};
}

enum class LineKind : std::uint8_t { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;
    std::size_t valueBegin = 0;  // offsets into the whole text
    std::size_t valueEnd = 0;
};

ParsedLine Parse(std::string_view text, const Line& line) {
    const std::string_view content = text.substr(line.begin, line.end - line.begin);
    std::size_t i = 0;
    while (i < content.size() && IsBlank(content[i])) ++i;
    if (i == content.size() || content[i] == ';') return {};
    if (content[i] == '[') {
        const std::size_t close = content.find(']', i + 1);
        if (close == std::string_view::npos) return {};
        return {LineKind::Section, Trim(content.substr(i + 1, close - i - 1))};
    }
    const std::size_t eq = content.find('=', i);
    if (eq == std::string_view::npos || eq == i) return {};
    std::size_t valueBegin = eq + 1;
    std::size_t valueEnd = content.size();
    while (valueEnd > valueBegin && IsBlank(content[valueEnd - 1])) --valueEnd;
    while (valueBegin < valueEnd && IsBlank(content[valueBegin])) ++valueBegin;
    // An empty value is written right after its '=', before any blanks.
    if (valueBegin == valueEnd) valueBegin = valueEnd = eq + 1;
    return {LineKind::Key, Trim(content.substr(i, eq - i)), line.begin + valueBegin,
            line.begin + valueEnd};
}

struct Lookup {
    bool sectionFound = false;
    Line anchor{};  // the last key line of the first matching section, or its header
    bool keyFound = false;
    std::size_t valueBegin = 0;
    std::size_t valueEnd = 0;
};

Lookup Find(std::string_view text, std::string_view section, std::string_view key) {
    Lookup found;
    bool inMatch = false;
    bool inFirstMatch = false;
    for (std::size_t pos = FirstLineStart(text); pos < text.size();) {
        const Line line = LineAt(text, pos);
        pos = line.next;
        const ParsedLine parsed = Parse(text, line);
        if (parsed.kind == LineKind::Section) {
            inMatch = SameName(parsed.name, section);
            inFirstMatch = inMatch && !found.sectionFound;
            if (inFirstMatch) {
                found.sectionFound = true;
                found.anchor = line;
            }
            continue;
        }
        if (parsed.kind != LineKind::Key || !inMatch) continue;
        if (inFirstMatch) found.anchor = line;
        if (SameName(parsed.name, key)) {
            found.keyFound = true;
            found.valueBegin = parsed.valueBegin;
            found.valueEnd = parsed.valueEnd;
            return found;
        }
    }
    return found;
}

std::string_view LineEndStyle(std::string_view text) {
    const std::size_t end = text.find_first_of(kLineEnds);
    if (end == std::string_view::npos) return "\r\n";
    if (text[end] == '\n') return "\n";
    return end + 1 < text.size() && text[end + 1] == '\n' ? std::string_view("\r\n")
                                                          : std::string_view("\r");
}

bool HasLineEndChar(std::string_view s) { return s.find_first_of(kLineEnds) != std::string_view::npos; }

bool CleanName(std::string_view s) {
    return !s.empty() && !IsBlank(s.front()) && !IsBlank(s.back()) && !HasLineEndChar(s);
}

}  // namespace

std::optional<std::string> ProfileValue(std::string_view text, std::string_view section,
                                        std::string_view key) {
    const Lookup found = Find(text, section, key);
    if (!found.keyFound) return std::nullopt;
    return std::string(text.substr(found.valueBegin, found.valueEnd - found.valueBegin));
}

std::uint32_t ProfileIntFromText(std::string_view value) {
    std::size_t i = 0;
    while (i < value.size() && IsBlank(value[i])) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
    std::uint32_t number = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        number = number * 10u + static_cast<std::uint32_t>(value[i] - '0');
    }
    return negative ? 0u - number : number;
}

std::uint32_t ProfileInt(std::string_view text, std::string_view section, std::string_view key,
                         std::uint32_t defaultValue) {
    const Lookup found = Find(text, section, key);
    if (!found.keyFound || found.valueBegin == found.valueEnd) return defaultValue;
    return ProfileIntFromText(text.substr(found.valueBegin, found.valueEnd - found.valueBegin));
}

std::vector<ProfileEntry> ProfileSectionEntries(std::string_view text, std::string_view section) {
    std::vector<ProfileEntry> entries;
    bool inMatch = false;
    for (std::size_t pos = FirstLineStart(text); pos < text.size();) {
        const Line line = LineAt(text, pos);
        pos = line.next;
        const ParsedLine parsed = Parse(text, line);
        if (parsed.kind == LineKind::Section) {
            inMatch = SameName(parsed.name, section);
        } else if (parsed.kind == LineKind::Key && inMatch) {
            entries.push_back(
                {std::string(parsed.name),
                 std::string(text.substr(parsed.valueBegin, parsed.valueEnd - parsed.valueBegin))});
        }
    }
    return entries;
}

bool ProfileWriteIsValid(std::string_view section, std::string_view key, std::string_view value) {
    if (!CleanName(section) || section.find(']') != std::string_view::npos) return false;
    if (!CleanName(key) || key.find('=') != std::string_view::npos || key.front() == ';' ||
        key.front() == '[')
        return false;
    if (HasLineEndChar(value)) return false;
    return value.empty() || (!IsBlank(value.front()) && !IsBlank(value.back()));
}

std::optional<std::string> ProfileWithValue(std::string_view text, std::string_view section,
                                            std::string_view key, std::string_view value) {
    if (!ProfileWriteIsValid(section, key, value)) return std::nullopt;
    const Lookup found = Find(text, section, key);
    std::string out;
    if (found.keyFound) {
        out.reserve(text.size() + value.size());
        out.append(text.substr(0, found.valueBegin));
        out.append(value);
        out.append(text.substr(found.valueEnd));
        return out;
    }
    const std::string_view eol = LineEndStyle(text);
    std::string keyLine = std::string(key) + "=" + std::string(value);
    if (found.sectionFound) {
        const Line& anchor = found.anchor;
        out.reserve(text.size() + keyLine.size() + eol.size());
        out.append(text.substr(0, anchor.next));
        if (anchor.HasLineEnd()) {
            // The line end of the line before: in a file of mixed line ends a
            // lone CR followed by an empty LF line would merge into one CR LF.
            out.append(keyLine).append(text.substr(anchor.end, anchor.next - anchor.end));
        } else {
            // After the file's last line, which has no line end: keep it without one.
            out.append(eol).append(keyLine);
        }
        out.append(text.substr(anchor.next));
        return out;
    }
    out.assign(text);
    const bool endsOpen = !text.empty() && kLineEnds.find(text.back()) == std::string_view::npos;
    if (endsOpen) out.append(eol);
    out.append("[").append(section).append("]").append(eol).append(keyLine);
    if (!endsOpen) out.append(eol);
    return out;
}

// ---------------------------------------------------------------------------
// Files

namespace {

std::atomic<std::uint8_t> g_failStep{0};  // ReplaceStep + 1; 0 for none
std::atomic<int> g_failErrno{0};

// True, with errno set, when the test seam fails this step.
bool Injected(ReplaceStep step) {
    std::uint8_t expected = static_cast<std::uint8_t>(static_cast<std::uint8_t>(step) + 1);
    if (!g_failStep.compare_exchange_strong(expected, 0)) return false;
    errno = g_failErrno.load();
    return true;
}

bool Fail(FileErrorCause* cause, FileErrorCause value) {
    if (cause) *cause = value;
    return false;
}

bool FailErrno(FileErrorCause* cause, int err) { return Fail(cause, FileErrorCauseFromErrno(err)); }

bool Succeed(FileErrorCause* cause) {
    if (cause) *cause = FileErrorCause::None;
    return true;
}

bool WriteAllAt(int fd, std::string_view text, off_t offset) {
    if (Injected(ReplaceStep::Write)) return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done,
                                   offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes through a link into the file it names, so that the link survives.
std::string ResolvedPath(const std::string& path) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr) return path;
    return buffer;
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    // Only hurries the new name to the disk: the file behind it is complete.
    (void)::fsync(fd);
    ::close(fd);
}

// Used only when the folder refuses new files but the file itself may be
// written. The room is reserved first so that a full disk fails before any
// byte changes.
bool RewriteInPlace(const std::string& target, std::string_view text, FileErrorCause* cause) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return FailErrno(cause, errno);
    auto fail = [&](int err) {
        ::close(fd);
        return FailErrno(cause, err);
    };
    if (!text.empty() && ::fallocate(fd, 0, 0, static_cast<off_t>(text.size())) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        return fail(errno);
    if (!WriteAllAt(fd, text, 0)) return fail(errno);
    if (::ftruncate(fd, static_cast<off_t>(text.size())) != 0) return fail(errno);
    if (::fsync(fd) != 0) return fail(errno);
    if (::close(fd) != 0) return FailErrno(cause, errno);
    return Succeed(cause);
}

// Replaces (or creates) `target` with `text` through a temporary file in its
// folder. `old` is the state of the file being replaced, or null.
bool ReplaceFile(const std::string& target, std::string_view text, const struct stat* old,
                 FileErrorCause* cause) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    // Kept short enough that the temporary name fits the folder's name limit.
    const std::string base = target.substr(folder.size(), 200);

    std::string temp;
    int fd = -1;
    for (int attempt = 0;; ++attempt) {
        temp = folder + "." + base + "." + std::to_string(::getpid()) + "." +
               std::to_string(counter.fetch_add(1)) + ".tmp";
        if (!Injected(ReplaceStep::CreateTemp)) {
            fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                        old ? 0600 : 0666);
        }
        if (fd >= 0) break;
        const int err = errno;
        if (err == EEXIST && attempt < 100) continue;
        if (old && (err == EACCES || err == EPERM)) return RewriteInPlace(target, text, cause);
        // What is missing when a new name cannot be made is the folder.
        return Fail(cause, err == ENOENT ? FileErrorCause::BadPath : FileErrorCauseFromErrno(err));
    }

    auto abandon = [&](int err) {
        if (fd >= 0) ::close(fd);
        ::unlink(temp.c_str());
        return FailErrno(cause, err);
    };
    if (!WriteAllAt(fd, text, 0)) return abandon(errno);
    if (old) {
        // Ownership is given back where the system lets us; either way the
        // file stays writable for whoever could write it before.
        if (old->st_uid != ::geteuid() || old->st_gid != ::getegid()) {
            // A cast to void does not quiet the fortified headers' warning.
            [[maybe_unused]] const int given = ::fchown(fd, old->st_uid, old->st_gid);
        }
        if (::fchmod(fd, old->st_mode & 07777) != 0) return abandon(errno);
    }
    if (::fsync(fd) != 0) return abandon(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return abandon(errno);
    if (Injected(ReplaceStep::Rename) || ::rename(temp.c_str(), target.c_str()) != 0)
        return abandon(errno);
    SyncFolder(folder);
    return Succeed(cause);
}

}  // namespace

void FailNextReplace(ReplaceStep step, int err) {
    g_failErrno.store(err);
    g_failStep.store(static_cast<std::uint8_t>(static_cast<std::uint8_t>(step) + 1));
}

bool PathExists(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0;
}

bool ReadProfileText(const std::string& path, std::string* text, FileErrorCause* cause) {
    text->clear();
    // O_NONBLOCK: a pipe put in the file's place must not hold the reader.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return FailErrno(cause, errno);
    auto fail = [&](FileErrorCause value) {
        ::close(fd);
        text->clear();
        return Fail(cause, value);
    };
    struct stat st{};
    if (::fstat(fd, &st) != 0) return fail(FileErrorCauseFromErrno(errno));
    if (!S_ISREG(st.st_mode)) return fail(FileErrorCause::AccessDenied);
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(FileErrorCauseFromErrno(errno));
        }
        text->append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return Succeed(cause);
}

std::uint32_t GetProfileInt(const std::string& section, const std::string& key,
                            std::uint32_t defaultValue, const std::string& path) {
    std::string text;
    if (!ReadProfileText(path, &text, nullptr)) return defaultValue;
    return ProfileInt(text, section, key, defaultValue);
}

std::vector<ProfileEntry> GetProfileSection(const std::string& section, const std::string& path) {
    std::string text;
    if (!ReadProfileText(path, &text, nullptr)) return {};
    return ProfileSectionEntries(text, section);
}

bool WriteProfileStrings(const std::string& section, const std::vector<ProfileEntry>& entries,
                         const std::string& path, FileErrorCause* cause) {
    for (const ProfileEntry& entry : entries) {
        if (!ProfileWriteIsValid(section, entry.key, entry.value))
            return Fail(cause, FileErrorCause::Generic);
    }
    const std::string target = ResolvedPath(path);
    struct stat st{};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return FailErrno(cause, errno);

    std::string text;
    if (exists) {
        if (!S_ISREG(st.st_mode)) return Fail(cause, FileErrorCause::AccessDenied);
        // Root may write anything; a file without a single write bit was
        // still meant to stay as it is.
        if ((st.st_mode & 0222) == 0) return Fail(cause, FileErrorCause::AccessDenied);
        // The rename below would replace even a file we may not write.
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            return FailErrno(cause, errno);
        if (!ReadProfileText(target, &text, cause)) return false;
    }
    std::string updated = text;
    for (const ProfileEntry& entry : entries) {
        updated = *ProfileWithValue(updated, section, entry.key, entry.value);
    }
    // Nothing to change: the file is left alone, its time stamp included.
    if (exists && updated == text) return Succeed(cause);
    return ReplaceFile(target, updated, exists ? &st : nullptr, cause);
}

bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path, FileErrorCause* cause) {
    return WriteProfileStrings(section, {{key, value}}, path, cause);
}

bool CreateFileWithText(const std::string& path, std::string_view text, FileErrorCause* cause) {
    return ReplaceFile(path, text, nullptr, cause);
}

}  // namespace platform
