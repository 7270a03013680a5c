#include "platform/win32/private_folder_win32.h"

#include <windows.h>
#include <sddl.h>

#include <memory>

namespace platform {

namespace {

// The running user's SID as text, for a security descriptor.
std::wstring UserSid() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::wstring text;
    if (size > 0) {
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]);
        LPWSTR sid = nullptr;
        if (::GetTokenInformation(token, TokenUser, buffer.get(), size, &size) &&
            ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &sid)) {
            text = sid;
            ::LocalFree(sid);
        }
    }
    const DWORD error = ::GetLastError();
    ::CloseHandle(token);
    ::SetLastError(error);
    return text;
}

}  // namespace

bool CreatePrivateFolder(const std::wstring& path) {
    const std::wstring sid = UserSid();
    if (sid.empty()) return false;
    // Protected (no inherited entries): full control for the user and the
    // system, passed on to everything created inside.
    const std::wstring sddl = L"D:P(A;OICI;FA;;;" + sid + L")(A;OICI;FA;;;SY)";
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl.c_str(), SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr))
        return false;
    const bool made = ::CreateDirectoryW(path.c_str(), &attributes) != 0;
    const DWORD error = ::GetLastError();
    ::LocalFree(attributes.lpSecurityDescriptor);
    ::SetLastError(error);
    return made;
}

}  // namespace platform
