#include "tests/e2e/sound_probe.h"

#include <windows.h>
#include <mmsystem.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "tests/support/desktop.h"
#include "tests/support/test_paths.h"

namespace kelvora::test {

namespace {

void Put16(std::ofstream& out, std::uint16_t v) {
    out.put(static_cast<char>(v & 0xFF)).put(static_cast<char>(v >> 8));
}
void Put32(std::ofstream& out, std::uint32_t v) {
    Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<std::uint16_t>(v >> 16));
}

}  // namespace

bool SoundServerRunning() {
    return std::getenv("KELVORA_TEST_SOUND") != nullptr;
}

bool WriteSoundKeys(const std::string& ini, bool record, const std::string& device) {
    return WritePrivateProfileStringA("Options", "RecordAudio", record ? "1" : "0", ini.c_str()) &&
           WritePrivateProfileStringA("Options", "AudioDevice", device.c_str(), ini.c_str());
}

bool WriteToneWav(const std::string& path, int seconds) {
    constexpr std::uint32_t kRate = 44100;
    const std::uint32_t blocks = kRate * static_cast<std::uint32_t>(seconds);
    std::ofstream out(path, std::ios::binary);
    out.write("RIFF", 4);
    Put32(out, 36 + blocks * 4);
    out.write("WAVEfmt ", 8);
    Put32(out, 16);
    Put16(out, 1);  // PCM
    Put16(out, 2);
    Put32(out, kRate);
    Put32(out, kRate * 4);
    Put16(out, 4);
    Put16(out, 16);
    out.write("data", 4);
    Put32(out, blocks * 4);
    for (std::uint32_t i = 0; i < blocks; ++i) {
        const double s = std::sin(2 * 3.14159265358979 * 1000.0 * i / kRate);
        Put16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(16383 * s))));
        Put16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(-8191 * s))));
    }
    return static_cast<bool>(out);
}

bool PlayWithPaplay(const std::string& path) {
    std::wstring command = L"start.exe /unix /usr/bin/paplay ";
    for (char c : path) {
        command += c == '\\' ? L'/' : static_cast<wchar_t>(c);  // paplay takes the host's form
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        return false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

win32::Window PlayClickAndFlash(const RECT& area) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = L"KelvoraE2eFlash";
    RegisterClassW(&wc);  // fails harmlessly when registered before
    win32::Window flash(CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, wc.lpszClassName,
                                        L"flash", WS_POPUP, area.left, area.top,
                                        area.right - area.left, area.bottom - area.top, nullptr,
                                        nullptr, wc.hInstance, nullptr));
    constexpr DWORD kRate = 44100, kClickAt = kRate / 2, kClick = kRate / 25;
    std::vector<std::int16_t> sound(static_cast<size_t>(kRate) * 2 * 2, 0);
    for (DWORD i = 0; i < kClick; ++i) {
        const auto v =
            static_cast<std::int16_t>(std::lround(24000 * std::sin(2 * 3.14159265358979 * i / 44.1)));
        sound[(kClickAt + i) * 2] = v;
        sound[(kClickAt + i) * 2 + 1] = v;
    }
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, kRate, kRate * 4, 4, 16, 0};
    HWAVEOUT out = nullptr;
    if (!flash || waveOutOpen(&out, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        return {};
    }
    WAVEHDR header{};
    header.lpData = reinterpret_cast<LPSTR>(sound.data());
    header.dwBufferLength = static_cast<DWORD>(sound.size() * 2);
    bool shown = false;
    if (waveOutPrepareHeader(out, &header, sizeof header) == MMSYSERR_NOERROR &&
        waveOutWrite(out, &header, sizeof header) == MMSYSERR_NOERROR) {
        const DWORD until = GetTickCount() + 5000;
        while (!shown && GetTickCount() < until) {
            MMTIME position{};
            position.wType = TIME_SAMPLES;
            waveOutGetPosition(out, &position, sizeof position);
            if (position.wType == TIME_SAMPLES && position.u.sample >= kClickAt) {
                SetWindowPos(flash.get(), HWND_TOPMOST, 0, 0, 0, 0,
                             SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
                UpdateWindow(flash.get());
                GdiFlush();
                shown = true;
            }
        }
        PumpUntil([&] { return (header.dwFlags & WHDR_DONE) != 0; }, 5000);
    }
    waveOutReset(out);
    waveOutUnprepareHeader(out, &header, sizeof header);
    waveOutClose(out);
    if (!shown) {
        return {};
    }
    return flash;
}

void NoteSound(const std::string& tag, const std::string& what) {
    std::ofstream(OutputPath(tag + ".txt"), std::ios::app) << "sound " << what << "\n";
}

}  // namespace kelvora::test
