#pragma once

// The number of sound output devices the audio back end offers; 0 when there is no sound card.
unsigned waveOutGetNumDevs();
