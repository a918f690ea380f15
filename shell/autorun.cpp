#include "shell/autorun.h"

#include <utility>
#include <vector>

#include "shell/settings_rules.h"

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
        return RegCreateKeyExW(root, kRunKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                               nullptr, key, nullptr);
    }
    return RegOpenKeyExW(root, kRunKeyPath, 0, access, key);
}

// An open registry key, closed (after a flush when it was written) on every path.
class RunKey {
  public:
    RunKey(HKEY root, REGSAM access) : status_(OpenRunKey(root, access, &key_)) {
        if (status_ != ERROR_SUCCESS) {
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
    // Why the key did not open.
    LSTATUS status() const { return status_; }

    // The value as a string; empty when missing or not a string.
    std::wstring Read() const {
        wchar_t buf[MAX_PATH * 4] = {};
        DWORD type = 0;
        DWORD size = sizeof(buf) - sizeof(wchar_t);
        if (key_ == nullptr ||
            RegQueryValueExW(key_, kAutorunValueName, nullptr, &type, reinterpret_cast<BYTE*>(buf),
                             &size) != ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ)) {
            return {};
        }
        return std::wstring(buf);
    }

    LSTATUS Write(const std::wstring& data) {
        if (key_ == nullptr) {
            return status_;
        }
        written_ = true;
        return RegSetValueExW(key_, kAutorunValueName, 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(data.c_str()),
                              static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }

  private:
    HKEY key_ = nullptr;
    LSTATUS status_;
    bool written_ = false;
};

LSTATUS WriteUnder(HKEY root, const std::wstring& data) {
    RunKey key(root, KEY_ALL_ACCESS);
    return key.Write(data);
}

std::wstring ReadUnder(HKEY root) {
    return RunKey(root, KEY_QUERY_VALUE).Read();
}

// "HKEY_LOCAL_MACHINE\Software\...\Run: Access is denied."
std::wstring FailureLine(HKEY root, LSTATUS status) {
    std::wstring line =
        root == HKEY_LOCAL_MACHINE ? L"HKEY_LOCAL_MACHINE\\" : L"HKEY_CURRENT_USER\\";
    line += kRunKeyPath;
    line += L": ";
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(status), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring reason = n > 0 ? std::wstring(text, n) : L"";
    LocalFree(text);
    while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r')) {
        reason.pop_back();
    }
    return line + (reason.empty() ? L"ошибка " + std::to_wstring(status) : reason);
}

}  // namespace

bool AutorunEnabled() {
    return !AutorunProgram(ReadUnder(HKEY_LOCAL_MACHINE)).empty() ||
           !AutorunProgram(ReadUnder(HKEY_CURRENT_USER)).empty();
}

AutorunWrite SetAutorun(bool on, const std::wstring& exePath, std::wstring* problem) {
    std::vector<std::pair<HKEY, LSTATUS>> failures;
    const auto write = [&failures](HKEY root, const std::wstring& data) {
        const LSTATUS status = WriteUnder(root, data);
        if (status != ERROR_SUCCESS) {
            failures.emplace_back(root, status);
        }
        return status == ERROR_SUCCESS;
    };
    AutorunWrite result = AutorunWrite::Failed;
    if (on) {
        const std::wstring command = AutorunCommand(exePath);
        if (write(HKEY_LOCAL_MACHINE, command)) {
            result = AutorunWrite::Machine;
        } else if (write(HKEY_CURRENT_USER, command)) {
            result = AutorunWrite::User;
        }
    } else {
        // Off: blank the machine's value (creating it empty, as before), and
        // the user's wherever a fallback wrote one.
        const bool machine = write(HKEY_LOCAL_MACHINE, L"");
        bool user = true;
        if (!ReadUnder(HKEY_CURRENT_USER).empty()) {
            user = write(HKEY_CURRENT_USER, L"");
        }
        // The machine key refused: off all the same if it starts nothing.
        const bool machineOff = machine || AutorunProgram(ReadUnder(HKEY_LOCAL_MACHINE)).empty();
        if (machine && user) {
            result = AutorunWrite::Machine;
        } else if (machineOff && user) {
            result = AutorunWrite::User;
        } else if (machineOff) {
            std::erase_if(failures, [](const auto& f) { return f.first == HKEY_LOCAL_MACHINE; });
        }
    }
    if (result == AutorunWrite::Failed && problem != nullptr) {
        problem->clear();
        for (const auto& [root, status] : failures) {
            *problem += (problem->empty() ? L"" : L"\n") + FailureLine(root, status);
        }
    }
    return result;
}

void SetRunKeyOpenerForTesting(RunKeyOpener opener) {
    Opener() = std::move(opener);
}

}  // namespace kelvora
