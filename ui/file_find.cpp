#include "ui/file_find.h"

#include <filesystem>
#include <system_error>

bool WildcardMatch(const std::string& pattern, const std::string& name) {
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool CFileFind::FindFile(const std::string& path) {
    namespace fs = std::filesystem;
    const std::size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) return false;

    std::error_code error;
    if (name.find_first_of("*?") == std::string::npos) return fs::exists(fs::path(path), error);

    const fs::path folder = slash == std::string::npos ? fs::path(".")
                            : slash == 0               ? fs::path("/")
                                                       : fs::path(path.substr(0, slash));
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (WildcardMatch(name, it->path().filename().string())) return true;
    }
    return false;
}
