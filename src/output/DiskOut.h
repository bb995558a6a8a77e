// The output that writes the processed audio into a RIFF WAVE file instead of a device:
// Open creates the file with a header, Write appends, Close puts the final sizes into the
// header. It never waits, so in file mode playback runs as fast as the drive delivers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "output/AudioOut.h"

namespace vantrel {

// The header form follows the format tag at Open: PCM (44 bytes, any tag but 3 and
// 0xFFFE), IEEE float (46 bytes, with the extra-size field, no "fact" chunk) or extensible
// (68 bytes, the whole 40-byte record). The sizes in it stay placeholders (data size 0)
// until Close.
//
// A write error (disk full, file size limit, I/O error) is remembered: that Write and every
// later one return false, GetLastError says what happened, the file is cut back to whole
// frames, and Close still writes a header whose sizes describe exactly the bytes in the
// file, then returns false. No Write may take the file beyond the 4 GiB that the 32-bit
// RIFF sizes can describe; one that would is refused the same way.
//
// Used by one thread at a time (the playback thread after Open); no lock, no thread.
class TDiskOut final : public TAudioOut {
public:
    // PCM, 2 channels, 16 bits, 44100 Hz; buffers of 1000 ms.
    TDiskOut();
    // Completes the header of an open file.
    ~TDiskOut() override;

    // Refused while a file is open.
    bool SetFormat(int channels, int bits, int sampleRate) override;
    // Allowed at any time; an open file keeps the header form it was created with.
    bool SetFormatEx(TWaveDataType type, bool extensible, int sampleRate, int channels,
                     std::uint32_t channelMask) override;
    // Stores the length (the count does not matter for a file); refused while open.
    bool SetBuffer(unsigned lengthMs, std::uint8_t count) override;
    unsigned GetBufferBytes() const override { return bufBytes_; }
    unsigned GetBufferFrames() const override { return bufFrames_; }
    // The path of the file; refused while open. A device index is refused.
    using TAudioOut::SetDevice;
    bool SetDevice(const std::string& path) override;
    // Creates (or replaces) the file and writes the header; refused while open.
    bool Open() override;
    bool Close() override;
    bool Write(const void* data, std::size_t bytes) override;
    bool Reset() override { return true; }
    bool Pause() override { return true; }
    bool Restart() override { return true; }
    int GetNumDevs() override { return 1; }
    std::string GetDevName(int) override { return {}; }

    bool IsOpen() const { return fd_ >= 0; }
    const TWaveFormat& GetFormat() const { return format_; }
    const std::string& GetFileName() const { return fileName_; }

private:
    void Recompute();
    bool Fail(const char* what, int error);

    TWaveFormat format_;
    unsigned bufLength_ = 1000;
    unsigned bufBytes_ = 0;
    unsigned bufFrames_ = 0;
    int fd_ = -1;
    std::string fileName_;
    // Of the open file: where its header ends, the bytes of whole frames, and the sample
    // data written so far.
    std::uint32_t headerBytes_ = 0;
    std::uint16_t fileBlockAlign_ = 0;
    std::uint64_t dataBytes_ = 0;
    bool failed_ = false;
};

} // namespace vantrel
