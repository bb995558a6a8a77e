// Thread priorities as the player's settings name them (-2..2 and 15 for time
// critical), applied to the calling thread as well as the system allows.
#pragma once

namespace vantrel::platform {

// Best effort: false when the system refused (for example raising priority without
// the privilege); the thread then simply keeps running at its old priority.
bool SetCurrentThreadPriority(int priority);

} // namespace vantrel::platform
