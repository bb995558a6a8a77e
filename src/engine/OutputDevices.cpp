// The sound-device lists the player component shows: one enumerator per output kind for
// the whole process, asked under a lock so any window may ask at any time.
#include <mutex>

#include "engine/KsCdPlayer.h"
#include "output/WaveOut.h"

namespace vantrel {

namespace {
std::mutex& EnumeratorLock()
{
    static std::mutex lock;
    return lock;
}
TWaveOut& WaveOutEnumerator()
{
    static TWaveOut enumerator;
    return enumerator;
}
}  // namespace

int TKsCdPlayer::GetWaveOutNumDevs()
{
    std::scoped_lock lock(EnumeratorLock());
    return WaveOutEnumerator().GetNumDevs();
}

std::string TKsCdPlayer::GetWaveOutDevName(int index)
{
    std::scoped_lock lock(EnumeratorLock());
    WaveOutEnumerator().GetNumDevs();
    return WaveOutEnumerator().GetDevName(index);
}

}  // namespace vantrel
