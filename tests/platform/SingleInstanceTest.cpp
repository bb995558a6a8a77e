#include "platform/SingleInstance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

extern char** environ;

namespace vantrel::platform {
namespace {

// A fresh folder per test so parallel runs never share a lock.
class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vantrel-lock-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string folder_;
};

// Another process holding the lock until it is killed.
class Holder {
public:
    Holder(const std::string& name, const std::string& folder)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::string program = SINGLE_INSTANCE_HOLDER;
        char* argv[] = {program.data(), const_cast<char*>(name.c_str()), const_cast<char*>(folder.c_str()), nullptr};
        if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        char line[16] = {};
        std::size_t got = 0;
        while (got < sizeof line - 1) {
            const ssize_t n = ::read(fds[0], line + got, 1);
            if (n <= 0 || line[got] == '\n')
                break;
            got += static_cast<std::size_t>(n);
        }
        ::close(fds[0]);
        answer_.assign(line, got);
    }
    ~Holder() { Kill(); }
    void Kill()
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    const std::string& Answer() const { return answer_; }

private:
    pid_t pid_ = -1;
    std::string answer_;
};

TEST_F(SingleInstanceTest, SecondHolderInThisProcessIsRefusedUntilTheFirstIsGone)
{
    auto first = std::make_unique<SingleInstance>("MORVANE_QVPLAYER", folder_);
    ASSERT_TRUE(first->Acquired());
    EXPECT_FALSE(SingleInstance("MORVANE_QVPLAYER", folder_).Acquired());
    EXPECT_TRUE(SingleInstance("OTHER_NAME", folder_).Acquired());
    first.reset();
    EXPECT_TRUE(SingleInstance("MORVANE_QVPLAYER", folder_).Acquired());
}

TEST_F(SingleInstanceTest, RefusedWhileAnotherProcessHoldsItAndFreeOnceItIsKilled)
{
    Holder holder("MORVANE_QVPLAYER", folder_);
    ASSERT_EQ(holder.Answer(), "held");
    EXPECT_FALSE(SingleInstance("MORVANE_QVPLAYER", folder_).Acquired());

    Holder second("MORVANE_QVPLAYER", folder_);
    EXPECT_EQ(second.Answer(), "refused");

    holder.Kill();
    SingleInstance mine("MORVANE_QVPLAYER", folder_);
    EXPECT_TRUE(mine.Acquired());
    EXPECT_EQ(mine.Path(), folder_ + "/MORVANE_QVPLAYER.lock");
}

TEST_F(SingleInstanceTest, UnusableFolderIsNotAcquired)
{
    EXPECT_FALSE(SingleInstance("MORVANE_QVPLAYER", folder_ + "/missing").Acquired());
}

} // namespace
} // namespace vantrel::platform
