#include "output/WaveOut.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace vantrel {

namespace {

// How long ALSA's own buffer is: short, so that our ring does the pacing and a pause or
// reset takes effect soon.
constexpr unsigned kAlsaBufferUs = 200000, kAlsaPeriodUs = 50000;

// ALSA prints its own complaints to standard error; ours carry the device name instead.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
void SilenceAlsaOnce()
{
    static const bool silenced = [] {
        snd_lib_error_set_handler(QuietAlsa);
        return true;
    }();
    (void)silenced;
}

std::string Hint(void* hint, const char* id)
{
    char* value = snd_device_name_get_hint(hint, id);
    std::string text = value ? value : "";
    std::free(value);
    return text;
}

}  // namespace

bool TWaveOut::IsPassThrough(const TWaveFormat& format)
{
    const std::uint32_t tag = format.formatTag == kWaveFormatExtensible ? format.subFormat.data1 : format.formatTag;
    return tag == 0x0092 || tag == 0x0240 || tag == 0x0008;
}

bool TWaveOut::TakesPassThrough(const std::string& pcm)
{
    // Only the digital outputs carry encoded frames; anything else would play them as noise.
    for (const char* prefix : {"iec958", "hdmi", "spdif"})
        if (pcm.rfind(prefix, 0) == 0)
            return true;
    return false;
}

TWaveOut::TWaveOut()
{
    SilenceAlsaOnce();
    name_ = "TWaveOut";
    format_ = MakePcmFormat(2, 16, 44100);
    Recompute();
}

TWaveOut::~TWaveOut()
{
    Reset();
    Close();
}

void TWaveOut::Recompute()
{
    bufBytes_ = BufferFramesFor(static_cast<int>(format_.samplesPerSec), bufLengthMs_) * format_.blockAlign;
}

unsigned TWaveOut::GetBufferFrames() const
{
    return format_.blockAlign ? bufBytes_ / format_.blockAlign : 0;
}

bool TWaveOut::SetFormat(int channels, int bits, int sampleRate)
{
    if (handle_)
        return false;
    format_ = MakePcmFormat(channels, bits, sampleRate);
    Recompute();
    return true;
}

bool TWaveOut::SetFormatEx(TWaveDataType type, bool extensible, int sampleRate, int channels, std::uint32_t channelMask)
{
    if (handle_)
        return false;
    format_ = MakeFormatEx(type, extensible, sampleRate, channels, channelMask);
    Recompute();
    return true;
}

bool TWaveOut::SetBuffer(unsigned lengthMs, std::uint8_t count)
{
    if (handle_ || count == 0)
        return false;
    bufLengthMs_ = lengthMs;
    numBuffers_ = count;
    Recompute();
    return true;
}

int TWaveOut::GetNumDevs()
{
    devices_.clear();
    devices_.push_back({"default", "default"});
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) == 0) {
        for (void** h = hints; *h; ++h) {
            const std::string name = Hint(*h, "NAME");
            const std::string io = Hint(*h, "IOID");
            if (name.empty() || name == "default" || io == "Input")
                continue;
            std::string description = Hint(*h, "DESC");
            std::replace(description.begin(), description.end(), '\n', ' ');
            devices_.push_back({description.empty() ? name : description, name});
        }
        snd_device_name_free_hint(hints);
    }
    return static_cast<int>(devices_.size());
}

std::string TWaveOut::GetDevName(int index)
{
    return index >= 0 && index < static_cast<int>(devices_.size()) ? devices_[static_cast<std::size_t>(index)].name
                                                                    : std::string();
}

bool TWaveOut::SetDevice(int index)
{
    if (handle_)
        return false;
    GetNumDevs();
    pcm_ = devices_[index >= 0 && index < static_cast<int>(devices_.size()) ? static_cast<std::size_t>(index) : 0].pcm;
    return true;
}

bool TWaveOut::SetDevice(const std::string& pcm)
{
    if (handle_ || pcm.empty())
        return false;
    pcm_ = pcm;
    return true;
}

snd_pcm_format_t TWaveOut::AlsaFormat(const TWaveFormat& format)
{
    std::uint16_t tag = format.formatTag;
    unsigned bits = format.bitsPerSample;
    if (tag == kWaveFormatExtensible) {
        tag = static_cast<std::uint16_t>(format.subFormat.data1);
        bits = format.validBitsPerSample ? format.validBitsPerSample : bits;
    }
    const unsigned container = format.channels ? format.blockAlign / format.channels * 8u : 0;
    struct Row {
        std::uint16_t tag;
        unsigned bits, container;
        snd_pcm_format_t alsa;
    };
    static constexpr Row kRows[] = {
        {kWaveFormatPcm, 8, 8, SND_PCM_FORMAT_U8},
        {kWaveFormatPcm, 16, 16, SND_PCM_FORMAT_S16_LE},
        {kWaveFormatPcm, 24, 24, SND_PCM_FORMAT_S24_3LE},
        {kWaveFormatPcm, 24, 32, SND_PCM_FORMAT_S24_LE},
        {kWaveFormatPcm, 32, 32, SND_PCM_FORMAT_S32_LE},
        {kWaveFormatIeeeFloat, 32, 32, SND_PCM_FORMAT_FLOAT_LE},
        {kWaveFormatIeeeFloat, 64, 64, SND_PCM_FORMAT_FLOAT64_LE},
        {0x0092, 16, 16, SND_PCM_FORMAT_S16_LE},  // AC-3/DTS frames in S/PDIF words
    };
    for (const Row& row : kRows)
        if (row.tag == tag && row.bits == bits && row.container == container)
            return row.alsa;
    return SND_PCM_FORMAT_UNKNOWN;
}

bool TWaveOut::Open()
{
    if (handle_)
        return false;
    lastError_.clear();
    const snd_pcm_format_t alsaFormat = AlsaFormat(format_);
    if (alsaFormat == SND_PCM_FORMAT_UNKNOWN || bufBytes_ == 0) {
        lastError_ = "sound device '" + pcm_ + "': no such sample format";
        return false;
    }
    if (IsPassThrough(format_) && !TakesPassThrough(pcm_)) {
        lastError_ = "sound device '" + pcm_ + "' cannot take AC-3/DTS pass-through (use an iec958 or hdmi device)";
        return false;
    }
    int error = snd_pcm_open(&handle_, pcm_.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
    if (error < 0) {
        handle_ = nullptr;
        lastError_ = "cannot open sound device '" + pcm_ + "': " + snd_strerror(error);
        return false;
    }
    snd_pcm_hw_params_t* params = nullptr;
    snd_pcm_hw_params_alloca(&params);
    unsigned rate = format_.samplesPerSec, bufferUs = kAlsaBufferUs, periodUs = kAlsaPeriodUs;
    int dir = 0;
    if ((error = snd_pcm_hw_params_any(handle_, params)) < 0 ||
        (error = snd_pcm_hw_params_set_access(handle_, params, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (error = snd_pcm_hw_params_set_format(handle_, params, alsaFormat)) < 0 ||
        (error = snd_pcm_hw_params_set_channels(handle_, params, format_.channels)) < 0 ||
        (error = snd_pcm_hw_params_set_rate(handle_, params, rate, 0)) < 0 ||
        (error = snd_pcm_hw_params_set_buffer_time_near(handle_, params, &bufferUs, &dir)) < 0 ||
        (error = snd_pcm_hw_params_set_period_time_near(handle_, params, &periodUs, &dir)) < 0 ||
        (error = snd_pcm_hw_params(handle_, params)) < 0) {
        lastError_ = "sound device '" + pcm_ + "' refuses the format: " + snd_strerror(error);
        snd_pcm_close(handle_);
        handle_ = nullptr;
        return false;
    }
    snd_pcm_hw_params_get_format(params, &opened_.format);
    snd_pcm_hw_params_get_channels(params, &opened_.channels);
    snd_pcm_hw_params_get_rate(params, &opened_.rate, &dir);

    ring_.assign(numBuffers_, Buffer{std::vector<std::uint8_t>(bufBytes_), 0});
    free_ = std::make_unique<std::counting_semaphore<255>>(numBuffers_);
    next_ = 0;
    queued_.clear();
    busy_ = paused_ = stop_ = failed_ = false;
    thread_ = std::thread([this] { DeviceLoop(); });
    return true;
}

void TWaveOut::DeviceLoop()
{
    const std::size_t frameBytes = format_.blockAlign;
    std::unique_lock lock(mutex_);
    for (;;) {
        cv_.wait(lock, [this] { return stop_ || (!paused_ && !queued_.empty()); });
        if (stop_ && (queued_.empty() || failed_))
            break;
        const std::size_t slot = queued_.front();
        busy_ = true;
        const Buffer& buffer = ring_[slot];
        std::size_t done = 0;
        // In short pieces, so that a pause or reset asked for meanwhile comes soon.
        const std::size_t piece = std::max<std::size_t>(frameBytes, buffer.bytes / 8 / frameBytes * frameBytes);
        while (done < buffer.bytes && !paused_ && !failed_ && !stop_) {
            lock.unlock();
            const std::size_t bytes = std::min(piece, buffer.bytes - done);
            snd_pcm_sframes_t n = snd_pcm_writei(handle_, buffer.data.data() + done, bytes / frameBytes);
            if (n < 0)
                n = snd_pcm_recover(handle_, static_cast<int>(n), 1);  // an underrun after a pause
            lock.lock();
            if (n < 0) {
                failed_ = true;
                lastError_ = "sound device '" + pcm_ + "': " + snd_strerror(static_cast<int>(n));
            } else {
                done += static_cast<std::size_t>(n) * frameBytes;
            }
        }
        busy_ = false;
        if (done < buffer.bytes && !failed_) {
            // Paused (or told to stop) in the middle: keep the rest for later.
            Buffer& rest = ring_[slot];
            std::memmove(rest.data.data(), rest.data.data() + done, rest.bytes - done);
            rest.bytes -= done;
            cv_.notify_all();
            continue;
        }
        queued_.pop_front();
        free_->release();  // the buffer is the writer's again
        if (failed_) {
            for (std::size_t i = 0; i < queued_.size(); ++i)
                free_->release();
            queued_.clear();
        }
        cv_.notify_all();
    }
}

bool TWaveOut::Write(const void* data, std::size_t bytes)
{
    if (!handle_)
        return false;
    if (bytes == 0)
        return true;
    {
        std::scoped_lock lock(mutex_);
        if (failed_)
            return false;
    }
    if (timeoutMs_ == 0)
        free_->acquire();
    else if (!free_->try_acquire_for(std::chrono::milliseconds(timeoutMs_)))
        return false;
    std::scoped_lock lock(mutex_);
    if (failed_) {
        free_->release();
        return false;
    }
    Buffer& buffer = ring_[next_];
    buffer.bytes = std::min<std::size_t>(bytes, buffer.data.size());
    std::memcpy(buffer.data.data(), data, buffer.bytes);
    queued_.push_back(next_);
    next_ = (next_ + 1) % ring_.size();
    cv_.notify_all();
    return true;
}

void TWaveOut::FreeAll()
{
    // Every queued buffer goes back to the writer; the device thread is not inside one.
    for (std::size_t i = 0; i < queued_.size(); ++i)
        free_->release();
    queued_.clear();
}

bool TWaveOut::Reset()
{
    if (!handle_)
        return false;
    std::unique_lock lock(mutex_);
    const bool wasPaused = paused_;
    paused_ = true;  // the device thread leaves the buffer it is in
    cv_.wait(lock, [this] { return !busy_; });
    FreeAll();
    snd_pcm_drop(handle_);
    snd_pcm_prepare(handle_);
    paused_ = wasPaused;
    next_ = 0;
    cv_.notify_all();
    return true;
}

bool TWaveOut::Pause()
{
    if (!handle_)
        return false;
    std::unique_lock lock(mutex_);
    paused_ = true;
    cv_.wait(lock, [this] { return !busy_; });
    // Hold what the device still has where it can; otherwise it plays out and the next
    // write recovers from the underrun, so nothing is lost or repeated either way.
    if (snd_pcm_state(handle_) == SND_PCM_STATE_RUNNING)
        snd_pcm_pause(handle_, 1);
    return true;
}

bool TWaveOut::Restart()
{
    if (!handle_)
        return false;
    std::scoped_lock lock(mutex_);
    if (snd_pcm_state(handle_) == SND_PCM_STATE_PAUSED)
        snd_pcm_pause(handle_, 0);
    paused_ = false;
    cv_.notify_all();
    return true;
}

bool TWaveOut::Close()
{
    if (!handle_)
        return false;
    {
        std::unique_lock lock(mutex_);
        if (paused_) {  // nothing would ever play: give the queue back
            cv_.wait(lock, [this] { return !busy_; });
            FreeAll();
        }
        cv_.wait(lock, [this] { return failed_ || (queued_.empty() && !busy_); });
        stop_ = true;
        cv_.notify_all();
    }
    thread_.join();
    if (!failed_ && snd_pcm_state(handle_) == SND_PCM_STATE_RUNNING)
        snd_pcm_drain(handle_);
    snd_pcm_close(handle_);
    handle_ = nullptr;
    ring_.clear();
    free_.reset();
    return !failed_;
}

}  // namespace vantrel
