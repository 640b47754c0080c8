// Hooks for tests of the sound layer; the show never calls them.
#pragma once

namespace fsound_debug {

// Stops (true) or restarts (false) the audio device's requests for samples, as a stalled or dead
// sound device would.
void pauseDevice(bool paused);

}  // namespace fsound_debug
