#pragma once

#include <span>
#include <string>

// One row of the serial link's message table: a result code and its text (possibly empty).
struct MessageRow {
    int Code;
    const char *Text;
};

// Every row, strictly ascending by the absolute value of the code.
std::span<const MessageRow> MessageTable();

// The text for a result code, at most 255 characters, possibly empty. The code is taken as a
// 16-bit signed value and only its magnitude counts. A code with no text in the table gets the
// operating system's words for that error number, cleaned by CleanSystemMessage.
std::string MessageForCode(int code);

// Makes a system message fit for one line: characters below 32 become spaces and every run of
// spaces shrinks to one. A single leading or trailing space may remain.
std::string CleanSystemMessage(std::string text);
