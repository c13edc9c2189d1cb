// Drains the calling thread's message queue without waiting, so
// that a modeless dialog keeps painting and taking input during long work.
#pragma once

void PumpMessages(void);
