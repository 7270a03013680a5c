#pragma once
// The file search the Operation page tests a firmware path with: true when
// something matches the path. The last part of the path may hold the
// wildcards * and ?; a folder matches as well as a file.

#include <string>

class CFileFind {
public:
    bool FindFile(const std::string& path);
};

// * stands for any run of characters, ? for one.
bool WildcardMatch(const std::string& pattern, const std::string& name);
