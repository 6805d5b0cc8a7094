#pragma once

// The number of sound output devices the audio back end offers, at least 1 when its default
// output opens; 0 when there is no sound card.
unsigned waveOutGetNumDevs();

// Counted start and stop of SDL's audio subsystem, shared by the count above and the outputs.
bool InitAudioSubsystem();
void QuitAudioSubsystem();
