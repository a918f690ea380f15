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

namespace {

// The names nameOf(first) .. nameOf(last) in order, until one is Taken.
std::string TakeFirstFree(int first, int last,
                          const std::function<std::string(int n)>& nameOf,
                          const std::function<NameTry(const std::string& name)>& take) {
    for (int n = first; n <= last; ++n) {
        const std::string name = nameOf(n);
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

}  // namespace

std::string TakeFreeFileName(const std::string& path,
                             const std::function<NameTry(const std::string& name)>& take) {
    return TakeFirstFree(
        1, kMaxFileNumber, [&](int n) { return NumberedFileName(path, n); }, take);
}

std::string TakeFreeTempFileName(const std::string& path,
                                 const std::function<NameTry(const std::string& name)>& take) {
    return TakeFirstFree(
        0, kMaxTempNumber - 1, [&](int n) { return path + "." + std::to_string(n) + ".tmp"; },
        take);
}
