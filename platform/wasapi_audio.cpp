// The sound output on Windows, through WASAPI: one stream on a playback
// endpoint at a rate it plays exactly. Exclusive mode where the endpoint
// allows it (event-driven, else timer-driven), else shared mode where the
// endpoint's mix already runs at that rate: never a resampler. Timing
// comes from the endpoint's own clock, stamped on the performance counter.
#include <initguid.h>  // defines here the interface IDs MinGW's libraries lack
#include <windows.h>
#include <audioclient.h>
#include <avrt.h>
#include <functiondiscoverykeys_devpkey.h>
#include <mmdeviceapi.h>
#include <mmreg.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio.h"
#include "platform.h"

// The standard rates, best first: the default is the first one played.
static const unsigned kRates[] = {192000, 96000, 48000, 44100};

// The sample formats written, as WAVEFORMATEXTENSIBLE describes them.
enum SampleKind { PCM16, PCM32, FLOAT32 };  // PCM32: also 24 valid bits in 32

static const GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
static const GUID kSubtypeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// Buffers, in 100 ns units. Event-driven exclusive mode refills one buffer
// per event from a second one that plays meanwhile: 50 ms to get the
// processor back. Polled streams keep 200 ms, as on Linux.
constexpr REFERENCE_TIME kEventBuffer = 500'000;
constexpr REFERENCE_TIME kPolledBuffer = 2'000'000;
// How long a polled stream sleeps while its buffer is full: two of the
// program's 10 ms blocks, as ALSA's 20 ms periods on Linux.
constexpr std::int64_t kPollNanoseconds = 20'000'000;
// A device that asks for nothing this long has stopped.
constexpr DWORD kEventTimeoutMs = 2000;
// What Room returns when that happens.
static const HRESULT kNoBufferEvent = HRESULT_FROM_WIN32(WAIT_TIMEOUT);
// A position reading whose bracket of counter reads is wider than this
// was held up: its position and instant need not belong together.
constexpr std::int64_t kLateReadingNanoseconds = 250'000;
constexpr int kReadingAttempts = 5;
// A position this far off the counter's pace since the last reading in
// line, and still so this long after, means the stream stalled or jumped:
// what is queued plays that much late or early from then on. Briefer is
// the position's own jitter: Wine's moves in packets of its 10 ms period,
// one a tick of a timer thread; held up, that thread lets the position
// stand still, and if the sound did not run dry meanwhile it catches up at
// twice its pace (ticks of half a period), out of line for about twice the
// hold-up. A second passes hold-ups of up to half a second; a slip stays.
constexpr std::int64_t kGlitchNanoseconds = 20'000'000;
constexpr std::int64_t kGlitchLastsNanoseconds = 1'000'000'000;

enum StreamMode { EXCLUSIVE_EVENTS, EXCLUSIVE_TIMER, SHARED };
// Each mode as the start line says it.
static const char* const kModeText[] = {"exclusive, event-driven", "exclusive, timer-driven", "shared at the mix rate"};

struct SampleLayout {
    SampleKind kind;
    unsigned channels;
    DWORD channelMask;
};

// The open stream's interfaces, or null.
static IAudioClient* client = nullptr;
static IAudioRenderClient* renderer = nullptr;
static IAudioClock* deviceClock = nullptr;
// Signalled by the endpoint when an event-driven stream wants a buffer.
static HANDLE bufferEvent = nullptr;
// The device as the messages name it, as the start line names it, and
// why it plays in shared mode where exclusive mode was offered.
static std::string streamName, openedName, openedNote;
static StreamMode streamMode = SHARED;
static SampleLayout layout{PCM16, 1, 0};
static unsigned streamRate = 0;
static UINT32 bufferFrames = 0;
static UINT64 clockFrequency = 1;
// Whether the endpoint was told to start playing.
static bool started = false;
// Samples taken but not yet handed to the endpoint (event-driven streams
// hand over whole buffers only).
static std::vector<std::int16_t> pending;
// Frames taken by WriteAudio since the open, and that count when the
// stream last started afresh.
static std::int64_t framesTaken = 0, framesBase = 0;
// The last reading kept: position in frames at a monotonic instant.
static bool haveReading = false;
static std::int64_t readingFrames = 0, readingInstant = 0;
// The last reading in line with the ones before, and since when the
// readings after it are out of line with it.
static std::int64_t inLineFrames = 0, inLineInstant = 0;
static bool outOfLine = false;
static std::int64_t outOfLineSince = 0;
// The message for the last AUDIO_GONE.
static std::string problem;
// Whether the last OpenAudio refusal was a name matching several devices.
static bool nameAmbiguous = false;
// The multimedia scheduler's registration of the sound thread, or null.
static HANDLE schedulerTask = nullptr;
// Whether the system is kept from sleeping.
static bool keptAwake = false;

template <typename T>
static void Release(T** p) {
    if (*p != nullptr) (*p)->Release();
    *p = nullptr;
}

bool AudioAvailable() {
    return true;
}

bool AudioNameAmbiguous() {
    return nameAmbiguous;
}

// Text in UTF-8, as the program's text is throughout.
static std::string Narrow(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 1, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(std::strlen(out.c_str()));
    return out;
}

static std::wstring Widen(const char* text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(n > 0 ? n : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
    out.resize(std::wcslen(out.c_str()));
    return out;
}

// Windows' own text for `hr`; for the sound errors its message table may
// lack, a short one of ours. Always with the code.
static std::string ErrorText(HRESULT hr) {
    char text[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(hr), 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.' || text[n - 1] == ' ')) --n;
    std::string message(text, n);
    if (message.empty()) {
        switch (hr) {
        case AUDCLNT_E_DEVICE_INVALIDATED: message = "the device was removed or reconfigured"; break;
        case AUDCLNT_E_DEVICE_IN_USE: message = "the device is in use"; break;
        case AUDCLNT_E_UNSUPPORTED_FORMAT: message = "the format is not supported"; break;
        case AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED:
            message = "exclusive mode is not allowed (see the device's properties)";
            break;
        case AUDCLNT_E_SERVICE_NOT_RUNNING: message = "the Windows audio service is not running"; break;
        default: message = "error"; break;
        }
    }
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(hr));
    return message + " (" + code + ")";
}

// Describes `l` at `rate` for Initialize and IsFormatSupported.
static WAVEFORMATEXTENSIBLE Describe(const SampleLayout& l, unsigned rate) {
    WAVEFORMATEXTENSIBLE f{};
    const WORD bits = l.kind == PCM16 ? 16 : 32;
    f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    f.Format.nChannels = static_cast<WORD>(l.channels);
    f.Format.nSamplesPerSec = rate;
    f.Format.wBitsPerSample = bits;
    f.Format.nBlockAlign = static_cast<WORD>(l.channels * bits / 8);
    f.Format.nAvgBytesPerSec = rate * f.Format.nBlockAlign;
    f.Format.cbSize = sizeof f - sizeof f.Format;
    f.Samples.wValidBitsPerSample = bits;
    f.dwChannelMask = l.channelMask;
    f.SubFormat = l.kind == FLOAT32 ? kSubtypeFloat : kSubtypePcm;
    return f;
}

// The layout of the endpoint's shared-mode mix format; false where it is
// none that this file writes.
static bool LayoutOf(const WAVEFORMATEX* mix, SampleLayout* l) {
    bool isFloat = mix->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    l->channels = mix->nChannels;
    l->channelMask = 0;
    if (mix->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        const auto* x = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(mix);
        isFloat = IsEqualGUID(x->SubFormat, kSubtypeFloat);
        if (!isFloat && !IsEqualGUID(x->SubFormat, kSubtypePcm)) return false;
        l->channelMask = x->dwChannelMask;
    } else if (!isFloat && mix->wFormatTag != WAVE_FORMAT_PCM) {
        return false;
    }
    if (isFloat && mix->wBitsPerSample == 32) l->kind = FLOAT32;
    else if (!isFloat && mix->wBitsPerSample == 16) l->kind = PCM16;
    else if (!isFloat && mix->wBitsPerSample == 32) l->kind = PCM32;
    else return false;
    return l->channels > 0;
}

// The first layout the endpoint plays exactly at `rate` in exclusive mode:
// stereo (most exclusive-mode devices take nothing else), else mono, else
// the mix's channels; 16-bit, 24-in-32 or float.
static HRESULT ExclusiveLayout(IAudioClient* probe, unsigned rate, const SampleLayout& mix, SampleLayout* found) {
    const SampleLayout channels[] = {{PCM16, 2, SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT},
                                     {PCM16, 1, SPEAKER_FRONT_CENTER},
                                     {PCM16, mix.channels, mix.channelMask}};
    HRESULT last = AUDCLNT_E_UNSUPPORTED_FORMAT;
    for (const SampleLayout& c : channels) {
        if (c.channels > 2 && (mix.channels <= 2 || mix.channelMask == 0)) continue;
        for (SampleKind kind : {PCM16, PCM32, FLOAT32}) {
            SampleLayout l = c;
            l.kind = kind;
            WAVEFORMATEXTENSIBLE f = Describe(l, rate);
            if (kind == PCM32) f.Samples.wValidBitsPerSample = 24;
            last = probe->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &f.Format, nullptr);
            if (last == S_OK) {
                *found = l;
                return S_OK;
            }
        }
    }
    return last;
}

// What an endpoint offers: its mix format's rate and layout, and for each
// standard rate whether exclusive mode plays it exactly, and how.
struct EndpointOffer {
    unsigned mixRate;
    bool mixUsable;
    SampleLayout mix;
    bool exclusive[4];
    SampleLayout exclusiveLayout[4];
    HRESULT refusal[4];
};

static HRESULT Offer(IMMDevice* device, EndpointOffer* offer) {
    IAudioClient* probe = nullptr;
    HRESULT hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&probe));
    if (FAILED(hr)) return hr;
    WAVEFORMATEX* mix = nullptr;
    hr = probe->GetMixFormat(&mix);
    if (FAILED(hr)) {
        probe->Release();
        return hr;
    }
    offer->mixRate = mix->nSamplesPerSec;
    offer->mixUsable = LayoutOf(mix, &offer->mix);
    if (!offer->mixUsable) offer->mix = {PCM16, mix->nChannels, 0};
    CoTaskMemFree(mix);
    for (int i = 0; i < 4; ++i) {
        offer->refusal[i] = ExclusiveLayout(probe, kRates[i], offer->mix, &offer->exclusiveLayout[i]);
        offer->exclusive[i] = offer->refusal[i] == S_OK;
    }
    probe->Release();
    return S_OK;
}

static bool Plays(const EndpointOffer& offer, int i) {
    return offer.exclusive[i] || (offer.mixUsable && offer.mixRate == kRates[i]);
}

static std::string EndpointId(IMMDevice* device) {
    LPWSTR id = nullptr;
    if (FAILED(device->GetId(&id)) || id == nullptr) return "";
    const std::string text = Narrow(id);
    CoTaskMemFree(id);
    return text;
}

static std::wstring FriendlyName(IMMDevice* device) {
    IPropertyStore* store = nullptr;
    std::wstring name;
    if (SUCCEEDED(device->OpenPropertyStore(STGM_READ, &store))) {
        PROPVARIANT value;
        PropVariantInit(&value);
        if (SUCCEEDED(store->GetValue(PKEY_Device_FriendlyName, &value)) && value.vt == VT_LPWSTR &&
            value.pwszVal != nullptr)
            name = value.pwszVal;
        PropVariantClear(&value);
        store->Release();
    }
    return name;
}

static std::wstring Lower(std::wstring text) {
    if (!text.empty()) CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

static HRESULT Enumerator(IMMDeviceEnumerator** enumerator) {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) return hr;
    return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                            reinterpret_cast<void**>(enumerator));
}

static HRESULT ActiveEndpoints(IMMDeviceEnumerator* enumerator, std::vector<IMMDevice*>* devices) {
    IMMDeviceCollection* all = nullptr;
    HRESULT hr = enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, &all);
    if (FAILED(hr)) return hr;
    UINT count = 0;
    all->GetCount(&count);
    for (UINT i = 0; i < count; ++i) {
        IMMDevice* device = nullptr;
        if (SUCCEEDED(all->Item(i, &device))) devices->push_back(device);
    }
    all->Release();
    return S_OK;
}

// The endpoint `name` stands for: "default" (any case), an endpoint ID, or a part of
// one friendly name (any case). Null with `text` saying why.
static IMMDevice* FindEndpoint(IMMDeviceEnumerator* enumerator, const char* name, std::string* text) {
    IMMDevice* found = nullptr;
    if (Lower(Widen(name)) == L"default") {
        const HRESULT hr = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &found);
        if (FAILED(hr)) *text = std::string(name) + ": no default playback device: " + ErrorText(hr);
        return SUCCEEDED(hr) ? found : nullptr;
    }
    std::vector<IMMDevice*> devices;
    const HRESULT hr = ActiveEndpoints(enumerator, &devices);
    if (FAILED(hr)) *text = std::string(name) + ": cannot list the playback devices: " + ErrorText(hr);
    const std::wstring part = Lower(Widen(name));
    std::vector<IMMDevice*> matches;
    for (IMMDevice* d : devices) {
        if (EndpointId(d) == name) {
            matches.assign(1, d);
            break;
        }
        if (Lower(FriendlyName(d)).find(part) != std::wstring::npos) matches.push_back(d);
    }
    if (matches.size() == 1) {
        found = matches[0];
        found->AddRef();
    } else if (matches.size() > 1) {
        nameAmbiguous = true;
        *text = std::string("--audio ") + name + " matches several playback devices:";
        for (std::size_t i = 0; i < matches.size(); ++i)
            *text += (i == 0 ? " " : ", ") + Narrow(FriendlyName(matches[i]).c_str()) + " " + EndpointId(matches[i]);
    } else if (SUCCEEDED(hr)) {
        *text = std::string(name) + ": no active playback device has this name or ID (see --audio list)";
    }
    for (IMMDevice* d : devices) d->Release();
    return found;
}

// Asks for the system's signal processing to stay out, where it can.
static void AskRaw(IAudioClient* c) {
    IAudioClient2* c2 = nullptr;
    if (FAILED(c->QueryInterface(__uuidof(IAudioClient2), reinterpret_cast<void**>(&c2)))) return;
    AudioClientProperties properties{};
    properties.cbSize = sizeof properties;
    properties.eCategory = AudioCategory_Other;
    properties.Options = AUDCLNT_STREAMOPTIONS_RAW;
    c2->SetClientProperties(&properties);
    c2->Release();
}

// A fresh client of `device`, initialized in `mode` with `l` at `rate`.
static HRESULT Initialize(IMMDevice* device, StreamMode mode, const SampleLayout& l, unsigned rate,
                          IAudioClient** made) {
    WAVEFORMATEXTENSIBLE f = Describe(l, rate);
    if (l.kind == PCM32 && mode != SHARED) f.Samples.wValidBitsPerSample = 24;
    REFERENCE_TIME buffer = mode == EXCLUSIVE_EVENTS ? kEventBuffer : kPolledBuffer;
    for (int attempt = 0; attempt < 2; ++attempt) {
        IAudioClient* c = nullptr;
        HRESULT hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&c));
        if (FAILED(hr)) return hr;
        AskRaw(c);
        if (mode == SHARED) {
            WAVEFORMATEX* mix = nullptr;
            hr = c->GetMixFormat(&mix);
            if (SUCCEEDED(hr)) hr = c->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, buffer, 0, mix, nullptr);
            CoTaskMemFree(mix);
        } else {
            const bool events = mode == EXCLUSIVE_EVENTS;
            hr = c->Initialize(AUDCLNT_SHAREMODE_EXCLUSIVE, events ? AUDCLNT_STREAMFLAGS_EVENTCALLBACK : 0, buffer,
                               events ? buffer : 0, &f.Format, nullptr);
        }
        if (hr == AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED && attempt == 0) {
            // The driver's own multiple of its period, nearest ours.
            UINT32 frames = 0;
            hr = c->GetBufferSize(&frames);
            c->Release();
            if (FAILED(hr)) return hr;
            buffer = static_cast<REFERENCE_TIME>(10'000'000.0 * frames / rate + 0.5);
            continue;
        }
        if (FAILED(hr)) {
            c->Release();
            return hr;
        }
        *made = c;
        return S_OK;
    }
    return AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED;
}

static void CloseStream() {
    if (client != nullptr && started) client->Stop();
    Release(&deviceClock);
    Release(&renderer);
    Release(&client);
    if (bufferEvent != nullptr) CloseHandle(bufferEvent);
    bufferEvent = nullptr;
    if (schedulerTask != nullptr) AvRevertMmThreadCharacteristics(schedulerTask);
    schedulerTask = nullptr;
    if (keptAwake) SetThreadExecutionState(ES_CONTINUOUS);
    keptAwake = false;
    started = false;
}

// Where `rate` stands among the standard rates; -1 if it is none.
static int RateIndex(unsigned rate) {
    for (int i = 0; i < 4; ++i)
        if (kRates[i] == rate) return i;
    return -1;
}

// Opens the stream on `device` at `*rate`: exclusive mode with events, else
// with a timer, else shared mode where the mix runs at that rate, or where
// `anyRate`, at the mix's rate if standard (`*rate` then holds it).
static HRESULT OpenStream(IMMDevice* device, const EndpointOffer& offer, unsigned* opening, bool anyRate,
                          std::string* why) {
    const unsigned rate = *opening;
    const int index = RateIndex(rate);
    HRESULT hr = offer.refusal[index];
    IAudioClient* c = nullptr;
    StreamMode mode = EXCLUSIVE_EVENTS;
    SampleLayout l = offer.exclusiveLayout[index];
    if (offer.exclusive[index]) {
        hr = Initialize(device, EXCLUSIVE_EVENTS, l, rate, &c);
        // Drivers (and Wine) that refuse events in exclusive mode.
        if (FAILED(hr)) hr = Initialize(device, mode = EXCLUSIVE_TIMER, l, rate, &c);
    }
    const bool mixStandard = offer.mixUsable && RateIndex(offer.mixRate) >= 0;
    if (c == nullptr && mixStandard && (offer.mixRate == rate || anyRate)) {
        // Exclusive mode offered but refused (switched off in the device's
        // properties, or taken): the user should know why.
        if (offer.exclusive[index])
            openedNote = streamName + " refused exclusive mode at " + std::to_string(rate) + " Hz: " + ErrorText(hr) +
                         "; playing shared at the mix rate" +
                         (offer.mixRate != rate ? ", " + std::to_string(offer.mixRate) + " Hz" : "");
        l = offer.mix;
        hr = Initialize(device, mode = SHARED, l, offer.mixRate, &c);
        if (c != nullptr) *opening = offer.mixRate;
    }
    if (c == nullptr) {
        *why = "cannot play exactly at " + std::to_string(rate) + " Hz";
        if (!offer.exclusive[index] && offer.mixRate != rate)
            *why += " (shared mode runs at " + std::to_string(offer.mixRate) + " Hz)";
        return hr;
    }
    client = c;
    streamMode = mode;
    layout = l;
    streamRate = *opening;
    *why = "cannot set up the stream at " + std::to_string(streamRate) + " Hz";
    hr = client->GetBufferSize(&bufferFrames);
    if (SUCCEEDED(hr))
        hr = client->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&renderer));
    if (SUCCEEDED(hr)) hr = client->GetService(__uuidof(IAudioClock), reinterpret_cast<void**>(&deviceClock));
    if (SUCCEEDED(hr)) hr = deviceClock->GetFrequency(&clockFrequency);
    if (SUCCEEDED(hr) && clockFrequency == 0) hr = E_UNEXPECTED;
    if (SUCCEEDED(hr) && mode == EXCLUSIVE_EVENTS) {
        bufferEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        hr = bufferEvent == nullptr ? HRESULT_FROM_WIN32(GetLastError()) : client->SetEventHandle(bufferEvent);
    }
    return hr;
}

bool OpenAudio(const char* device, unsigned rate, unsigned* opened, char* text, std::size_t size) {
    CloseStream();
    nameAmbiguous = false;
    std::string why;
    IMMDeviceEnumerator* enumerator = nullptr;
    HRESULT hr = Enumerator(&enumerator);
    if (FAILED(hr)) why = std::string(device) + ": cannot list the playback devices: " + ErrorText(hr);
    IMMDevice* endpoint = SUCCEEDED(hr) ? FindEndpoint(enumerator, device, &why) : nullptr;
    if (enumerator != nullptr) enumerator->Release();
    if (endpoint == nullptr) {
        std::snprintf(text, size, "%s", why.c_str());
        return false;
    }
    streamName = device;
    const std::string friendly = Narrow(FriendlyName(endpoint).c_str());
    if (!friendly.empty() && friendly != device) streamName += " (" + friendly + ")";
    openedName = friendly.empty() ? device : friendly;
    openedNote.clear();
    const bool anyRate = rate == 0;
    EndpointOffer offer{};
    hr = Offer(endpoint, &offer);
    if (FAILED(hr)) {
        why = "cannot ask what it plays";
    } else if (rate == 0) {
        for (int i = 3; i >= 0; --i)
            if (Plays(offer, i)) rate = kRates[i];
        if (rate == 0) {
            why = "plays none of 192000, 96000, 48000 and 44100 Hz exactly (shared mode runs at " +
                  std::to_string(offer.mixRate) + " Hz)";
            hr = offer.refusal[0];
        }
    }
    if (rate != 0 && SUCCEEDED(hr)) {
        const bool standard = RateIndex(rate) >= 0;
        hr = standard ? OpenStream(endpoint, offer, &rate, anyRate, &why) : E_INVALIDARG;
        if (!standard) why = "cannot play exactly at " + std::to_string(rate) + " Hz";
    }
    endpoint->Release();
    if (FAILED(hr)) {
        CloseStream();
        std::snprintf(text, size, "%s: %s: %s", streamName.c_str(), why.c_str(), ErrorText(hr).c_str());
        return false;
    }
    // The sound thread ahead of ordinary ones, as players of sound are.
    DWORD task = 0;
    schedulerTask = AvSetMmThreadCharacteristicsW(L"Pro Audio", &task);
    pending.clear();
    framesTaken = framesBase = 0;
    haveReading = outOfLine = false;
    inLineFrames = 0;
    *opened = rate;
    return true;
}

OpenedAudio DescribeOpenedAudio() {
    return {openedName.c_str(), kModeText[streamMode], openedNote.c_str()};
}

static AudioOutcome Gone(HRESULT hr) {
    if (hr == kNoBufferEvent)
        problem = streamName + ": gave no buffer event for " + std::to_string(kEventTimeoutMs / 1000) + " s";
    else
        problem = streamName + ": " + ErrorText(hr);
    return AUDIO_GONE;
}

// Writes `frames` mono samples into the endpoint's buffer at `out` in its
// format: the same level, the tone on the first two channels.
static void Convert(const std::int16_t* samples, UINT32 frames, BYTE* out) {
    const unsigned toned = layout.channels < 2 ? layout.channels : 2;
    const std::size_t bytes = layout.kind == PCM16 ? 2 : 4;
    std::memset(out, 0, frames * layout.channels * bytes);
    for (UINT32 i = 0; i < frames; ++i) {
        BYTE* frame = out + i * layout.channels * bytes;
        for (unsigned ch = 0; ch < toned; ++ch) {
            if (layout.kind == PCM16) {
                std::memcpy(frame + ch * bytes, &samples[i], 2);
            } else if (layout.kind == PCM32) {
                const std::int32_t v = static_cast<std::int32_t>(samples[i]) * 65536;
                std::memcpy(frame + ch * bytes, &v, 4);
            } else {
                const float v = static_cast<float>(samples[i]) / 32768.0f;
                std::memcpy(frame + ch * bytes, &v, 4);
            }
        }
    }
}

// Hands `frames` of `pending` (silence where it holds fewer) to the endpoint.
static HRESULT Hand(UINT32 frames) {
    BYTE* data = nullptr;
    HRESULT hr = renderer->GetBuffer(frames, &data);
    if (FAILED(hr)) return hr;
    std::vector<std::int16_t> chunk(frames, 0);
    const std::size_t from = pending.size() < frames ? pending.size() : frames;
    std::copy(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(from), chunk.begin());
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(from));
    Convert(chunk.data(), frames, data);
    return renderer->ReleaseBuffer(frames, 0);
}

static HRESULT Start() {
    if (started) return S_OK;
    started = true;
    return client->Start();
}

// Room in the endpoint's buffer: a whole buffer per event in event-driven
// exclusive mode (waiting for the event once playing), else what the
// padding leaves.
static HRESULT Room(UINT32* room) {
    if (streamMode == EXCLUSIVE_EVENTS) {
        const DWORD waited = started ? WaitForSingleObject(bufferEvent, kEventTimeoutMs) : WAIT_OBJECT_0;
        if (waited == WAIT_TIMEOUT) return kNoBufferEvent;
        if (waited != WAIT_OBJECT_0) return HRESULT_FROM_WIN32(GetLastError());
        *room = bufferFrames;
        return S_OK;
    }
    UINT32 padding = 0;
    const HRESULT hr = client->GetCurrentPadding(&padding);
    *room = bufferFrames - padding;
    return hr;
}

// Keeps the system awake while the samples carry a signal, not between
// --window's windows (silence).
static void KeepAwake(const std::int16_t* samples, std::size_t count) {
    bool signal = false;
    for (std::size_t i = 0; i < count && !signal; ++i) signal = samples[i] != 0;
    if (signal == keptAwake) return;
    SetThreadExecutionState(signal ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
    keptAwake = signal;
}

AudioOutcome WriteAudio(const std::int16_t* samples, std::size_t count) {
    KeepAwake(samples, count);
    pending.insert(pending.end(), samples, samples + count);
    framesTaken += static_cast<std::int64_t>(count);
    // Event-driven: whole buffers; polled: everything, sleeping while full.
    const std::size_t keep = streamMode == EXCLUSIVE_EVENTS ? bufferFrames - 1 : 0;
    while (pending.size() > keep) {
        UINT32 room = 0;
        HRESULT hr = Room(&room);
        if (FAILED(hr)) return Gone(hr);
        if (room == 0) {
            // Full: the stream plays from now on.
            hr = Start();
            if (FAILED(hr)) return Gone(hr);
            SleepUntilMonotonic(MonotonicNanoseconds() + kPollNanoseconds);
            continue;
        }
        const UINT32 frames = streamMode == EXCLUSIVE_EVENTS ? bufferFrames
                              : pending.size() < room    ? static_cast<UINT32>(pending.size())
                                                         : room;
        hr = Hand(frames);
        if (SUCCEEDED(hr) && streamMode == EXCLUSIVE_EVENTS) hr = Start();
        if (FAILED(hr)) return Gone(hr);
    }
    return AUDIO_PLAYING;
}

// The endpoint's position in frames at a monotonic instant; false where
// every attempt was held up or said it was inaccurate (S_FALSE).
static HRESULT ReadPosition(std::int64_t* frames, std::int64_t* instant) {
    for (int attempt = 0; attempt < kReadingAttempts; ++attempt) {
        UINT64 position = 0, counter = 0;
        const std::int64_t before = MonotonicNanoseconds();
        const HRESULT hr = deviceClock->GetPosition(&position, &counter);
        const std::int64_t after = MonotonicNanoseconds();
        if (FAILED(hr)) return hr;
        if (hr != S_OK || after - before > kLateReadingNanoseconds) continue;
        // The position counts in units of the clock's frequency; the
        // counter in 100 ns, as MonotonicNanoseconds' own counter.
        const UINT64 whole = position / clockFrequency, part = position % clockFrequency;
        *frames = static_cast<std::int64_t>(whole * streamRate + part * streamRate / clockFrequency);
        *instant = static_cast<std::int64_t>(counter) * 100;
        return S_OK;
    }
    return S_FALSE;
}

AudioOutcome ReportAudio(AudioReport* report) {
    std::int64_t frames = 0, instant = 0;
    const HRESULT hr = ReadPosition(&frames, &instant);
    if (FAILED(hr)) return Gone(hr);
    if (hr == S_OK) {
        // A stream that has moved must keep pace with the counter.
        const std::int64_t moved = (frames - inLineFrames) * 1'000'000'000 / streamRate;
        const std::int64_t off = moved - (instant - inLineInstant);
        const bool inLine = inLineFrames == 0 || (off <= kGlitchNanoseconds && off >= -kGlitchNanoseconds);
        if (!inLine && !outOfLine) outOfLineSince = instant;
        const bool slipped = !inLine && instant - outOfLineSince >= kGlitchLastsNanoseconds;
        outOfLine = !inLine && !slipped;
        if (!outOfLine) {
            inLineFrames = frames;
            inLineInstant = instant;
        }
        haveReading = true;
        readingFrames = frames;
        readingInstant = instant;
        if (slipped) {
            // What is queued plays late or not at all: count afresh.
            framesBase = framesTaken;
            return AUDIO_RESTARTED;
        }
    } else if (!haveReading) {
        // No reading yet: a report that maps nothing.
        report->monotonic = MonotonicNanoseconds();
        report->written = framesTaken - framesBase;
        report->delay = 0;
        return AUDIO_PLAYING;
    }
    // Else the last reading kept stands for this one.
    report->monotonic = readingInstant;
    report->written = framesTaken - framesBase;
    report->delay = framesTaken - readingFrames;
    return AUDIO_PLAYING;
}

void DrainAudio() {
    if (client == nullptr) return;
    // The rest, then silence until everything taken has been heard.
    const std::int64_t deadline = MonotonicNanoseconds() + 2'000'000'000;
    bool ok = true;
    while (ok && MonotonicNanoseconds() < deadline) {
        std::int64_t frames = 0, instant = 0;
        const HRESULT hr = ReadPosition(&frames, &instant);
        if (FAILED(hr) || (hr == S_OK && frames >= framesTaken && pending.empty())) break;
        UINT32 room = 0;
        ok = SUCCEEDED(Room(&room)) && SUCCEEDED(Start());
        // Event-driven: whole buffers, silence after the rest.
        const bool few = streamMode != EXCLUSIVE_EVENTS && pending.size() < room;
        const UINT32 handing = few ? static_cast<UINT32>(pending.size()) : room;
        if (ok && handing > 0)
            ok = SUCCEEDED(Hand(handing));
        else if (ok)
            SleepUntilMonotonic(MonotonicNanoseconds() + kPollNanoseconds);
    }
    CloseStream();
}

const char* AudioProblem() {
    return problem.c_str();
}

int ListAudioDevices(std::FILE* out) {
    IMMDeviceEnumerator* enumerator = nullptr;
    HRESULT hr = Enumerator(&enumerator);
    std::vector<IMMDevice*> devices;
    if (SUCCEEDED(hr)) hr = ActiveEndpoints(enumerator, &devices);
    if (enumerator != nullptr) enumerator->Release();
    if (FAILED(hr)) std::fprintf(out, "cannot list the playback devices: %s\n", ErrorText(hr).c_str());
    for (IMMDevice* d : devices) {
        std::string line = Narrow(FriendlyName(d).c_str()) + "  " + EndpointId(d) + " ";
        EndpointOffer offer{};
        hr = Offer(d, &offer);
        if (FAILED(hr)) {
            line += " (cannot ask what it plays: " + ErrorText(hr) + ")";
        } else {
            std::string rates;
            for (int i = 0; i < 4; ++i)
                if (Plays(offer, i)) rates += " " + std::to_string(kRates[i]);
            line += rates.empty() ? " (no standard rate exactly)" : rates + " Hz";
            line += "; shared mode " + std::to_string(offer.mixRate) + " Hz";
        }
        std::fprintf(out, "%s\n", line.c_str());
        d->Release();
    }
    return static_cast<int>(devices.size());
}
