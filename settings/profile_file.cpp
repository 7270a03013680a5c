#include "settings/profile_file.h"

#include "platform/text_file.h"

namespace settings {

std::uint32_t GetProfileInt(const std::string& section, const std::string& key,
                            std::uint32_t defaultValue, const std::string& path) {
    std::string text;
    if (!platform::ReadFileText(path, &text, nullptr)) return defaultValue;
    return ProfileInt(text, section, key, defaultValue);
}

std::vector<ProfileEntry> GetProfileSection(const std::string& section, const std::string& path) {
    std::string text;
    if (!platform::ReadFileText(path, &text, nullptr)) return {};
    return ProfileSectionEntries(text, section);
}

bool WriteProfileStrings(const std::string& section, const std::vector<ProfileEntry>& entries,
                         const std::string& path, platform::FileErrorCause* cause) {
    for (const ProfileEntry& entry : entries) {
        if (!ProfileWriteIsValid(section, entry.key, entry.value)) {
            if (cause) *cause = platform::FileErrorCause::Generic;
            return false;
        }
    }
    return platform::RewriteFileText(
        path,
        [&](const std::string& text) {
            std::string updated = text;
            for (const ProfileEntry& entry : entries) {
                updated = *ProfileWithValue(updated, section, entry.key, entry.value);
            }
            return updated;
        },
        cause);
}

bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path,
                        platform::FileErrorCause* cause) {
    return WriteProfileStrings(section, {{key, value}}, path, cause);
}

}  // namespace settings
