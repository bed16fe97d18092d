#pragma once

// While refused, pthread_create fails with EAGAIN, as when the system has no
// thread left to give; std::thread then throws. The binary that calls this
// takes over pthread_create for all its threads.
void RefuseThreads(bool Refuse);
