// A private PulseAudio daemon with a null sink for sound tests, and a recorder of that
// sink's monitor. The daemon runs in its own folder; ALSA's "pulse" device and the
// recorder reach it through PULSE_SERVER, which the fixture sets for this process.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/TempDir.h"

extern char** environ;

namespace vantrel::testing {

// One child process, killed and reaped with the object.
class Child {
public:
    Child() = default;
    explicit Child(std::vector<std::string> argv, const std::string& out = "/dev/null")
    {
        std::vector<char*> args;
        for (std::string& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    Child(Child&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }
    Child& operator=(Child&& other) noexcept
    {
        Stop();
        pid_ = other.pid_;
        other.pid_ = -1;
        return *this;
    }
    ~Child() { Stop(); }
    bool Running() const { return pid_ > 0; }
    void Stop(int signal = SIGTERM)
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, signal);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

inline bool CommandSucceeds(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

class PulseServer {
public:
    PulseServer()
    {
        if (!CommandSucceeds("command -v pulseaudio") || !CommandSucceeds("command -v parec"))
            return;
        const std::string d = dir_.Path().string();
        ::setenv("XDG_RUNTIME_DIR", d.c_str(), 1);
        ::setenv("PULSE_SERVER", ("unix:" + d + "/native").c_str(), 1);
        ::setenv("PULSE_COOKIE", (d + "/cookie").c_str(), 1);
        daemon_ = Child({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                         "--disable-shm=yes", "-L",
                         "module-null-sink sink_name=test rate=44100 channels=2 format=s16le norewinds=1", "-L",
                         "module-native-protocol-unix auth-anonymous=1 socket=" + d + "/native"});
        for (int i = 0; i < 100 && !ready_; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ready_ = CommandSucceeds("pactl info");
        }
    }
    bool Ready() const { return ready_; }

    // Records the sink's monitor (16-bit stereo, 44100 Hz) into a file until Stop.
    class Recording {
    public:
        explicit Recording(const std::string& file)
            : file_(file), recorder_({"parec", "-d", "test.monitor", "--format=s16le", "--rate=44100",
                                      "--channels=2", "--raw", "--latency-msec=20"},
                                     file)
        {
            // Recording has begun once silence starts arriving.
            for (int i = 0; i < 100 && FileSize() == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        void Stop() { recorder_.Stop(SIGINT); }
        std::vector<std::uint32_t> Frames() const
        {
            const std::string bytes = TempDir::Read(file_);
            std::vector<std::uint32_t> frames(bytes.size() / 4);
            std::memcpy(frames.data(), bytes.data(), frames.size() * 4);
            return frames;
        }

    private:
        std::uintmax_t FileSize() const
        {
            std::error_code ec;
            const auto size = std::filesystem::file_size(file_, ec);
            return ec ? 0 : size;
        }
        std::string file_;
        Child recorder_;
    };

    std::string File(const std::string& name) const { return dir_.File(name); }

private:
    TempDir dir_;
    Child daemon_;
    bool ready_ = false;
};

}  // namespace vantrel::testing
