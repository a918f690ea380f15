#include "shell/Autorun.h"

#include <utility>

namespace kelvora {

namespace {

RunKeyOpener& Opener() {
    static RunKeyOpener opener;
    return opener;
}

LSTATUS OpenRunKey(HKEY root, REGSAM access, HKEY* key) {
    if (Opener()) {
        return Opener()(root, access, key);
    }
    if (root == HKEY_CURRENT_USER && (access & KEY_SET_VALUE) != 0) {
        // A fresh profile may lack the user's Run key; Windows reads it once
        // it exists. The machine's key is never created.
        return RegCreateKeyExA(root, kRunKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                               nullptr, key, nullptr);
    }
    return RegOpenKeyExA(root, kRunKeyPath, 0, access, key);
}

// An open registry key, closed (after a flush when it was written) on every path.
class RunKey {
  public:
    RunKey(HKEY root, REGSAM access) {
        if (OpenRunKey(root, access, &key_) != ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    RunKey(const RunKey&) = delete;
    RunKey& operator=(const RunKey&) = delete;
    ~RunKey() {
        if (key_ != nullptr) {
            if (written_) {
                RegFlushKey(key_);
            }
            RegCloseKey(key_);
        }
    }
    explicit operator bool() const { return key_ != nullptr; }

    // The value as a string; empty when missing or not a string.
    std::string Read() const {
        char buf[MAX_PATH * 4] = {};
        DWORD type = 0;
        DWORD size = sizeof(buf) - 1;
        if (RegQueryValueExA(key_, kAutorunValueName, nullptr, &type, reinterpret_cast<BYTE*>(buf),
                             &size) != ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ)) {
            return {};
        }
        return std::string(buf);
    }

    bool Write(const std::string& data) {
        written_ = true;
        return RegSetValueExA(key_, kAutorunValueName, 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(data.c_str()),
                              static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
    }

  private:
    HKEY key_ = nullptr;
    bool written_ = false;
};

bool WriteUnder(HKEY root, const std::string& data) {
    RunKey key(root, KEY_ALL_ACCESS);
    return key && key.Write(data);
}

std::string ReadUnder(HKEY root) {
    RunKey key(root, KEY_QUERY_VALUE);
    return key ? key.Read() : std::string();
}

}  // namespace

bool AutorunEnabled() {
    return !ReadUnder(HKEY_LOCAL_MACHINE).empty() || !ReadUnder(HKEY_CURRENT_USER).empty();
}

AutorunWrite SetAutorun(bool on, const std::string& exePath) {
    if (on) {
        if (WriteUnder(HKEY_LOCAL_MACHINE, exePath)) {
            return AutorunWrite::Machine;
        }
        return WriteUnder(HKEY_CURRENT_USER, exePath) ? AutorunWrite::User : AutorunWrite::Failed;
    }
    // Off: blank the machine's value (creating it empty, as before), and the
    // user's wherever a fallback wrote one.
    const bool machine = WriteUnder(HKEY_LOCAL_MACHINE, "");
    bool user = true;
    if (!ReadUnder(HKEY_CURRENT_USER).empty()) {
        user = WriteUnder(HKEY_CURRENT_USER, "");
    }
    if (machine && user) {
        return AutorunWrite::Machine;
    }
    // The machine key refused: off only if it holds nothing that starts us.
    if (!machine && user && ReadUnder(HKEY_LOCAL_MACHINE).empty()) {
        return AutorunWrite::User;
    }
    return AutorunWrite::Failed;
}

void SetRunKeyOpenerForTesting(RunKeyOpener opener) {
    Opener() = std::move(opener);
}

}  // namespace kelvora
