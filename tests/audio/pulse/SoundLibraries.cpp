// The sound libraries under the sanitizers, for a test program that runs
// PortAudio in process (see SoundLibraries.h).
#include <dlfcn.h>

#include "SoundLibraries.h"

// ALSA loads every PCM plugin it knows while PortAudio probes the devices,
// and unloads them again; what they allocated for the life of the process
// then reads as leaked, from a library the leak checker can no longer name.
// This program keeps every library it loads.
extern "C" int dlclose(void*) noexcept { return 0; }

// Read by ThreadSanitizer at start-up, when the program is built with it.
extern "C" const char* __tsan_default_suppressions();
extern "C" const char* __tsan_default_suppressions() { return tv::test::kSoundLibraryRaces; }
