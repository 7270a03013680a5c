#include "platform/temp_folder.h"

#include <windows.h>
#include <sddl.h>

#include <memory>
#include <random>

#include "platform/system_error.h"
#include "platform/wide_text_win32.h"

namespace platform {

namespace {

// A security descriptor that lets only the running user (and the system)
// into the folder and keeps inherited entries out, as mode 0700 does.
std::wstring OwnerOnlyDescriptor() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]);
    std::wstring descriptor;
    if (size > 0 && ::GetTokenInformation(token, TokenUser, buffer.get(), size, &size)) {
        LPWSTR sid = nullptr;
        if (::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &sid)) {
            descriptor = L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")(A;OICI;FA;;;SY)";
            ::LocalFree(sid);
        }
    }
    ::CloseHandle(token);
    return descriptor;
}

}  // namespace

std::string MakePrivateTempFolder(const std::string& prefix, std::string* error) {
    wchar_t base[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH) {
        *error = "the temporary folder: " + SystemErrorText(LastError());
        return {};
    }
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    const std::wstring sddl = OwnerOnlyDescriptor();
    if (sddl.empty() || !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                            sddl.c_str(), SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr)) {
        *error = "the temporary folder's access rights: " + SystemErrorText(LastError());
        return {};
    }
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 generator(seed());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(kLetters) - 2);
    std::string path;
    bool made = false;
    // As mkdtemp does: another name when the drawn one is taken.
    for (int attempt = 0; attempt < 100 && !made; ++attempt) {
        std::string suffix(6, 'x');
        for (char& c : suffix) c = kLetters[pick(generator)];
        path = Narrow(base) + prefix + suffix;
        made = ::CreateDirectoryW(Widen(path).c_str(), &attributes) != 0;
        if (!made && ::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    const int code = made ? 0 : LastError();
    ::LocalFree(attributes.lpSecurityDescriptor);
    if (!made) {
        *error = path + ": " + SystemErrorText(code);
        return {};
    }
    return path;
}

}  // namespace platform
