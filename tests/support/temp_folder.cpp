#include "support/temp_folder.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/temp_folder.h"

namespace support {

namespace {

std::string FolderPrefix() {
    std::string name = "vornic-test";
    if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
        name = std::string("vornic-") + info->test_suite_name() + "." + info->name();
        std::replace(name.begin(), name.end(), '/', '_');  // parameterized names
        name.resize(std::min<std::size_t>(name.size(), 120));
    }
    return name + "-";
}

void GiveBackWriteBits(const std::filesystem::path& root) {
    std::error_code ignored;
    const auto add = std::filesystem::perm_options::add;
    std::filesystem::permissions(root, std::filesystem::perms::owner_all, add, ignored);
    for (auto it = std::filesystem::recursive_directory_iterator(root, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_symlink(ignored)) continue;
        if (it->is_directory(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, add, ignored);
        else  // Windows deletes no file that has the read-only attribute.
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write, add, ignored);
    }
}

}  // namespace

TempFolder::TempFolder() {
    std::string error;
    const std::string dir = platform::MakePrivateTempFolder(FolderPrefix(), &error);
    if (!dir.empty())
        m_dir = Utf8Path(dir);
    else
        ADD_FAILURE() << "could not make a temporary folder: " << error;
}

TempFolder::~TempFolder() {
    if (m_dir.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
    if (!ec) return;
    GiveBackWriteBits(m_dir);
    std::filesystem::remove_all(m_dir, ec);
}

std::string TempFolder::Path(const std::string& name) const {
    return Utf8(m_dir / Utf8Path(name));
}

std::set<std::string> TempFolder::Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir))
        names.insert(Utf8(entry.path().filename()));
    return names;
}

std::filesystem::path Utf8Path(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(Utf8Path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(Utf8Path(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& text) {
    std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
    out << text;
}

std::string WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

Bytes RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
    return bytes;
}

}  // namespace support
