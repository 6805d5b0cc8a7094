#pragma once

#include <QString>
#include <cstdio>

// The width of the terminal behind the stream, or 0 when it is not a terminal or does not say.
int TerminalColumns(std::FILE *stream);

// The text cut to at most `columns` characters, its middle replaced by "...", so that a line that
// is redrawn in place never wraps onto a new one.
QString FitToColumns(const QString &text, int columns);
