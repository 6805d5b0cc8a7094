#include "cli/TerminalText.h"

#include <sys/ioctl.h>
#include <unistd.h>

int TerminalColumns(std::FILE *stream)
{
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

QString FitToColumns(const QString &text, int columns)
{
    if (columns <= 0 || text.size() <= columns)
        return text;
    const QString ellipsis = QStringLiteral("...");
    if (columns <= ellipsis.size())
        return text.left(columns);
    const qsizetype kept = columns - ellipsis.size();
    return text.left(kept - kept / 2) + ellipsis + text.right(kept / 2);
}
