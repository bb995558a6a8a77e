#include "engine/KsCdPlayer.h"

#include <algorithm>
#include <cmath>

#include "drive/TrackInfo.h"
#include "dsp/WaveDataType.h"
#include "engine/WavFileName.h"

namespace vantrel {

namespace {

constexpr std::array<std::uint8_t, 16> kAnalogVolumes{255, 240, 224, 192, 128, 64, 32, 16, 15, 14, 12, 8, 4, 2, 1, 0};
// Attenuation of the digital volume steps 1..14, as powers of ten.
constexpr std::array<double, 14> kDigitalAttenuation{0.026, 0.056, 0.1225, 0.2975, 0.595, 0.89, 1.18,
                                                     1.205, 1.23,  1.295,  1.455,  1.71,  1.93, 2.105};
constexpr std::uint32_t kEngineEndWaitMs = 5000;
constexpr std::int64_t kNoUpperLimit = 2147483647;

std::int64_t FramesOf(TCdAddress address)
{
    return AddressToFrames(address);
}

} // namespace

TKsCdPlayer::TKsCdPlayer(Engines engines)
    : window_([this](const platform::Message& m) { WindowProc(m); }), engines_(std::move(engines))
{
    InitAnalogVol();
    InitDigitalVol();
}

TKsCdPlayer::~TKsCdPlayer()
{
    Stop();
    CmStop();
    for (int i = 0; i < kMaxDrives; ++i)
        Close(i);
}

// ---------------------------------------------------------------------------------
// Drives

int TKsCdPlayer::GetCdDrives()
{
    if (!engines_.drives)
        return 0;
    const int selector = NoAspi && NoSpti ? 5 : NoAspi ? 2 : NoSpti ? 1 : 0;
    const int count = engines_.drives->Scan(selector, AddNonLetteredDrives);
    for (int i = 0; i < std::min(count, kMaxDrives); ++i) {
        useSpti_[i] = engines_.drives->AspiAvail(i) ? false : engines_.drives->SptiAvailable();
        if (!engines_.drives->MciAvail(i) || NoMci)
            drive_[i].PlayMode = pmAnalog;
    }
    return count;
}

int TKsCdPlayer::GetDriveCount() const
{
    return engines_.drives ? engines_.drives->Count() : 0;
}

std::string TKsCdPlayer::GetDriveLetter(int index) const
{
    if (!engines_.drives || index < 0 || index >= engines_.drives->Count())
        return {};
    return engines_.drives->Letter(index);
}

int TKsCdPlayer::GetDriveIndex(const std::string& letter) const
{
    const int count = std::min(GetDriveCount(), kMaxDrives);
    for (int i = 0; i < count; ++i)
        if (engines_.drives->Letter(i) == letter)
            return i;
    return -1;
}

bool TKsCdPlayer::GetDriveLetters(std::vector<std::string>* list) const
{
    if (!list)
        return false;
    list->clear();
    for (int i = 0; i < GetDriveCount(); ++i)
        list->push_back(engines_.drives->Letter(i));
    return true;
}

bool TKsCdPlayer::GetAspiAvail() const
{
    return engines_.drives && engines_.drives->AspiLoaded();
}
bool TKsCdPlayer::GetSptiAvail() const
{
    return engines_.drives && engines_.drives->SptiAvailable();
}

bool TKsCdPlayer::GetAspiAvails(int index) const
{
    return ValidDrive(index) && index < GetDriveCount() && engines_.drives->AspiAvail(index);
}

bool TKsCdPlayer::GetSptiAvails(int index) const
{
    return ValidDrive(index) && index < GetDriveCount() && engines_.drives->SptiAvail(index);
}

bool TKsCdPlayer::GetMciAvails(int index) const
{
    return !NoMci && ValidDrive(index) && index < GetDriveCount() && engines_.drives->MciAvail(index);
}

bool TKsCdPlayer::GetUseSpti(int index) const
{
    return GetSptiAvails(index) && useSpti_[index];
}

void TKsCdPlayer::SetUseSpti(int index, bool value)
{
    if (ValidDrive(index) && !playing_ && GetAspiAvails(index) && GetSptiAvails(index))
        useSpti_[index] = value;
}

bool TKsCdPlayer::PickTransport(int index, Transport& transport) const
{
    if (GetAspiAvails(index) && !useSpti_[index]) {
        transport = Transport::Aspi;
        return true;
    }
    if (GetSptiAvails(index) && useSpti_[index]) {
        transport = Transport::Spti;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------
// Per-drive settings

#define VANTREL_PLAIN_ACCESSORS(name, type, def)                                                                       \
    type TKsCdPlayer::Get##name(int index) const                                                                       \
    {                                                                                                                  \
        return ValidDrive(index) ? drive_[index].name : type{};                                                        \
    }                                                                                                                  \
    void TKsCdPlayer::Set##name(int index, type value)                                                                 \
    {                                                                                                                  \
        if (ValidDrive(index))                                                                                         \
            drive_[index].name = value;                                                                                \
    }
VANTREL_PLAIN_DRIVE_SETTINGS(VANTREL_PLAIN_ACCESSORS)
#undef VANTREL_PLAIN_ACCESSORS

#define VANTREL_RULED_GETTER(name, type, def)                                                                          \
    type TKsCdPlayer::Get##name(int index) const                                                                       \
    {                                                                                                                  \
        return ValidDrive(index) ? drive_[index].name : type{};                                                        \
    }
VANTREL_RULED_DRIVE_SETTINGS(VANTREL_RULED_GETTER)
#undef VANTREL_RULED_GETTER

void TKsCdPlayer::SetPlayMode(int index, PlayModes mode)
{
    if (!ValidDrive(index))
        return;
    const bool scsi = GetAspiAvails(index) || GetSptiAvails(index);
    const bool mci = GetMciAvails(index);
    PlayModes stored;
    if (mode == pmAnalog || mode == pmDigital)
        stored = scsi ? mode : mci ? pmMci : pmNone;
    else
        stored = mci ? pmMci : scsi ? pmAnalog : pmNone;
    drive_[index].PlayMode = stored;
    if (stored == pmAnalog || stored == pmDigital)
        SetUseSpti(index, !GetAspiAvails(index));
}

void TKsCdPlayer::SetReadTocMode(int index, std::int32_t value)
{
    if (ValidDrive(index) && (value == 0 || value == 1))
        drive_[index].ReadTocMode = value;
}

void TKsCdPlayer::SetPreGapMode(int index, std::int32_t value)
{
    if (ValidDrive(index) && value >= 0 && value <= 2)
        drive_[index].PreGapMode = value;
}

void TKsCdPlayer::SetPreGapMethod(int index, std::int32_t value)
{
    if (ValidDrive(index) && value >= 0 && value <= 3)
        drive_[index].PreGapMethod = value;
}

void TKsCdPlayer::SetModeCmdType(int index, std::int32_t value)
{
    if (ValidDrive(index) && value <= 2)
        drive_[index].ModeCmdType = value;
}

void TKsCdPlayer::SetRipMethod(int index, RipMethods value)
{
    if (ValidDrive(index))
        drive_[index].RipMethod = value >= 5 ? RipMMC : value;
}

void TKsCdPlayer::SetOverlaps(int index, std::uint8_t value)
{
    if (ValidDrive(index) && value < drive_[index].ReadAtOnce)
        drive_[index].Overlaps = value;
}

void TKsCdPlayer::SetCompares(int index, std::uint8_t value)
{
    if (ValidDrive(index) && value <= drive_[index].Overlaps)
        drive_[index].Compares = value;
}

void TKsCdPlayer::SetGain(int index, std::int32_t value)
{
    if (ValidDrive(index) && value >= 0)
        drive_[index].Gain = value;
}

void TKsCdPlayer::SetCdgSyncEnabled(int index, bool value)
{
    if (ValidDrive(index))
        drive_[index].CdgSyncEnabled = value;
}

void TKsCdPlayer::SetCdgSyncOffset(int index, std::uint8_t value)
{
    if (ValidDrive(index) && (value == 1 || value == 2 || value == 4))
        drive_[index].CdgSyncOffset = value;
}

void TKsCdPlayer::SetTrack1Address(int index, std::int64_t frames)
{
    if (ValidDrive(index))
        track1Address_[index] = frames;
}

void TKsCdPlayer::SetLeadOut(int index, int session, std::int64_t frames)
{
    if (ValidDrive(index) && session >= 0 && session < 100)
        leadOuts_[index][session] = frames;
}

// ---------------------------------------------------------------------------------
// Volume tables

void TKsCdPlayer::InitAnalogVol()
{
    analogVol_ = kAnalogVolumes;
}

void TKsCdPlayer::InitDigitalVol()
{
    digitalVol_[0] = 1.0f;
    for (std::size_t step = 1; step <= kDigitalAttenuation.size(); ++step)
        digitalVol_[step] = static_cast<float>(std::pow(10.0, -kDigitalAttenuation[step - 1]));
    digitalVol_[15] = 0.0f;
}

void TKsCdPlayer::SetAnalogVol(const std::uint8_t table[16])
{
    std::copy_n(table, 16, analogVol_.begin());
}

void TKsCdPlayer::SetDigitalVol(const std::uint8_t table[16])
{
    for (int step = 0; step < 16; ++step)
        digitalVol_[step] = table[step] ? static_cast<float>(table[step] + 1) / 256.0f : 0.0f;
}

// ---------------------------------------------------------------------------------
// CD-audio devices

bool TKsCdPlayer::Open(int index)
{
    if (!ValidDrive(index) || NoMci)
        return false;
    if (deviceOpened_[index])
        return true;
    std::uint32_t id = 0;
    if (!engines_.cdAudio || !engines_.cdAudio->Open(GetDriveLetter(index), id))
        return false;
    engines_.cdAudio->SetTimeFormatMsf(id);
    deviceId_[index] = id;
    deviceOpened_[index] = true;
    return true;
}

bool TKsCdPlayer::Open(const std::string& letter)
{
    const int index = GetDriveIndex(letter);
    if (!ValidDrive(index))
        return false;
    if (deviceOpened_[index])
        return true;
    return GetMciAvails(index) && Open(index);
}

bool TKsCdPlayer::Close(int index)
{
    if (!ValidDrive(index) || !deviceOpened_[index])
        return false;
    DeleteDriveCheck(GetDriveLetter(index), true);
    if (engines_.cdAudio)
        engines_.cdAudio->Close(deviceId_[index]);
    deviceOpened_[index] = false;
    deviceId_[index] = 0;
    return true;
}

bool TKsCdPlayer::Close(const std::string& letter)
{
    return Close(GetDriveIndex(letter));
}

std::uint32_t TKsCdPlayer::GetDeviceID(int index) const
{
    return ValidDrive(index) ? deviceId_[index] : 0;
}
std::uint32_t TKsCdPlayer::GetDeviceID(const std::string& letter) const
{
    return GetDeviceID(GetDriveIndex(letter));
}
bool TKsCdPlayer::GetDeviceOpened(int index) const
{
    return ValidDrive(index) && deviceOpened_[index];
}

void TKsCdPlayer::SetDeviceOpened(int index, bool open)
{
    if (open)
        Open(index);
    else
        Close(index);
}

// ---------------------------------------------------------------------------------
// Current track and dispatch

void TKsCdPlayer::SetCurrentTrack(TTrackInfo* track)
{
    const int index = track ? GetDriveIndex(track->DriveLetter) : -1;
    if (!ValidDrive(index)) {
        ClearCurrentTrack();
        return;
    }
    track_ = track;
    currentDrive_ = index;
    currentMode_ = drive_[index].PlayMode;
    trackSet_ = true;
}

void TKsCdPlayer::ClearCurrentTrack()
{
    trackSet_ = false;
    track_ = nullptr;
    currentDrive_ = -1;
    currentMode_ = pmNone;
}

bool TKsCdPlayer::Play()
{
    if (!HasTrack())
        return false;
    Tag = currentMode_;
    return ByMode(&TKsCdPlayer::PlayMci, &TKsCdPlayer::PlayAnalog, &TKsCdPlayer::PlayDigital);
}

bool TKsCdPlayer::Stop()
{
    if (!HasTrack())
        return true;
    return StopByMode(true);
}

bool TKsCdPlayer::StopByMode(bool sendStopAnalog)
{
    switch (currentMode_.load()) {
    case pmMci:
        return StopMci();
    case pmAnalog:
        return StopAnalog(sendStopAnalog);
    case pmDigital:
        return StopDigital();
    default:
        return false;
    }
}

bool TKsCdPlayer::Pause()
{
    return HasTrack() && ByMode(&TKsCdPlayer::PauseMci, &TKsCdPlayer::PauseAnalog, &TKsCdPlayer::PauseDigital);
}

bool TKsCdPlayer::Seek(std::int32_t position)
{
    return HasTrack() &&
           ByMode(&TKsCdPlayer::SeekMci, &TKsCdPlayer::SeekAnalog, &TKsCdPlayer::SeekDigital, position);
}

bool TKsCdPlayer::SaveCurrnetPos()
{
    return HasTrack() && ByMode(&TKsCdPlayer::SaveCurrnetPosMci, &TKsCdPlayer::SaveCurrnetPosAnalog,
                                &TKsCdPlayer::SaveCurrnetPosDigital);
}

bool TKsCdPlayer::Delete()
{
    if (HasTrack() && playing_ && !Stop())
        return false;
    ClearCurrentTrack();
    return true;
}

bool TKsCdPlayer::StopDriveCheck(const std::string& letter, bool same)
{
    if (!HasTrack())
        return true;
    const bool current = letter == track_->DriveLetter;
    if (same == current) // this drive goes away, or another drive starts
        return StopByMode(true);
    switch (currentMode_.load()) {
    case pmAnalog:
    case pmDigital:
        // Removal of another drive: fine unless a start is under way. A new play on the
        // same drive: stop, leaving the drive spinning for it.
        return same ? !busy_ : StopByMode(false);
    default:
        return true;
    }
}

bool TKsCdPlayer::DeleteDriveCheck(const std::string& letter, bool same)
{
    if (!HasTrack())
        return true;
    const bool current = letter == track_->DriveLetter;
    if (same == current) {
        if (playing_ && !StopByMode(true))
            return false;
        ClearCurrentTrack();
        return true;
    }
    switch (currentMode_.load()) {
    case pmAnalog:
    case pmDigital:
        if (same)
            return !busy_;
        if (!StopByMode(false))
            return false;
        ClearCurrentTrack();
        return true;
    default:
        return true;
    }
}

bool TKsCdPlayer::TrayOperation(const std::string& letter, bool (TKsCdPlayer::*mci)(int),
                                bool (IDriveCommands::*command)(int, Transport))
{
    const int index = GetDriveIndex(letter);
    if (!ValidDrive(index))
        return false;
    Transport transport;
    switch (drive_[index].PlayMode) {
    case pmMci:
        return (this->*mci)(index);
    case pmAnalog:
    case pmDigital:
        return engines_.commands && PickTransport(index, transport) && (*engines_.commands.*command)(index, transport);
    default:
        return false;
    }
}

bool TKsCdPlayer::IsTrayLoaded(const std::string& letter)
{
    return TrayOperation(letter, &TKsCdPlayer::IsTrayLoadedMci, &IDriveCommands::IsTrayLoaded);
}

bool TKsCdPlayer::EjectTray(const std::string& letter)
{
    const int index = GetDriveIndex(letter);
    if (HasTrack() && ValidDrive(index) && currentDrive_ == index && playing_)
        Stop();
    return TrayOperation(letter, &TKsCdPlayer::EjectTrayMci, &IDriveCommands::EjectTray);
}

bool TKsCdPlayer::LoadTray(const std::string& letter)
{
    return TrayOperation(letter, &TKsCdPlayer::LoadTrayMci, &IDriveCommands::LoadTray);
}

void TKsCdPlayer::RaiseTimeCount(std::int32_t time)
{
    if (OnTimeCount)
        OnTimeCount(*this, time);
}

// ---------------------------------------------------------------------------------
// The CD-audio device path

bool TKsCdPlayer::PlayMci()
{
    if (!HasTrack() || !GetMciAvails(currentDrive_) || !engines_.cdAudio || !deviceOpened_[currentDrive_])
        return false;
    playing_ = false;
    paused_ = false;
    elapsed_ = 0;
    const std::uint32_t id = deviceId_[currentDrive_];
    engines_.cdAudio->SetTimeFormatMsf(id);
    const TCdAddress last = FramesToCdAddress(FramesOf(track_->EndAddress) - 1);
    if (!engines_.cdAudio->Play(id, track_->StartAddress, last, &window_))
        return false;
    elapsed_ = 0;
    RaiseTimeCount(0);
    suppressTime_ = false;
    paused_ = false;
    playing_ = true;
    track_->Played = true;
    return true;
}

bool TKsCdPlayer::StopMci()
{
    if (!HasTrack() || !GetMciAvails(currentDrive_) || !engines_.cdAudio)
        return false;
    playing_ = false;
    paused_ = false;
    if (deviceOpened_[currentDrive_])
        engines_.cdAudio->Stop(deviceId_[currentDrive_]);
    elapsed_ = 0;
    return true;
}

bool TKsCdPlayer::PauseMci()
{
    if (!HasTrack() || !GetMciAvails(currentDrive_) || !engines_.cdAudio || !deviceOpened_[currentDrive_])
        return false;
    const std::uint32_t id = deviceId_[currentDrive_];
    if (paused_) {
        const TCdAddress last = FramesToCdAddress(FramesOf(track_->EndAddress) - 1);
        engines_.cdAudio->Play(id, savedPosition_, last, &window_);
        elapsed_ = savedTime_.load();
        paused_ = false;
        return false;
    }
    TCdAddress position;
    if (!engines_.cdAudio->Position(id, position))
        return false;
    paused_ = true;
    const std::int64_t start = FramesOf(track_->StartAddress);
    std::int64_t at = FramesOf(position);
    if (drive_[currentDrive_].UseTimeOffset)
        at += drive_[currentDrive_].TimeOffset;
    savedTime_ = static_cast<std::int32_t>((at - start) * 1000 / kFramesPerSecond);
    savedPosition_ = drive_[currentDrive_].UseTimeOffset ? FramesToCdAddress(at) : position;
    engines_.cdAudio->Stop(id);
    return true;
}

bool TKsCdPlayer::SeekMci(std::int32_t position)
{
    if (!HasTrack() || !GetMciAvails(currentDrive_) || !engines_.cdAudio || !playing_)
        return false;
    const TCdAddress target = FramesToCdAddress(FramesOf(track_->StartAddress) + std::int64_t{position} * 75 / 100);
    if (!paused_) {
        const TCdAddress last = FramesToCdAddress(FramesOf(track_->EndAddress) - 1);
        engines_.cdAudio->Play(deviceId_[currentDrive_], target, last, &window_);
    }
    savedPosition_ = target;
    savedTime_ = position * 10;
    elapsed_ = position * 10.0;
    RaiseTimeCount(position * 10);
    return true;
}

bool TKsCdPlayer::SaveCurrnetPosMci()
{
    if (!HasTrack() || !GetMciAvails(currentDrive_) || !engines_.cdAudio || !playing_)
        return false;
    TCdAddress position;
    if (!engines_.cdAudio->Position(deviceId_[currentDrive_], position))
        return false;
    const TDriveSettings& drive = drive_[currentDrive_];
    savedPosition_ = drive.UseTimeOffset ? FramesToCdAddress(FramesOf(position) + drive.TimeOffset) : position;
    return true;
}

namespace {
// Opens the drive's device for one tray operation unless it is open, and closes it again.
template <class Operation>
bool WithCdAudio(ICdAudio* cdAudio, const std::string& letter, bool opened, std::uint32_t openId, Operation op)
{
    if (!cdAudio)
        return false;
    std::uint32_t id = openId;
    if (!opened && !cdAudio->Open(letter, id))
        return false;
    const bool result = op(*cdAudio, id);
    if (!opened)
        cdAudio->Close(id);
    return result;
}
} // namespace

bool TKsCdPlayer::IsTrayLoadedMci(int index)
{
    if (!GetMciAvails(index))
        return false;
    return WithCdAudio(engines_.cdAudio.get(), GetDriveLetter(index), deviceOpened_[index], deviceId_[index],
                       [](ICdAudio& cd, std::uint32_t id) {
                           bool open = false;
                           return cd.IsDoorOpen(id, open) && !open;
                       });
}

bool TKsCdPlayer::EjectTrayMci(int index)
{
    if (!GetMciAvails(index))
        return false;
    return WithCdAudio(engines_.cdAudio.get(), GetDriveLetter(index), deviceOpened_[index], deviceId_[index],
                       [](ICdAudio& cd, std::uint32_t id) { return cd.SetDoor(id, true); });
}

bool TKsCdPlayer::LoadTrayMci(int index)
{
    if (!GetMciAvails(index))
        return false;
    return WithCdAudio(engines_.cdAudio.get(), GetDriveLetter(index), deviceOpened_[index], deviceId_[index],
                       [](ICdAudio& cd, std::uint32_t id) { return cd.SetDoor(id, false); });
}

// ---------------------------------------------------------------------------------
// What the analog and the digital path share around their engine's calls

bool TKsCdPlayer::StartEngine(const std::function<bool()>& start)
{
    busy_ = true;  // until the engine's thread says it runs
    suppressTime_ = false;
    if (!start()) {
        busy_ = false;
        paused_ = false;
        playing_ = false;
        return false;
    }
    elapsed_ = 0;
    RaiseTimeCount(0);
    paused_ = false;
    playing_ = true;
    track_->Played = true;
    return true;
}

bool TKsCdPlayer::StopEngine(bool available, const std::function<bool()>& stop)
{
    if (!HasTrack())
        return true;
    if (busy_ || !available)
        return false;
    suppressTime_ = true;
    if (!stop()) {
        suppressTime_ = false;
        return false;
    }
    playing_ = false;
    paused_ = false;
    elapsed_ = 0;
    suppressTime_ = false;
    return true;
}

bool TKsCdPlayer::PauseEngine(bool available, const std::function<void()>& resume,
                              const std::function<void()>& pause)
{
    if (!HasTrack() || busy_ || !available)
        return false;
    if (paused_) {
        resume();
        elapsed_ = savedTime_.load();
        paused_ = false;
    } else {
        pause();
        savedTime_ = static_cast<std::int32_t>(std::floor(elapsed_.load()));
        paused_ = true;
    }
    return paused_;
}

bool TKsCdPlayer::SeekEngine(bool available, std::int32_t position, const std::function<bool(std::int64_t)>& seek)
{
    if (!HasTrack() || busy_ || !playing_ || !available)
        return false;
    suppressTime_ = true;  // until the engine reports the new position
    if (!seek(std::int64_t{position} * 75 / 100)) {
        suppressTime_ = false;
        return false;
    }
    savedTime_ = position * 10;
    return true;
}

// ---------------------------------------------------------------------------------
// The analog path

bool TKsCdPlayer::PlayAnalog()
{
    IAnalogEngine* analog = engines_.analog.get();
    if (!HasTrack() || busy_ || !ValidDrive(currentDrive_) || !analog)
        return false;
    if (!analog->WaitIdle() || !analog->WaitThread(kEngineEndWaitMs))
        return false;
    elapsed_ = 0;
    playing_ = false;
    paused_ = false;

    const TDriveSettings& drive = drive_[currentDrive_];
    analog->SetNotify(&TKsCdPlayer::DcdInProc, this);
    analog->SetFirstWait(drive.AWaitFirst);
    analog->SetInterval(drive.AInterval);
    analog->SetCdg(CdgEnabled && drive.ACdgEnabled);
    analog->SetCdgReadAtOnce(drive.ACdgReadAtOnce);
    analog->SetCdgDispAtOnce(drive.ACdgDispAtOnce);
    analog->SetModeCmdType(drive.ModeCmdType);
    analog->SetSwap(drive.ASwapChannels);
    analog->SetStereo(stereoMode_);
    analog->SetVolumes(analogVol_[leftVolume_], analogVol_[rightVolume_]);

    Transport transport;
    if (!PickTransport(currentDrive_, transport))
        return false;
    analog->SetDrive(currentDrive_, transport, FramesOf(track_->StartAddress), FramesOf(track_->EndAddress));

    return StartEngine([&] { return analog->Start(); });
}

bool TKsCdPlayer::StopAnalog(bool sendStop)
{
    IAnalogEngine* analog = engines_.analog.get();
    return StopEngine(analog != nullptr, [&] { return analog->Stop(sendStop); });
}

bool TKsCdPlayer::PauseAnalog()
{
    IAnalogEngine* analog = engines_.analog.get();
    return PauseEngine(analog != nullptr, [&] { analog->Resume(); }, [&] { analog->Pause(); });
}

bool TKsCdPlayer::SeekAnalog(std::int32_t position)
{
    IAnalogEngine* analog = engines_.analog.get();
    return SeekEngine(analog != nullptr, position, [&](std::int64_t frames) { return analog->Seek(frames); });
}

bool TKsCdPlayer::SaveCurrnetPosAnalog()
{
    Transport transport;
    if (!HasTrack() || !engines_.commands || !PickTransport(currentDrive_, transport))
        return false;
    TCdAddress relative;
    if (!engines_.commands->ReadTrackPosition(currentDrive_, transport, relative))
        return false;
    savedPosition_ = TCdAddress{0, relative.minute, relative.second, relative.frame};
    return true;
}

// ---------------------------------------------------------------------------------
// The digital path

void TKsCdPlayer::ConfigureDigitalOutput(IDigitalEngine& digital)
{
    digital.SetInternalFormat(InternalTypeFromList(outputInternalFormat_));
    if (DiskWriterEnable) {
        digital.SetOutputKind(3);
        diskWriterFile_ = MakeWavFileName(DiskWriterRootDir, track_->AlbumTitle, track_->Title);
        digital.SetFileName(diskWriterFile_);
        digital.SetOutputFormat(OutputTypeFromList(outputDiskOutputFormat_), outputDiskOutputExtensible_);
        digital.SetAc3(false, false);
        digital.SetAsio(0, 0, 0, false);
        return;
    }
    switch (outputMode_) {
    case 1:
        digital.SetOutputKind(1);
        digital.SetDevice(outputDxDevIndex_);
        digital.SetOutputFormat(OutputTypeFromList(outputDxOutputFormat_), outputDxOutputExtensible_);
        break;
    case 2:
        digital.SetOutputKind(2);
        digital.SetDevice(outputAsioDevIndex_);
        digital.SetOutputFormat(OutputTypeFromList(outputAsioOutputFormat_), false);
        digital.SetAsio(outputAsioBufSize_, outputAsioChShift_, asioPriority_, outputAsioDirectMonitor_);
        break;
    default:
        digital.SetOutputKind(0);
        digital.SetDevice(outputWaveDevIndex_);
        digital.SetOutputFormat(OutputTypeFromList(outputWaveOutputFormat_), outputWaveOutputExtensible_);
        digital.SetAc3(outputWaveAc3Enabled_, outputWaveAc3Force48k_);
        break;
    }
}

bool TKsCdPlayer::PlayDigital()
{
    IDigitalEngine* digital = engines_.digital.get();
    if (!HasTrack() || !ValidDrive(currentDrive_) || busy_ || !digital)
        return false;
    if (!digital->WaitIdle(kEngineEndWaitMs))
        return false;
    const TDriveSettings& drive = drive_[currentDrive_];
    if (drive.ForceAccess)
        ForceDiscAccess();

    const std::int64_t start = FramesOf(track_->StartAddress);
    const std::int64_t end = FramesOf(track_->EndAddress);
    digital->SetNotify(&TKsCdPlayer::DcdInProc, this);
    ConfigureDigitalOutput(*digital);

    digital->SetBuffers(drive.BufLength, drive.NumBuffers);
    digital->SetPriority(playPriority_);
    digital->SetRipMethod(drive.RipMethod);
    digital->SetSubCodeMode(drive.SubCodeMode);
    digital->SetSyncHeadPos(drive.SyncHeadPos);
    digital->SetMuteGap(drive.MuteGap);
    digital->SetReadAtOnce(drive.ReadAtOnce);
    digital->SetOverlaps(drive.Overlaps, drive.Compares);
    digital->SetOffset(drive.OffsetSamples);

    std::int64_t lowest = drive.MinSector;
    const std::int64_t track1 = track1Address_[currentDrive_];
    if (drive.MinSectorIsTrack1 && (drive.MinSectorIsTrack1Min == 0 || track1 > drive.MinSectorIsTrack1Min))
        lowest = track1;
    digital->SetMinFrame(lowest);

    std::int64_t highest = kNoUpperLimit;
    switch (drive.MaxSectorMode) {
    case 1:
        highest = leadOuts_[currentDrive_][0];
        break;
    case 2:
        highest = leadOuts_[currentDrive_][track_->Session < 100 ? track_->Session : 0];
        break;
    case 3:
        highest = drive.MaxSector;
        break;
    default:
        break;
    }
    digital->SetMaxFrame(highest);

    digital->SetReadSpeedEnabled(drive.ReadSpeedEnabled);
    digital->SetReadSpeed(drive.ReadSpeed);
    digital->SetWaitTime(drive.WaitTime);
    digital->SetSpinUpTime(drive.SpinUpTime);
    digital->SetModeCmdType(drive.ModeCmdType);
    digital->SetCdg(CdgEnabled);
    digital->SetRs(RsEnabled);
    digital->SetCdgSync(drive.CdgSyncEnabled);
    digital->SetCdgSyncOffset(drive.CdgSyncOffset);

    Transport transport;
    if (!PickTransport(currentDrive_, transport))
        return false;
    digital->SetDrive(currentDrive_, transport, start, end);

    digital->SetGain(drive.Gain);
    digital->SetDeEmphasis(DeEmphasize && track_->PreEmphasis);
    digital->SetVolumes(digitalVol_[leftVolume_], digitalVol_[rightVolume_]);
    digital->SetStereo(stereoMode_);
    digital->SetReverse(reverse_);
    TNormParams norm = norm_;
    norm.enabled = norm_.enabled && drive.UseNormalizer;
    digital->SetNormalizer(norm);

    return StartEngine([&] { return digital->Start(); });
}

bool TKsCdPlayer::StopDigital()
{
    IDigitalEngine* digital = engines_.digital.get();
    return StopEngine(digital != nullptr, [&] { return digital->Stop(); });
}

bool TKsCdPlayer::PauseDigital()
{
    IDigitalEngine* digital = engines_.digital.get();
    return PauseEngine(digital != nullptr, [&] { digital->Resume(); }, [&] { digital->Pause(); });
}

bool TKsCdPlayer::SeekDigital(std::int32_t position)
{
    IDigitalEngine* digital = engines_.digital.get();
    return SeekEngine(digital != nullptr, position, [&](std::int64_t frames) { return digital->Seek(frames); });
}

bool TKsCdPlayer::ForceDiscAccess()
{
    Transport transport;
    if (!engines_.commands || !PickTransport(currentDrive_, transport))
        return false;
    return engines_.commands->PlayRange(currentDrive_, transport, kLeadInFrames, kLeadInFrames + 1);
}

int TKsCdPlayer::GetReadSppeds(int index, int size, std::uint32_t* speeds)
{
    Transport transport;
    if (!ValidDrive(index) || !engines_.commands || !PickTransport(index, transport))
        return 0;
    return engines_.commands->GetReadSpeeds(index, transport, drive_[index].ModeCmdType, size, speeds);
}

// ---------------------------------------------------------------------------------
// Settings handed on to the engines

bool TKsCdPlayer::SetVolume(int left, int right)
{
    const auto l = static_cast<std::uint8_t>(left & 15);
    const auto r = static_cast<std::uint8_t>(right & 15);
    bool accepted = true;
    if (currentMode_ == pmAnalog)
        accepted = engines_.analog && engines_.analog->SetVolumes(analogVol_[l], analogVol_[r]);
    else if (currentMode_ == pmDigital)
        accepted = engines_.digital && engines_.digital->SetVolumes(digitalVol_[l], digitalVol_[r]);
    if (accepted) {
        leftVolume_ = l;
        rightVolume_ = r;
    }
    return accepted;
}

void TKsCdPlayer::SetStereoMode(int mode)
{
    if (mode < 0 || mode > 4)
        return;
    const auto stereo = static_cast<StereoModes>(mode);
    bool accepted = true;
    if (currentMode_ == pmAnalog)
        accepted = engines_.analog && engines_.analog->SetStereo(stereo);
    else if (currentMode_ == pmDigital)
        accepted = engines_.digital && engines_.digital->SetStereo(stereo);
    if (accepted)
        stereoMode_ = stereo;
}

void TKsCdPlayer::SetSpeed(int code)
{
    if (!IsSpeedCode(code))
        return;
    // The free ratio is kept whatever the engine says, but the engine must still hear of it:
    // without the code it never leaves its fixed step for the SetSpeedEx ratio.
    if (code == kSpeedFree)
        speed_ = code;
    if (!engines_.digital)
        return;
    if (code == kSpeedRandom)
        engines_.digital->SetRandomSpeed(maxSpeed_, minSpeed_, speedInterval_);
    if (engines_.digital->SetSpeed(code))
        speed_ = code;
}

void TKsCdPlayer::SetMaxSpeed(int code)
{
    if (code >= -2 && code <= 10)
        maxSpeed_ = code;
}

void TKsCdPlayer::SetMinSpeed(int code)
{
    if (code >= -2 && code <= 10)
        minSpeed_ = code;
}

void TKsCdPlayer::SetSpeedChangeInterval(int interval)
{
    if (interval > 0)
        speedInterval_ = interval;
}

bool TKsCdPlayer::SetSpeedEx(double ratio)
{
    return engines_.digital && engines_.digital->SetSpeedEx(ratio);
}

void TKsCdPlayer::SetReverse(bool reverse)
{
    if (engines_.digital && engines_.digital->SetReverse(reverse))
        reverse_ = reverse;
}

void TKsCdPlayer::SetNormParams(bool enabled, std::uint32_t blockSizeMilli, std::uint32_t avgVolume,
                                std::uint32_t compRatio1, std::uint32_t compRatio2, std::uint32_t maxComp,
                                std::uint32_t gain, bool avgVolFromPeak, std::uint32_t avgVolFromVal)
{
    norm_ = TNormParams{enabled, blockSizeMilli, avgVolume,      compRatio1,   compRatio2,
                        maxComp, gain,           avgVolFromPeak, avgVolFromVal};
    if (!ValidDrive(currentDrive_) || !engines_.digital)
        return;
    TNormParams handed = norm_;
    handed.enabled = enabled && drive_[currentDrive_].UseNormalizer;
    engines_.digital->SetNormalizer(handed);
}

float TKsCdPlayer::GetEqLevel()
{
    return engines_.digital ? engines_.digital->GetEqLevel() : 0.0f;
}
void TKsCdPlayer::SetEqLevel(float level)
{
    if (engines_.digital)
        engines_.digital->SetEqLevel(level);
}
int TKsCdPlayer::GetEqBalance()
{
    return engines_.digital ? engines_.digital->GetEqBalance() : 0;
}
void TKsCdPlayer::SetEqBalance(int balance)
{
    if (engines_.digital)
        engines_.digital->SetEqBalance(balance);
}
void TKsCdPlayer::SetEqParams(int band, float gain, float q, float frequency)
{
    if (engines_.digital)
        engines_.digital->SetEqParams(band, gain, q, frequency);
}
bool TKsCdPlayer::GetEquEnabled()
{
    return engines_.digital && engines_.digital->GetEqEnabled();
}
void TKsCdPlayer::SetEqEnabled(bool on)
{
    if (engines_.digital)
        engines_.digital->SetEqEnabled(on);
}

// ---------------------------------------------------------------------------------
// Timer, notifications and the hidden window

bool TKsCdPlayer::CmStart()
{
    if (!timer_.Running())
        timer_.Start(interval_, [this] { TimerProc(); });
    return timer_.Running();
}

bool TKsCdPlayer::CmStop()
{
    if (!timer_.Running())
        return false;
    timer_.Stop();
    return true;
}

void TKsCdPlayer::SetInterval(std::uint32_t ms)
{
    interval_ = ms == 0 ? 10 : ms;
    if (timer_.Running()) {
        timer_.Stop();
        timer_.Start(interval_, [this] { TimerProc(); });
    }
}

std::int32_t TKsCdPlayer::GetTime() const
{
    const double elapsed = elapsed_.load();
    return elapsed < 0 ? 0 : static_cast<std::int32_t>(std::floor(elapsed));
}

void TKsCdPlayer::TimerProc()
{
    if (!playing_ || paused_ || !trackSet_)
        return;
    const double interval = interval_.load();
    double increment = 0;
    switch (currentMode_.load()) {
    case pmMci:
        increment = interval;
        break;
    case pmAnalog:
        increment = busy_ ? 0.0 : interval;
        break;
    case pmDigital:
        increment = busy_ ? 0.0 : interval * speedRatio_.load() * direction_.load();
        break;
    default:
        break;
    }
    elapsed_ = elapsed_.load() + increment; // only this thread adds; the others set
    if (!suppressTime_)
        RaiseTimeCount(GetTime());
}

void TKsCdPlayer::DcdInProc(int code, std::intptr_t param, void* context)
{
    auto& self = *static_cast<TKsCdPlayer*>(context);
    switch (code) {
    case dnError:
    case dnEnd:
        self.busy_ = false;
        self.playing_ = false;
        self.window_.Post(platform::MM_MCINOTIFY, code == dnEnd ? ICdAudio::Successful : ICdAudio::Failure);
        break;
    case dnPosition:
        self.elapsed_ = static_cast<double>(param * 1000 / kFramesPerSecond);
        if (self.paused_)
            self.savedTime_ = static_cast<std::int32_t>(param * 1000 / kFramesPerSecond);
        self.suppressTime_ = false;
        break;
    case dnRunning:
        self.busy_ = false;
        break;
    case dnCdgCount:
        self.pendingCdg_ = static_cast<std::int32_t>(param);
        break;
    case dnCdgPacks:
        if (const std::int32_t count = self.pendingCdg_.exchange(0); count > 0 && param) {
            self.CdgBuffer.Put(reinterpret_cast<const std::uint8_t*>(param), static_cast<std::size_t>(count));
            self.window_.Post(platform::WM_APP + 2);
        }
        break;
    case dnCdgClear:
        self.CdgBuffer.ClearPacks();
        break;
    case dnSpeedRatio:
        if (param)
            self.speedRatio_ = *reinterpret_cast<const float*>(param);
        break;
    case dnDirection:
        self.direction_ = param ? -1.0 : 1.0;
        break;
    default:
        break;
    }
}

void TKsCdPlayer::WindowProc(const platform::Message& message)
{
    switch (message.msg) {
    case platform::WM_DEVICECHANGE: {
        const bool arrival = message.wParam == platform::DBT_DEVICEARRIVAL;
        const bool removal = message.wParam == platform::DBT_DEVICEREMOVECOMPLETE;
        if ((!arrival && !removal) || platform::BroadcastDeviceType(message.lParam) != platform::DBT_DEVTYP_VOLUME ||
            !OnDiscChange)
            return;
        const std::uint32_t mask = platform::BroadcastUnitMask(message.lParam);
        std::string letter;
        for (int bit = 0; bit < kMaxDrives; ++bit)
            if (mask & (1u << bit)) {
                letter = {static_cast<char>('A' + bit), ':'};
                break;
            }
        OnDiscChange(*this, letter, arrival);
        return;
    }
    case platform::MM_MCINOTIFY:
        if (message.wParam == ICdAudio::Successful) {
            playing_ = false;
            if (OnPlayEnd)
                OnPlayEnd(*this);
        } else if (message.wParam == ICdAudio::Failure) {
            playing_ = false;
            if (OnPlayError)
                OnPlayError(*this);
        }
        return;
    case platform::WM_APP + 2:
        if (OnCdgRead)
            OnCdgRead(*this, CdgBuffer);
        return;
    default:
        return;
    }
}

} // namespace vantrel
