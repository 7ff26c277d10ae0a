// A library posing as the audio library that exports every entry point the
// output needs but one (alSourceUnqueueBuffers): loading it must be refused.
// None of these is ever called.  Built with BLOCKING_DEVICE, it has every
// entry point, and its alcOpenDevice blocks for good, as a sound back end
// stuck on a lock left by a killed process does.

#include <unistd.h>

#define STUB(name) extern "C" void name(void) {}

STUB(alEnable) STUB(alDisable) STUB(alIsEnabled) STUB(alGetBoolean) STUB(alGetInteger) STUB(alGetFloat)
STUB(alGetDouble) STUB(alGetBooleanv) STUB(alGetIntegerv) STUB(alGetFloatv) STUB(alGetDoublev)
STUB(alGetString) STUB(alGetError) STUB(alIsExtensionPresent) STUB(alGetProcAddress) STUB(alGetEnumValue)
STUB(alListeneri) STUB(alListenerf) STUB(alListener3f) STUB(alListenerfv) STUB(alGetListeneri)
STUB(alGetListenerf) STUB(alGetListener3f) STUB(alGetListenerfv) STUB(alGenSources) STUB(alDeleteSources)
STUB(alIsSource) STUB(alSourcei) STUB(alSourcef) STUB(alSource3f) STUB(alSourcefv) STUB(alGetSourcei)
STUB(alGetSourcef) STUB(alGetSourcefv) STUB(alSourcePlayv) STUB(alSourceStopv) STUB(alSourcePlay)
STUB(alSourcePause) STUB(alSourceStop) STUB(alGenBuffers) STUB(alDeleteBuffers) STUB(alIsBuffer)
STUB(alBufferData) STUB(alGetBufferi) STUB(alGetBufferf) STUB(alSourceQueueBuffers) STUB(alDistanceModel)
STUB(alDopplerFactor) STUB(alDopplerVelocity) STUB(alcGetString) STUB(alcGetIntegerv)
STUB(alcCloseDevice) STUB(alcCreateContext) STUB(alcMakeContextCurrent) STUB(alcProcessContext)
STUB(alcGetCurrentContext) STUB(alcGetContextsDevice) STUB(alcSuspendContext) STUB(alcDestroyContext)
STUB(alcGetError) STUB(alcIsExtensionPresent) STUB(alcGetProcAddress) STUB(alcGetEnumValue)

#ifdef BLOCKING_DEVICE
STUB(alSourceUnqueueBuffers)
extern "C" void *alcOpenDevice(const char *)
{
    for (;;) pause();
}
#else
STUB(alcOpenDevice)
#endif
