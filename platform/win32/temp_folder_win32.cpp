#include "platform/temp_folder.h"

#include <windows.h>

#include <random>

#include "platform/win32/private_folder_win32.h"
#include "platform/system_error.h"
#include "platform/win32/wide_text_win32.h"

namespace platform {

std::string MakePrivateTempFolder(const std::string& prefix, std::string* error) {
    wchar_t base[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
    if (length == 0 || length > MAX_PATH) {
        *error = StepErrorText("the temporary folder", LastError());
        return {};
    }
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 generator(seed());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(kLetters) - 2);
    std::string path;
    // As mkdtemp does: another name when the drawn one is taken.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix(6, 'x');
        for (char& c : suffix) c = kLetters[pick(generator)];
        path = Narrow(std::wstring_view(base, length)) + prefix + suffix;
        if (CreatePrivateFolder(Widen(path))) return path;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    *error = StepErrorText(path, LastError());
    return {};
}

}  // namespace platform
