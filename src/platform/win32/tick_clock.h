// For the library's own tests on Windows, never exported from the DLL: a
// manual clock for the timer of messaging_win32.cpp.  With it on, time moves
// only through advanceTimerClock, which runs the timer's callback, in order
// and synchronously, once for every period that elapses.
#pragma once

#include <cstdint>

namespace qapi::plat {

void useManualTimerClock(bool on);
void advanceTimerClock(uint32_t ms);

}  // namespace qapi::plat
