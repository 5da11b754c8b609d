// Threads, sleeping.
#pragma once

namespace vx {

using ThreadProc = unsigned (*)(void* arg);

// Starts a detached thread at normal priority with the default stack size.
// False if the thread could not be created.
bool StartThread(ThreadProc proc, void* arg);

// Sleep(ms).
void SleepMs(unsigned ms);

}  // namespace vx
