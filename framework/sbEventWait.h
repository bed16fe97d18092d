#pragma once

#include <cstdint>

// Lets a thread that waits for a worker keep serving its events without
// polling: it sleeps in its event dispatcher until an event arrives, a worker
// calls WakeEventWaits() as it ends, or the re-check time has passed.
//
//     const uint64_t Seen = EventWaitGeneration();
//     if (!WorkerEnded())
//         ServeEventsFor(80, Seen);

// The number of wakes so far; read it before checking the worker.
uint64_t EventWaitGeneration();

// Serves the calling thread's events, sleeping until one arrives, a wake
// newer than Seen, or Milliseconds pass. Returns at once when a wake came
// after Seen. Returns false, without waiting, when the thread has no event
// dispatcher (no application object, or a thread without Qt events).
bool ServeEventsFor(int Milliseconds, uint64_t Seen);

// From any thread: ends every ServeEventsFor in progress and any that is
// about to start with an older generation.
void WakeEventWaits();
