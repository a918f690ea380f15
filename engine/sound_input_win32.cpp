// The sound input on Windows: winmm's wave input, loaded from the system
// directory at run time (winmm.dll is no KnownDLL; see winmm_time_win32.h),
// with an event the driver sets whenever a buffer is done and a thread that
// hands the done buffers to the sink and queues them again.
#include "engine/sound_input.h"

#include <windows.h>

#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "win32/handles.h"
#include "win32/system_dll.h"
#include "win32/text.h"

namespace {

// 40 buffers of 50 ms: the driver can fill two seconds while the consumer is
// held up (a disk that stalls), and the sink gets sound twenty times a second.
constexpr DWORD kBufferMs = 50;
constexpr size_t kBufferCount = 40;
// A device that returns no sound for this long has stopped working.
constexpr DWORD kSilentMs = 3000;
// The thread looks at the clock at least this often when no buffer comes.
constexpr DWORD kWaitMs = 200;

constexpr SoundFormat kFormats[] = {{44100, 2}, {48000, 2}, {44100, 1}, {48000, 1}};

constexpr const char* kNoWinmm = "нет системной библиотеки winmm.dll";
constexpr const char* kNoDevice = "нет устройства записи звука";
constexpr const char* kBusy = "устройство записи занято другой программой";
constexpr const char* kNoFormat = "устройство записи не принимает 16-битный звук 44,1 или 48 кГц";
constexpr const char* kUnplugged = "устройство записи отключено";
constexpr const char* kSilent = "устройство записи не передаёт звук";

std::string ReasonOf(MMRESULT r) {
    switch (r) {
        case MMSYSERR_BADDEVICEID:
        case MMSYSERR_NODRIVER:
            return kNoDevice;
        case MMSYSERR_ALLOCATED:
            return kBusy;
        case WAVERR_BADFORMAT:
            return kNoFormat;
        default:
            return "ошибка устройства записи (код " + std::to_string(r) + ")";
    }
}

// The wave input calls of winmm, resolved once; the module stays loaded for
// the life of the process.
struct WaveInApi {
    decltype(&waveInGetNumDevs) GetNumDevs = nullptr;
    decltype(&waveInGetDevCapsW) GetDevCaps = nullptr;
    decltype(&waveInOpen) Open = nullptr;
    decltype(&waveInClose) Close = nullptr;
    decltype(&waveInPrepareHeader) PrepareHeader = nullptr;
    decltype(&waveInUnprepareHeader) UnprepareHeader = nullptr;
    decltype(&waveInAddBuffer) AddBuffer = nullptr;
    decltype(&waveInStart) Start = nullptr;
    decltype(&waveInReset) Reset = nullptr;
    bool ok = false;
};

template <typename F>
bool Resolve(HMODULE module, const char* name, F* f) {
    const FARPROC proc = GetProcAddress(module, name);
    *f = reinterpret_cast<F>(reinterpret_cast<void*>(proc));
    return proc != nullptr;
}

const WaveInApi& Api() {
    static const WaveInApi api = [] {
        WaveInApi a;
        const HMODULE winmm = win32::LoadSystemDll(L"winmm.dll");
        a.ok = winmm != nullptr && Resolve(winmm, "waveInGetNumDevs", &a.GetNumDevs) &&
               Resolve(winmm, "waveInGetDevCapsW", &a.GetDevCaps) &&
               Resolve(winmm, "waveInOpen", &a.Open) && Resolve(winmm, "waveInClose", &a.Close) &&
               Resolve(winmm, "waveInPrepareHeader", &a.PrepareHeader) &&
               Resolve(winmm, "waveInUnprepareHeader", &a.UnprepareHeader) &&
               Resolve(winmm, "waveInAddBuffer", &a.AddBuffer) &&
               Resolve(winmm, "waveInStart", &a.Start) && Resolve(winmm, "waveInReset", &a.Reset);
        return a;
    }();
    return api;
}

class WaveInput final : public SoundInput {
  public:
    WaveInput(const WaveInApi& api, SoundInputSink* sink) : api_(api), sink_(sink) {}
    WaveInput(const WaveInput&) = delete;
    WaveInput& operator=(const WaveInput&) = delete;
    ~WaveInput() override {
        Stop();
        Close();  // when the thread never ran
    }

    bool Open(UINT device, std::string* reason);
    SoundFormat format() const override { return format_; }
    void Stop() override {
        if (thread_.joinable()) {
            stop_ = true;
            SetEvent(event_.get());
            thread_.join();
        }
    }

  private:
    void Run();
    void Close();

    const WaveInApi& api_;
    SoundInputSink* sink_;
    SoundFormat format_;
    win32::Handle event_;
    HWAVEIN wave_ = nullptr;
    std::unique_ptr<char[]> memory_;
    WAVEHDR headers_[kBufferCount] = {};
    size_t prepared_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

bool WaveInput::Open(UINT device, std::string* reason) {
    event_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!event_) {
        *reason = ReasonOf(MMSYSERR_NOMEM);
        return false;
    }
    MMRESULT r = WAVERR_BADFORMAT;
    for (const SoundFormat& f : kFormats) {
        WAVEFORMATEX w{};
        w.wFormatTag = WAVE_FORMAT_PCM;
        w.nChannels = f.channels;
        w.nSamplesPerSec = f.samplesPerSec;
        w.nAvgBytesPerSec = f.bytesPerSec();
        w.nBlockAlign = static_cast<WORD>(f.blockBytes());
        w.wBitsPerSample = 16;
        r = api_.Open(&wave_, device, &w, reinterpret_cast<DWORD_PTR>(event_.get()), 0,
                      CALLBACK_EVENT);
        if (r == MMSYSERR_NOERROR) {
            format_ = f;
            break;
        }
        wave_ = nullptr;
        if (r != WAVERR_BADFORMAT) {
            break;
        }
    }
    if (r != MMSYSERR_NOERROR) {
        *reason = ReasonOf(r);
        return false;
    }
    const DWORD bytes = format_.bytesPerSec() / (1000 / kBufferMs);
    memory_ = std::make_unique<char[]>(bytes * kBufferCount);
    for (size_t i = 0; i < kBufferCount && r == MMSYSERR_NOERROR; ++i) {
        WAVEHDR& h = headers_[i];
        h.lpData = memory_.get() + i * bytes;
        h.dwBufferLength = bytes;
        r = api_.PrepareHeader(wave_, &h, sizeof h);
        if (r == MMSYSERR_NOERROR) {
            ++prepared_;
            r = api_.AddBuffer(wave_, &h, sizeof h);
        }
    }
    if (r == MMSYSERR_NOERROR) {
        r = api_.Start(wave_);
    }
    if (r != MMSYSERR_NOERROR) {
        *reason = ReasonOf(r);
        Close();
        return false;
    }
    thread_ = std::thread([this] { Run(); });
    return true;
}

void WaveInput::Run() {
    size_t next = 0;  // the buffer the driver fills first
    DWORD lastSound = GetTickCount();
    size_t emptyRun = 0;
    bool silentTold = false;
    bool failed = false;
    while (!stop_ && !failed) {
        WaitForSingleObject(event_.get(), kWaitMs);
        while (!stop_ && (headers_[next].dwFlags & WHDR_DONE) != 0) {
            WAVEHDR& h = headers_[next];
            if (h.dwBytesRecorded > 0) {
                sink_->SoundArrived(h.lpData, h.dwBytesRecorded);
                lastSound = GetTickCount();
                emptyRun = 0;
            } else if (++emptyRun >= kBufferCount) {
                // Every buffer came back empty: a removed device's driver
                // returns them so.
                failed = true;
            }
            h.dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
            h.dwBytesRecorded = 0;
            if (failed || api_.AddBuffer(wave_, &h, sizeof h) != MMSYSERR_NOERROR) {
                sink_->SoundFailed(kUnplugged);
                failed = true;
                break;
            }
            next = (next + 1) % kBufferCount;
        }
        if (!silentTold && !failed && GetTickCount() - lastSound > kSilentMs) {
            sink_->SoundFailed(kSilent);
            silentTold = true;
        }
    }
    // Reset returns every queued buffer, the one being filled with what it
    // holds so far; those go to the sink in order.
    api_.Reset(wave_);
    for (size_t i = 0; i < kBufferCount && !failed; ++i) {
        const WAVEHDR& h = headers_[(next + i) % kBufferCount];
        if ((h.dwFlags & WHDR_DONE) != 0 && h.dwBytesRecorded > 0) {
            sink_->SoundArrived(h.lpData, h.dwBytesRecorded);
        }
    }
    Close();
}

// Unprepares the buffers and closes the device (after Reset, or before the
// device started); nothing of the driver's is left.
void WaveInput::Close() {
    if (wave_ == nullptr) {
        return;
    }
    api_.Reset(wave_);
    for (size_t i = 0; i < prepared_; ++i) {
        api_.UnprepareHeader(wave_, &headers_[i], sizeof headers_[i]);
    }
    prepared_ = 0;
    api_.Close(wave_);
    wave_ = nullptr;
}

struct Device {
    UINT id;
    std::string name;
};

std::vector<Device> Devices(const WaveInApi& api) {
    std::vector<Device> devices;
    const UINT count = api.GetNumDevs();
    for (UINT i = 0; i < count; ++i) {
        WAVEINCAPSW caps{};
        if (api.GetDevCaps(i, &caps, sizeof caps) == MMSYSERR_NOERROR) {
            caps.szPname[MAXPNAMELEN - 1] = L'\0';
            devices.push_back({i, win32::Narrow(caps.szPname)});
        }
    }
    return devices;
}

}  // namespace

std::vector<std::string> SoundInputDevices() {
    std::vector<std::string> names;
    if (Api().ok) {
        for (Device& d : Devices(Api())) {
            names.push_back(std::move(d.name));
        }
    }
    return names;
}

std::unique_ptr<SoundInput> StartSoundInput(const std::string& device, SoundInputSink* sink,
                                            std::string* reason) {
    const WaveInApi& api = Api();
    if (!api.ok) {
        *reason = kNoWinmm;
        return nullptr;
    }
    UINT id = WAVE_MAPPER;
    if (!device.empty()) {
        const std::vector<Device> devices = Devices(api);
        const auto found = std::find_if(devices.begin(), devices.end(),
                                        [&](const Device& d) { return d.name == device; });
        if (found == devices.end()) {
            *reason = "устройство записи «" + device + "» не найдено";
            return nullptr;
        }
        id = found->id;
    } else if (api.GetNumDevs() == 0) {
        *reason = kNoDevice;
        return nullptr;
    }
    auto input = std::make_unique<WaveInput>(api, sink);
    if (!input->Open(id, reason)) {
        return nullptr;
    }
    return input;
}
