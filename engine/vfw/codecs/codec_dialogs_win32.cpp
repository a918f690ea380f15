#include "engine/vfw/codecs/codec_dialogs_win32.h"

#include <windows.h>

#include <string>
#include <vector>

#include "engine/vfw/codecs/codec.h"

namespace vfw {

namespace {

std::wstring Widen(const char* utf8) {
    if (utf8 == nullptr || *utf8 == '\0') {
        return {};
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n);
    out.resize(static_cast<size_t>(n > 0 ? n - 1 : 0));
    return out;
}

std::wstring Description(const ICINFO& info) {
    const auto* text = reinterpret_cast<const wchar_t*>(info.szDescription);
    return std::wstring(text, wcsnlen(text, std::size(info.szDescription)));
}

void About(void* window, const ICINFO& info, const char* text) {
    MessageBoxW(static_cast<HWND>(window), Widen(text).c_str(), Description(info).c_str(),
                MB_OK | MB_ICONINFORMATION);
}

// A dialog template built in memory: a caption, one radio button per
// setting, OK and Cancel. Items are DWORD-aligned as DLGTEMPLATE requires.
class TemplateBuilder {
public:
    void Dialog(const std::wstring& title, int items, short cx, short cy) {
        DLGTEMPLATE t{};
        t.style = DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
        t.cdit = static_cast<WORD>(items);
        t.cx = cx;
        t.cy = cy;
        Append(&t, sizeof t);
        Word(0);  // no menu
        Word(0);  // standard dialog class
        String(title);
        Word(8);
        String(L"MS Shell Dlg");
    }

    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD cls,
              const std::wstring& text) {
        Align();
        DLGITEMTEMPLATE it{};
        it.style = style | WS_CHILD | WS_VISIBLE;
        it.x = x;
        it.y = y;
        it.cx = cx;
        it.cy = cy;
        it.id = id;
        Append(&it, sizeof it);
        Word(0xFFFF);
        Word(cls);
        String(text);
        Word(0);  // no creation data
    }

    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data()); }

private:
    void Append(const void* p, size_t n) {
        const auto* b = static_cast<const BYTE*>(p);
        bytes_.insert(bytes_.end(), b, b + n);
    }
    void Word(WORD w) { Append(&w, sizeof w); }
    void String(const std::wstring& s) { Append(s.c_str(), (s.size() + 1) * sizeof(wchar_t)); }
    void Align() {
        while (bytes_.size() % 4 != 0) {
            bytes_.push_back(0);
        }
    }

    // WORD-aligned storage, as the dialog manager reads the template in WORDs.
    std::vector<BYTE> bytes_;
};

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kFirstChoice = 100;

struct ChooseState {
    int count;
    int current;
    int chosen;
};

INT_PTR CALLBACK ChooseProc(HWND dlg, ::UINT msg, ::WPARAM wp, ::LPARAM lp) {
    switch (msg) {
        case WM_INITDIALOG: {
            auto* st = reinterpret_cast<ChooseState*>(lp);
            SetWindowLongPtrW(dlg, DWLP_USER, lp);
            CheckRadioButton(dlg, kFirstChoice, kFirstChoice + st->count - 1,
                             kFirstChoice + st->current);
            return TRUE;
        }
        case WM_COMMAND: {
            auto* st = reinterpret_cast<ChooseState*>(GetWindowLongPtrW(dlg, DWLP_USER));
            if (LOWORD(wp) == IDOK) {
                for (int i = 0; i < st->count; ++i) {
                    if (IsDlgButtonChecked(dlg, kFirstChoice + i) == BST_CHECKED) {
                        st->chosen = i;
                    }
                }
                EndDialog(dlg, IDOK);
                return TRUE;
            }
            if (LOWORD(wp) == IDCANCEL) {
                EndDialog(dlg, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        }
        default:
            return FALSE;
    }
}

int Choose(void* window, const ICINFO& info, const char* const* labels, int count, int current) {
    if (count <= 0) {
        return -1;
    }
    const short rowHeight = 14, width = 180;
    const short height = static_cast<short>(16 + count * rowHeight + 28);
    TemplateBuilder t;
    t.Dialog(Description(info), count + 2, width, height);
    for (int i = 0; i < count; ++i) {
        t.Item(BS_AUTORADIOBUTTON | WS_TABSTOP | (i == 0 ? WS_GROUP : 0), 12,
               static_cast<short>(10 + i * rowHeight), width - 24, 12,
               static_cast<WORD>(kFirstChoice + i), kButtonClass, Widen(labels[i]));
    }
    const short y = static_cast<short>(height - 22);
    t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, width - 118, y, 50, 14, IDOK, kButtonClass,
           L"OK");
    t.Item(BS_PUSHBUTTON | WS_TABSTOP, width - 62, y, 50, 14, IDCANCEL, kButtonClass, L"Отмена");
    ChooseState st{count, current >= 0 && current < count ? current : 0, -1};
    const INT_PTR r = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.get(),
                                              static_cast<HWND>(window), ChooseProc,
                                              reinterpret_cast<::LPARAM>(&st));
    return r == IDOK ? st.chosen : -1;
}

const CodecDialogs kDialogs{&About, &Choose};

}  // namespace

void InstallCodecDialogs() { SetCodecDialogs(&kDialogs); }

}  // namespace vfw
