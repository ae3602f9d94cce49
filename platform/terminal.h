#pragma once
// The command line's terminal: whether a standard stream is one, how wide it is, whether it
// takes the cursor sequences of a progress block, and the calendar time of a clock reading.
#include <cstddef>
#include <ctime>

namespace vanta {

enum class StandardStream { Input, Output, Error };

// True when stream is a terminal (a console on Windows).
bool IsTerminal(StandardStream stream);

// True when stream is a terminal that moves the cursor on ANSI sequences: on POSIX one whose
// $TERM is set and not "dumb"; on Windows a console that takes virtual terminal sequences (they
// are switched on by this call where the console has them).
bool TakesTerminalSequences(StandardStream stream);

// Columns of the terminal on standard error; 0 when unknown.
size_t TerminalColumns();

// now as calendar time in UTC or in the local zone (thread-safe); false when it cannot be told.
bool UtcTime(std::time_t now, std::tm& parts);
bool LocalTime(std::time_t now, std::tm& parts);

}  // namespace vanta
