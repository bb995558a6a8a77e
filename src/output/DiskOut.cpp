#include "output/DiskOut.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <cstring>
#include <limits>
#include <vector>

namespace vantrel {

namespace {

// The RIFF sizes are 32-bit; no file may grow beyond what they describe.
constexpr std::uint64_t kMaxFileBytes = std::numeric_limits<std::uint32_t>::max();

// Writes everything or fails with errno set; a short write is continued, EINTR retried.
bool WriteAll(int fd, const std::uint8_t* data, std::size_t bytes, std::size_t& written)
{
    written = 0;
    while (written < bytes) {
        const ssize_t n = ::write(fd, data + written, bytes - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

bool PatchSize(int fd, off_t offset, std::uint32_t value)
{
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    std::size_t done = 0;
    while (done < sizeof bytes) {
        const ssize_t n = ::pwrite(fd, bytes + done, sizeof bytes - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void Append(std::vector<std::uint8_t>& out, const char* text)
{
    out.insert(out.end(), text, text + std::strlen(text));
}

void Append32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

} // namespace

TDiskOut::TDiskOut()
{
    format_ = MakePcmFormat(2, 16, 44100);
    bufLength_ = 1000;
    Recompute();
    name_ = "TDiskOut";
}

TDiskOut::~TDiskOut()
{
    Reset();
    Close();
}

void TDiskOut::Recompute()
{
    bufFrames_ = BufferFramesFor(static_cast<int>(format_.samplesPerSec), bufLength_);
    bufBytes_ = bufFrames_ * format_.blockAlign;
}

bool TDiskOut::SetFormat(int channels, int bits, int sampleRate)
{
    if (IsOpen())
        return false;
    format_ = MakePcmFormat(channels, bits, sampleRate);
    Recompute();
    return true;
}

bool TDiskOut::SetFormatEx(TWaveDataType type, bool extensible, int sampleRate, int channels, std::uint32_t channelMask)
{
    format_ = MakeFormatEx(type, extensible, sampleRate, channels, channelMask);
    Recompute();
    return true;
}

bool TDiskOut::SetBuffer(unsigned lengthMs, std::uint8_t /*count*/)
{
    if (IsOpen())
        return false;
    bufLength_ = lengthMs;
    Recompute();
    return true;
}

bool TDiskOut::SetDevice(const std::string& path)
{
    if (IsOpen())
        return false;
    fileName_ = path;
    return true;
}

bool TDiskOut::Open()
{
    if (IsOpen())
        return false;
    lastError_.clear();
    failed_ = false;
    dataBytes_ = 0;

    // The fmt chunk is the part of the record that the form uses.
    std::uint32_t fmtBytes = 16;
    if (format_.formatTag == kWaveFormatExtensible)
        fmtBytes = 40;
    else if (format_.formatTag == kWaveFormatIeeeFloat)
        fmtBytes = 18;
    headerBytes_ = 28 + fmtBytes;
    fileBlockAlign_ = format_.blockAlign;

    std::vector<std::uint8_t> header;
    header.reserve(headerBytes_);
    Append(header, "RIFF");
    Append32(header, headerBytes_ - 8);
    Append(header, "WAVEfmt ");
    Append32(header, fmtBytes);
    const auto record = format_.Bytes();
    header.insert(header.end(), record.begin(), record.begin() + fmtBytes);
    Append(header, "data");
    Append32(header, 0);

    const int fd = ::open(fileName_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        lastError_ = "cannot create " + fileName_ + ": " + ::strerror(errno);
        return false;
    }
    std::size_t written = 0;
    if (!WriteAll(fd, header.data(), header.size(), written)) {
        lastError_ = "cannot write the header of " + fileName_ + ": " + ::strerror(errno);
        ::close(fd);
        ::unlink(fileName_.c_str());
        return false;
    }
    fd_ = fd;
    return true;
}

bool TDiskOut::Fail(const char* what, int error)
{
    // The first failure is the cause; what follows from it adds nothing.
    if (!failed_) {
        lastError_ = std::string(what) + " " + fileName_;
        if (error != 0)
            lastError_ += std::string(": ") + ::strerror(error);
    }
    failed_ = true;
    // A partial frame at the end would shift every channel of a reader that trusts the
    // block align; cut the data back to whole frames.
    if (fd_ >= 0 && fileBlockAlign_ > 0) {
        const std::uint64_t whole = dataBytes_ - dataBytes_ % fileBlockAlign_;
        if (whole != dataBytes_ && ::ftruncate(fd_, static_cast<off_t>(headerBytes_ + whole)) == 0)
            dataBytes_ = whole;
    }
    return false;
}

bool TDiskOut::Write(const void* data, std::size_t bytes)
{
    if (!IsOpen() || failed_)
        return false;
    if (headerBytes_ + dataBytes_ + bytes > kMaxFileBytes)
        return Fail("the 4 GiB size limit of a WAV file is reached in", 0);
    std::size_t written = 0;
    const bool ok = WriteAll(fd_, static_cast<const std::uint8_t*>(data), bytes, written);
    const int error = errno;
    dataBytes_ += written;
    return ok || Fail("cannot write to", error);
}

bool TDiskOut::Close()
{
    if (!IsOpen())
        return false;
    const std::uint64_t fileBytes = headerBytes_ + dataBytes_;
    bool ok = !failed_;
    if (!PatchSize(fd_, 4, static_cast<std::uint32_t>(fileBytes - 8)) ||
        !PatchSize(fd_, headerBytes_ - 4, static_cast<std::uint32_t>(dataBytes_)))
        ok = Fail("cannot complete the header of", errno);
    // close reports errors that a network or delayed-allocation file system kept back.
    const int result = ::close(fd_);
    const int error = errno;
    fd_ = -1;
    if (result != 0 && error != EINTR)
        ok = Fail("cannot close", error);
    return ok;
}

} // namespace vantrel
