// The message functions the suites read notifications with: qmsg.h, or on
// Windows the same names over the real message queue.
#pragma once

#if defined(_WIN32)
#include "windows/message_loop.h"
#else
#include "qmsg.h"
#endif
