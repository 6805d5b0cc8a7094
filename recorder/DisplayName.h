#pragma once

#include <QString>
#include <string>

// A path or name as the operator reads it. A file name may hold bytes that are not text, or
// control characters that a terminal would carry out (an escape sequence, a carriage return):
// they are shown escaped as \xNN, so that what is shown is what the name is, and nothing else
// happens.
QString DisplayName(const std::string &bytes);
