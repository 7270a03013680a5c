#pragma once
// A folder of its own for each test, removed with all it holds afterwards,
// and the file helpers the tests use around it.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace support {

using Bytes = std::vector<std::uint8_t>;

// Named after the running test, so that a folder left by a crash says whose
// it was. The removal first gives back the write bit to any folder or file a
// test took it from.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Dir() const { return m_dir; }
    // The path of `name` in the folder, in UTF-8 like every path the
    // program handles.
    std::string Path(const std::string& name) const;
    // The names in the folder: a rewrite must leave no temporary file behind.
    std::set<std::string> Names() const;

private:
    std::filesystem::path m_dir;
};

// A fixture whose every test has a fresh folder.
class TempFolderTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return m_folder.Path(name); }
    std::set<std::string> Names() const { return m_folder.Names(); }

    TempFolder m_folder;
    const std::filesystem::path& m_dir = m_folder.Dir();
};

// Paths are UTF-8 texts in the program; std::filesystem would read a plain
// std::string in the system's ANSI code page on Windows.
std::filesystem::path Utf8Path(const std::string& path);
std::string Utf8(const std::filesystem::path& path);

std::string ReadAll(const std::string& path);
Bytes ReadBytes(const std::string& path);
void WriteAll(const std::string& path, const std::string& text);
// Writes the file and returns its path.
std::string WriteBytes(const std::string& path, const Bytes& bytes);
// The same bytes for the same seed on every run.
Bytes RandomBytes(std::size_t size, unsigned seed);

}  // namespace support
