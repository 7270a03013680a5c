#include "ui/file_find.h"

#include <QDir>
#include <QFileInfo>

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
    // Qt splits the path as the system does: at backslashes too on Windows.
    const QFileInfo info(QString::fromStdString(path));
    const QString name = info.fileName();
    if (name.isEmpty()) return false;
    if (!name.contains(QLatin1Char('*')) && !name.contains(QLatin1Char('?'))) return info.exists();

    const std::string pattern = name.toStdString();
    const QStringList entries =
        info.dir().entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries)
        if (WildcardMatch(pattern, entry.toStdString())) return true;
    return false;
}
