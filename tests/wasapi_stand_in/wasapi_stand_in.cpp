#include "wasapi_stand_in.h"

#include <audioclient.h>
#include <functiondiscoverykeys_devpkey.h>
#include <mmdeviceapi.h>
#include <mmreg.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/platform.h"

namespace wasapi {
std::vector<Endpoint> endpoints;
std::size_t defaultEndpoint;
std::int64_t now;
std::int64_t utcMinusMonotonic;
std::string initialized;
unsigned rawOptions, channels, bytesPerSample;
bool isFloat;
std::vector<std::uint8_t> bytes;
std::int64_t startedAt;
std::vector<unsigned> executionStates;
int alive;
}  // namespace wasapi

namespace {

const GUID kPcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
const GUID kFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// The stream set up last, on `endpoint`.
struct Stream {
    const wasapi::Endpoint* endpoint = nullptr;
    unsigned rate = 0;
    UINT32 buffer = 0;  // frames
    bool events = false;
    HANDLE event = nullptr;
    std::int64_t written = 0;
    std::vector<BYTE> scratch;
    int readings = 0;
} stream;

std::string FormatName(const WAVEFORMATEX* f) {
    bool floating = f->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    int valid = f->wBitsPerSample;
    if (f->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        const auto* x = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(f);
        floating = IsEqualGUID(x->SubFormat, kFloat);
        valid = x->Samples.wValidBitsPerSample;
    }
    return (floating ? std::string("float") : std::to_string(valid)) + "/" + std::to_string(f->nChannels);
}

// Whether `f`'s sizes agree with its channels and bits.
bool Consistent(const WAVEFORMATEX* f) {
    return f->nBlockAlign == f->nChannels * f->wBitsPerSample / 8 &&
           f->nAvgBytesPerSec == f->nSamplesPerSec * f->nBlockAlign;
}

bool Gone(std::int64_t t) {
    const wasapi::Endpoint& e = *stream.endpoint;
    return e.goneAt != 0 && wasapi::startedAt >= 0 && t >= wasapi::startedAt + e.goneAt;
}

// Frames heard by `t` (the position), and gone from the buffer: no more
// than were written.
std::int64_t Played(std::int64_t t) {
    return std::min<std::int64_t>(stream.written, static_cast<std::int64_t>(std::floor(wasapi::HeardAt(t))));
}

// What the position says at `t`: the frames played, or where the position
// alone lags (a timer held up, in packets), those played that much earlier.
std::int64_t PositionAt(std::int64_t t) {
    const wasapi::Endpoint& e = *stream.endpoint;
    const std::int64_t since = t - wasapi::startedAt - e.heldAt;
    if (e.heldFor != 0 && wasapi::startedAt >= 0 && since > 0)
        t -= std::max<std::int64_t>(0, std::min(since, 2 * e.heldFor - since));
    if (e.packet != 0 && t > wasapi::startedAt) t -= (t - wasapi::startedAt) % e.packet;
    return Played(t);
}

template <typename Interface>
struct Unknown : Interface {
    ULONG references = 1;
    Unknown() { ++wasapi::alive; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references;
        if (left == 0) delete this;
        return left;
    }
    virtual ~Unknown() { --wasapi::alive; }
};

struct RenderClient : Unknown<IAudioRenderClient> {
    HRESULT STDMETHODCALLTYPE GetBuffer(UINT32 frames, BYTE** data) override {
        if (Gone(wasapi::now)) return AUDCLNT_E_DEVICE_INVALIDATED;
        // An event-driven stream's two buffers: one plays while the event
        // asks for the other.
        const std::int64_t room = (stream.events ? 2 : 1) * std::int64_t{stream.buffer};
        if (stream.written - Played(wasapi::now) + frames > room) return AUDCLNT_E_BUFFER_TOO_LARGE;
        stream.scratch.assign(std::size_t{frames} * wasapi::channels * wasapi::bytesPerSample, 0xa5);
        *data = stream.scratch.data();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames, DWORD) override {
        wasapi::bytes.insert(wasapi::bytes.end(), stream.scratch.begin(),
                             stream.scratch.begin() + std::size_t{frames} * wasapi::channels * wasapi::bytesPerSample);
        stream.written += frames;
        if (stream.event != nullptr) SetEvent(stream.event);
        return S_OK;
    }
};

struct Clock : Unknown<IAudioClock> {
    HRESULT STDMETHODCALLTYPE GetFrequency(UINT64* frequency) override {
        *frequency = std::uint64_t{stream.rate} * stream.endpoint->unitsPerFrame;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPosition(UINT64* position, UINT64* counter) override {
        const wasapi::Endpoint& e = *stream.endpoint;
        wasapi::now += 2'000;
        if (Gone(wasapi::now)) return AUDCLNT_E_DEVICE_INVALIDATED;
        ++stream.readings;
        *position = static_cast<UINT64>(PositionAt(wasapi::now)) * e.unitsPerFrame;
        if (stream.readings == e.oddReading) *position += std::uint64_t{stream.rate} * 3 / 100 * e.unitsPerFrame;
        std::int64_t instant = wasapi::now;
        if (e.lateEvery != 0 && stream.readings % e.lateEvery == 0) instant = wasapi::now += 1'000'000;
        const bool inaccurate = e.inaccurateEvery != 0 && stream.readings % e.inaccurateEvery == 0;
        if (inaccurate) instant += 5'000'000;
        *counter = static_cast<UINT64>(instant / 100);
        wasapi::now += 2'000;
        return inaccurate ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD*) override { return E_NOTIMPL; }
};

struct Client : Unknown<IAudioClient2> {
    const wasapi::Endpoint* endpoint;
    UINT32 frames = 0;     // its buffer, or the aligned one it refused for
    bool unaligned = false;  // whether it refused that
    explicit Client(const wasapi::Endpoint* e) : endpoint(e) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (!IsEqualGUID(iid, __uuidof(IAudioClient2))) return E_NOINTERFACE;
        AddRef();
        *out = static_cast<IAudioClient2*>(this);
        return S_OK;
    }
    bool Exclusive(const WAVEFORMATEX* f) const {
        const auto& rates = endpoint->exclusiveRates;
        const auto& formats = endpoint->exclusiveFormats;
        return Consistent(f) && std::find(rates.begin(), rates.end(), f->nSamplesPerSec) != rates.end() &&
               std::find(formats.begin(), formats.end(), FormatName(f)) != formats.end();
    }
    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME duration,
                                         REFERENCE_TIME period, const WAVEFORMATEX* f, LPCGUID) override {
        const bool exclusive = mode == AUDCLNT_SHAREMODE_EXCLUSIVE;
        const bool events = (flags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK) != 0;
        char text[160];
        std::snprintf(text, sizeof text, "%s %s %lu flags %lx", exclusive ? (events ? "exclusive events" : "exclusive timer") : "shared",
                      FormatName(f).c_str(), static_cast<unsigned long>(f->nSamplesPerSec), static_cast<unsigned long>(flags));
        if (exclusive && events && period != duration) return E_INVALIDARG;
        if (exclusive && events && FAILED(endpoint->eventsRefusal)) return endpoint->eventsRefusal;
        if (exclusive && !events && FAILED(endpoint->timerRefusal)) return endpoint->timerRefusal;
        if (exclusive ? !Exclusive(f) : f->nSamplesPerSec != endpoint->mixRate) return AUDCLNT_E_UNSUPPORTED_FORMAT;
        frames = static_cast<UINT32>(duration * f->nSamplesPerSec / 10'000'000);
        const unsigned align = exclusive ? endpoint->alignFrames : 0;
        if (align != 0 && frames % align != 0) {
            frames += align - frames % align;
            unaligned = true;
            return AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED;
        }
        wasapi::initialized = text;
        wasapi::channels = f->nChannels;
        wasapi::bytesPerSample = f->wBitsPerSample / 8;
        wasapi::isFloat = FormatName(f).rfind("float", 0) == 0;
        stream = Stream{};
        stream.endpoint = endpoint;
        stream.rate = f->nSamplesPerSec;
        stream.buffer = frames;
        stream.events = events;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* size) override {
        *size = frames;
        return unaligned ? endpoint->alignedSizeRefusal : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* padding) override {
        if (Gone(wasapi::now)) return AUDCLNT_E_DEVICE_INVALIDATED;
        *padding = static_cast<UINT32>(stream.written - Played(wasapi::now));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE mode, const WAVEFORMATEX* f,
                                                WAVEFORMATEX** closest) override {
        if (mode != AUDCLNT_SHAREMODE_EXCLUSIVE || closest != nullptr) return E_INVALIDARG;
        return Exclusive(f) ? S_OK : AUDCLNT_E_UNSUPPORTED_FORMAT;
    }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override {
        auto* x = static_cast<WAVEFORMATEXTENSIBLE*>(CoTaskMemAlloc(sizeof(WAVEFORMATEXTENSIBLE)));
        std::memset(x, 0, sizeof *x);
        const WORD bits = endpoint->mixFloat ? 32 : 16;
        x->Format = {WAVE_FORMAT_EXTENSIBLE, static_cast<WORD>(endpoint->mixChannels), endpoint->mixRate, 0,
                     static_cast<WORD>(endpoint->mixChannels * bits / 8), bits, 22};
        x->Format.nAvgBytesPerSec = endpoint->mixRate * x->Format.nBlockAlign;
        x->Samples.wValidBitsPerSample = bits;
        x->dwChannelMask = endpoint->mixChannels == 2 ? 3 : 0x63f;
        x->SubFormat = endpoint->mixFloat ? kFloat : kPcm;
        *format = &x->Format;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Start() override {
        if (wasapi::startedAt >= 0) return AUDCLNT_E_NOT_STOPPED;
        wasapi::startedAt = wasapi::now;
        if (stream.event != nullptr) SetEvent(stream.event);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override {
        stream.event = event;
        return stream.events ? S_OK : AUDCLNT_E_EVENTHANDLE_NOT_EXPECTED;
    }
    HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** out) override {
        *out = nullptr;
        if (IsEqualGUID(iid, __uuidof(IAudioRenderClient))) *out = static_cast<IAudioRenderClient*>(new RenderClient);
        if (IsEqualGUID(iid, __uuidof(IAudioClock))) *out = static_cast<IAudioClock*>(new Clock);
        return *out != nullptr ? S_OK : E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE IsOffloadCapable(AUDIO_STREAM_CATEGORY, WINBOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetClientProperties(const AudioClientProperties* p) override {
        wasapi::rawOptions = p->cbSize == sizeof *p ? static_cast<unsigned>(p->Options) : 0xffff;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBufferSizeLimits(const WAVEFORMATEX*, WINBOOL, REFERENCE_TIME*, REFERENCE_TIME*) override {
        return E_NOTIMPL;
    }
};

wchar_t* TaskCopy(const std::wstring& text) {
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    std::wcscpy(copy, text.c_str());
    return copy;
}

struct Properties : Unknown<IPropertyStore> {
    std::wstring name;
    HRESULT STDMETHODCALLTYPE GetCount(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
        if (!IsEqualGUID(key.fmtid, PKEY_Device_FriendlyName.fmtid) || key.pid != PKEY_Device_FriendlyName.pid)
            return E_INVALIDARG;
        value->vt = VT_LPWSTR;
        value->pwszVal = TaskCopy(name);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Commit() override { return E_NOTIMPL; }
};

struct Device : Unknown<IMMDevice> {
    const wasapi::Endpoint* endpoint;
    explicit Device(const wasapi::Endpoint* e) : endpoint(e) {}
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD, PROPVARIANT*, void** out) override {
        if (!IsEqualGUID(iid, __uuidof(IAudioClient))) return E_NOINTERFACE;
        *out = static_cast<IAudioClient*>(new Client(endpoint));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore** store) override {
        auto* p = new Properties;
        p->name = endpoint->name;
        *store = p;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override {
        *id = TaskCopy(endpoint->id);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
        *state = DEVICE_STATE_ACTIVE;
        return S_OK;
    }
};

struct Collection : Unknown<IMMDeviceCollection> {
    HRESULT STDMETHODCALLTYPE GetCount(UINT* count) override {
        *count = static_cast<UINT>(wasapi::endpoints.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Item(UINT i, IMMDevice** device) override {
        *device = new Device(&wasapi::endpoints.at(i));
        return S_OK;
    }
};

struct Enumerator : Unknown<IMMDeviceEnumerator> {
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow flow, DWORD states, IMMDeviceCollection** all) override {
        if (flow != eRender || states != DEVICE_STATE_ACTIVE) return E_INVALIDARG;
        *all = new Collection;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole, IMMDevice** device) override {
        if (flow != eRender || wasapi::defaultEndpoint >= wasapi::endpoints.size()) return E_NOTFOUND;
        *device = new Device(&wasapi::endpoints[wasapi::defaultEndpoint]);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient*) override { return E_NOTIMPL; }
};

HRESULT WINAPI CreateStandIn(REFCLSID clsid, LPUNKNOWN, DWORD, REFIID iid, LPVOID* out) {
    if (!IsEqualGUID(clsid, __uuidof(MMDeviceEnumerator)) || !IsEqualGUID(iid, __uuidof(IMMDeviceEnumerator)))
        return REGDB_E_CLASSNOTREG;
    *out = static_cast<IMMDeviceEnumerator*>(new Enumerator);
    return S_OK;
}

// CoInitializeEx as the host left the thread.
HRESULT WINAPI InitializeCom(LPVOID, DWORD) {
    return wasapi::endpoints.empty() ? S_OK : wasapi::endpoints[0].comAnswer;
}

// The wait for the stream's buffer event moves the virtual clock on until
// a buffer is free; other waits are the system's.
DWORD WINAPI WaitForEvent(HANDLE handle, DWORD ms) {
    if (handle == nullptr || handle != stream.event) {
        static const auto wait = reinterpret_cast<DWORD(WINAPI*)(HANDLE, DWORD)>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "WaitForSingleObject")));
        return wait(handle, ms);
    }
    const wasapi::Endpoint& e = *stream.endpoint;
    if (e.silentAt != 0 && wasapi::startedAt >= 0 && wasapi::now >= wasapi::startedAt + e.silentAt) {
        wasapi::now += std::int64_t{ms} * 1'000'000;
        return WAIT_TIMEOUT;
    }
    while (stream.written - Played(wasapi::now) > stream.buffer) wasapi::now += 100'000;
    return WAIT_OBJECT_0;
}

EXECUTION_STATE WINAPI RecordExecutionState(EXECUTION_STATE state) {
    wasapi::executionStates.push_back(state);
    return ES_CONTINUOUS;
}

}  // namespace

// The import slots the sound file calls through, filled here instead of
// from ole32's and kernel32's import libraries (the whole program's: the
// stand-in's wait passes other handles on).
extern "C" {
void* __imp_CoCreateInstance = reinterpret_cast<void*>(&CreateStandIn);
void* __imp_SetThreadExecutionState = reinterpret_cast<void*>(&RecordExecutionState);
void* __imp_CoInitializeEx = reinterpret_cast<void*>(&InitializeCom);
void* __imp_WaitForSingleObject = reinterpret_cast<void*>(&WaitForEvent);
}

double wasapi::HeardAt(std::int64_t t) {
    const Endpoint& e = *stream.endpoint;
    if (startedAt < 0 || t < startedAt + e.latency) return 0;
    std::int64_t running = t - startedAt - e.latency;
    if (e.stallFor != 0 && running > e.stallAt) running = std::max(e.stallAt, running - e.stallFor);
    const double frames = static_cast<double>(running) * stream.rate * (1 + e.ppm * 1e-6) / 1e9;
    return frames + (e.jumpAt != 0 && t - startedAt >= e.jumpAt ? static_cast<double>(e.jumpFrames) : 0.0);
}

void wasapi::Reset() {
    endpoints.clear();
    defaultEndpoint = 0;
    now = 1'000'000'000'000;
    utcMinusMonotonic = 0;
    initialized.clear();
    rawOptions = channels = bytesPerSample = 0;
    isFloat = false;
    bytes.clear();
    startedAt = -1;
    executionStates.clear();
    stream = Stream{};
}

// The virtual monotonic clock the sound file reads and sleeps on.
std::int64_t MonotonicNanoseconds() {
    return wasapi::now += 500;
}

void SleepUntilMonotonic(std::int64_t deadline) {
    wasapi::now = std::max(wasapi::now, deadline);
}

// The same clock uncorrected, and the UTC clock a fixed offset from it.
std::int64_t RawMonotonicNanoseconds() {
    return wasapi::now;
}

UtcReading ReadUtcClock() {
    const std::int64_t utc = MonotonicNanoseconds() + wasapi::utcMinusMonotonic;
    return {utc / 1'000'000'000, static_cast<std::int32_t>(utc % 1'000'000'000)};
}

// No timer resolution was asked for, so none is given back.
void ReleaseTimers() {}

// No serial line: the keying code comes in with the program's modules, and
// opening a port here fails as for a port with no device behind it.
void FormatLineName(char* name, std::size_t size, std::int32_t port) {
    std::snprintf(name, size, "COM%d", static_cast<int>(port));
}

void FormatDevicePath(char* name, std::size_t size, const char* device) {
    std::snprintf(name, size, "%s", device);
}

bool OpenLine(const char*, LineHandle*) {
    return false;
}

bool ReadLineSettings(LineHandle) {
    return false;
}

bool WriteKeyingSettings(LineHandle) {
    return false;
}

bool ChangeLine(LineHandle, LineChange) {
    return false;
}

bool ReleaseModemLines(LineHandle) {
    return false;
}

void CloseLine(LineHandle) {}

std::uint32_t LastLineError() {
    return ERROR_FILE_NOT_FOUND;
}

const char* LineErrorText(std::uint32_t) {
    return "no serial line in the sound tests";
}

const char* LineErrorAdvice(std::uint32_t, const char*) {
    return "";
}
