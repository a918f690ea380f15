#include "engine/file_naming.h"

std::string NumberedFileName(const std::string& path, int n) {
    if (n <= 1) {
        return path;
    }
    const size_t slash = path.find_last_of("\\/");
    const size_t dot = path.find_last_of('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const size_t cut = hasExt ? dot : path.size();
    return path.substr(0, cut) + " (" + std::to_string(n) + ")" + path.substr(cut);
}

std::string TakeFreeFileName(const std::string& path,
                             const std::function<NameTry(const std::string& name)>& take) {
    for (int n = 1; n <= kMaxFileNumber; ++n) {
        const std::string name = NumberedFileName(path, n);
        switch (take(name)) {
            case NameTry::Taken:
                return name;
            case NameTry::Failed:
                return {};
            case NameTry::Exists:
                break;
        }
    }
    return {};
}
