// A player component over test doubles: four drives of different abilities and one
// track on the first.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "EngineMocks.h"
#include "drive/TrackInfo.h"
#include "engine/KsCdPlayer.h"

namespace vantrel::testing {

using ::testing::NiceMock;
using ::testing::Return;

class PlayerTest : public ::testing::Test {
protected:
    // D: offers everything, E: SCSI through ASPI only, F: the CD-audio device only, G: nothing.
    PlayerTest()
        : PlayerTest({{"D:", true, true, true},
                      {"E:", false, true, false},
                      {"F:", true, false, false},
                      {"G:", false, false, false}})
    {
    }
    explicit PlayerTest(std::vector<FakeDriveList::Drive> drives)
    {
        auto list = std::make_unique<FakeDriveList>(std::move(drives));
        auto commandsMock = std::make_unique<NiceMock<MockDriveCommands>>();
        auto cdMock = std::make_unique<NiceMock<MockCdAudio>>();
        auto analogMock = std::make_unique<NiceMock<MockAnalogEngine>>();
        auto digitalMock = std::make_unique<NiceMock<MockDigitalEngine>>();
        driveList = list.get();
        commands = commandsMock.get();
        cd = cdMock.get();
        analog = analogMock.get();
        digital = digitalMock.get();

        ON_CALL(*digital, WaitIdle).WillByDefault(Return(true));
        ON_CALL(*digital, Start).WillByDefault(Return(true));
        ON_CALL(*digital, Stop).WillByDefault(Return(true));
        ON_CALL(*digital, Pause).WillByDefault(Return(true));
        ON_CALL(*digital, Resume).WillByDefault(Return(true));
        ON_CALL(*digital, Seek).WillByDefault(Return(true));
        ON_CALL(*digital, SetVolumes).WillByDefault(Return(true));
        ON_CALL(*digital, SetStereo).WillByDefault(Return(true));
        ON_CALL(*digital, SetSpeed).WillByDefault(Return(true));
        ON_CALL(*digital, SetReverse).WillByDefault(Return(true));
        ON_CALL(*analog, WaitIdle).WillByDefault(Return(true));
        ON_CALL(*analog, WaitThread).WillByDefault(Return(true));
        ON_CALL(*analog, Start).WillByDefault(Return(true));
        ON_CALL(*analog, Stop).WillByDefault(Return(true));
        ON_CALL(*analog, Seek).WillByDefault(Return(true));
        ON_CALL(*analog, SetVolumes).WillByDefault(Return(true));
        ON_CALL(*analog, SetStereo).WillByDefault(Return(true));
        ON_CALL(*cd, Open).WillByDefault([](const std::string&, std::uint32_t& id) {
            id = 7;
            return true;
        });
        ON_CALL(*cd, Play).WillByDefault(Return(true));
        ON_CALL(*cd, Stop).WillByDefault(Return(true));

        player = std::make_unique<TKsCdPlayer>(TKsCdPlayer::Engines{std::move(list), std::move(commandsMock),
                                                                    std::move(cdMock), std::move(analogMock),
                                                                    std::move(digitalMock)});
        player->GetCdDrives();

        track.DriveLetter = "D:";
        track.AlbumTitle = "Album";
        track.Title = "Title";
        track.StartAddress = TCdAddress{0, 0, 2, 0};
        track.EndAddress = TCdAddress{0, 3, 0, 0};
    }

    // Sets drive D:'s mode, makes the track current and starts it.
    bool StartOn(PlayModes mode)
    {
        player->SetPlayMode(0, mode);
        player->SetCurrentTrack(&track);
        if (mode == pmMci)
            player->Open(0);
        return player->Play();
    }

    FakeDriveList* driveList = nullptr;
    MockDriveCommands* commands = nullptr;
    MockCdAudio* cd = nullptr;
    MockAnalogEngine* analog = nullptr;
    MockDigitalEngine* digital = nullptr;
    std::unique_ptr<TKsCdPlayer> player;
    TTrackInfo track;
};

} // namespace vantrel::testing
