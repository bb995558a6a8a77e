// Sound through ALSA in the waveOut manner: a fixed ring of buffers written in order,
// a counting semaphore of free buffers that paces the writer, and a device thread of
// ours that hands each buffer to the PCM and frees it when the device has taken it.
#pragma once

#include <alsa/asoundlib.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "output/AudioOut.h"

namespace vantrel {

class TWaveOut : public TAudioOut {
public:
    struct TDevInfo {
        std::string name;  // shown to the user
        std::string pcm;   // the ALSA PCM name
    };
    // What the device was actually opened with.
    struct TOpenedFormat {
        snd_pcm_format_t format = SND_PCM_FORMAT_UNKNOWN;
        unsigned channels = 0;
        unsigned rate = 0;
    };

    TWaveOut();
    ~TWaveOut() override;

    bool SetFormat(int channels, int bits, int sampleRate) override;
    bool SetFormatEx(TWaveDataType type, bool extensible, int sampleRate, int channels,
                     std::uint32_t channelMask) override;
    bool SetBuffer(unsigned lengthMs, std::uint8_t count) override;
    unsigned GetBufferBytes() const override { return bufBytes_; }
    unsigned GetBufferFrames() const override;
    void SetTimeout(unsigned milliseconds) override { timeoutMs_ = milliseconds; }
    // Index 0 is "default" (the system's choice); then the PCM devices ALSA lists. An
    // index beyond the list selects 0.
    bool SetDevice(int index) override;
    // A PCM by its ALSA name ("pulse", "hw:0,0", "null"), for tests and the command line.
    bool SetDevice(const std::string& pcm) override;
    bool Open() override;
    bool Close() override;
    bool Write(const void* data, std::size_t bytes) override;
    bool Reset() override;
    bool Pause() override;
    bool Restart() override;
    int GetNumDevs() override;
    std::string GetDevName(int index) override;

    const TWaveFormat& Format() const { return format_; }
    const TOpenedFormat& Opened() const { return opened_; }
    const std::string& DevicePcm() const { return pcm_; }

    // The sample layout ALSA calls a format record; UNKNOWN for one no PCM takes.
    static snd_pcm_format_t AlsaFormat(const TWaveFormat& format);
    // AC-3/DTS frames to be passed through, and the devices that can take them.
    static bool IsPassThrough(const TWaveFormat& format);
    static bool TakesPassThrough(const std::string& pcm);

private:
    struct Buffer {
        std::vector<std::uint8_t> data;
        std::size_t bytes = 0;
    };
    void DeviceLoop();
    void Recompute();
    void FreeAll();

    TWaveFormat format_;
    unsigned bufLengthMs_ = 1000;
    std::uint8_t numBuffers_ = 2;
    unsigned bufBytes_ = 0;
    unsigned timeoutMs_ = 0;
    std::vector<TDevInfo> devices_;
    std::string pcm_ = "default";
    TOpenedFormat opened_;

    snd_pcm_t* handle_ = nullptr;
    std::vector<Buffer> ring_;
    std::size_t next_ = 0;
    std::unique_ptr<std::counting_semaphore<255>> free_;

    // Shared with the device thread.
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::size_t> queued_;  // ring slots waiting for the device, oldest first
    bool busy_ = false;               // the device thread is writing a slot
    bool paused_ = false;
    bool stop_ = false;
    bool failed_ = false;
    std::thread thread_;
};

}  // namespace vantrel
