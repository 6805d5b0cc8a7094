#pragma once

#include "media/Decoder.h"
#include "media/MciDefs.h"

#include <memory>
#include <string>

// The kinds of sound the media system plays, each with its device type.
enum class SoundKind { Wave, Mpeg, Midi };

// Opens a sound file by name, choosing the decoder from the file's content (RIFF WAVE, ID3 or
// MPEG frames, MThd, RIFF RMID). The extension counts only when the content says nothing: a file
// named .mp3 is searched for MPEG frames behind leading junk.
// Returns 0 or the result code that says what is wrong with the file.
MCIERROR OpenSoundFile(const std::string &path, std::unique_ptr<Decoder> &decoder, SoundKind &kind);
