"""How many commands one browser may send.

A person clicks a few times a second; COMMANDS_PER_SECOND with a burst of
COMMAND_BURST is far beyond that.  A command over the rate is answered
"too many commands" and not carried out; a connection that sends
FLOODING_IN_A_ROW such commands one after the other, none of them taken,
is a program that does not listen, and is closed.
"""
import time

COMMANDS_PER_SECOND = 10
COMMAND_BURST = 20
FLOODING_IN_A_ROW = 100


class TokenBucket:
    """`rate` tokens a second, at most `burst` saved up; take() spends one."""

    def __init__(self, rate=COMMANDS_PER_SECOND, burst=COMMAND_BURST, clock=time.monotonic):
        self.rate, self.burst, self._clock = rate, burst, clock
        self.tokens, self._at = float(burst), clock()
        self.refused_in_a_row = 0

    def take(self):
        now = self._clock()
        self.tokens = min(float(self.burst), self.tokens + (now - self._at) * self.rate)
        self._at = now
        if self.tokens >= 1:
            self.tokens -= 1
            self.refused_in_a_row = 0
            return True
        self.refused_in_a_row += 1
        return False

    @property
    def flooding(self):
        return self.refused_in_a_row >= FLOODING_IN_A_ROW
