#include "res/strings.h"

#include <map>

namespace {

const std::map<int, std::string>& Table() {
    static const std::map<int, std::string> table = {
        {IDS_ABOUTBOX, "关于(&A)..."},
        {IDP_PARSE_INT, "Please enter an integer."},
        {IDP_PARSE_INT_RANGE, "Please enter an integer between %1 and %2."},
    };
    return table;
}

}  // namespace

std::string LoadResString(int id) {
    const auto it = Table().find(id);
    return it == Table().end() ? std::string() : it->second;
}

std::string FormatResString(int id, const std::vector<std::string>& args) {
    const std::string format = LoadResString(id);
    std::string text;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char next = i + 1 < format.size() ? format[i + 1] : '\0';
        if (format[i] == '%' && next >= '1' && next <= '9') {
            const auto index = static_cast<std::size_t>(next - '1');
            if (index < args.size()) text += args[index];
            ++i;
        } else {
            text += format[i];
        }
    }
    return text;
}
