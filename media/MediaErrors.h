#pragma once

#include "media/MciDefs.h"

#include <cstddef>

// Copies the media system's text for code into buffer (always zero-terminated, cut to size).
// Returns false, leaving the buffer empty, for a code the media system does not know.
bool mciGetErrorString(MCIERROR code, char *buffer, std::size_t size);
