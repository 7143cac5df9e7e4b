#ifndef VINTREL_DRIVER_THREAD_COUNT_H_
#define VINTREL_DRIVER_THREAD_COUNT_H_

#include <cstdint>

// The most threads a run uses: in a 32-bit program every thread's buffers share an address space
// of 2 to 4 GiB, so its workers are fewer.
constexpr uint32_t kMaxThreads = sizeof(void*) >= 8 ? 64 : 4;

// The environment variable that sets the number of threads of both programs.
constexpr char kThreadsVariable[] = "VINTREL_THREADS";

// A thread count written as text: a decimal number from 1 on, taken at most as kMaxThreads. False
// when text is not such a number.
bool parse_thread_count(const char* text, uint32_t* count);

// One thread per processor the process may run on, at most kMaxThreads.
uint32_t processor_thread_count();

// The run's thread count: that of VINTREL_THREADS when it is set, else processor_thread_count().
// *ignored is the variable's text when it is set but is no thread count (the default is then
// used), null otherwise.
uint32_t run_thread_count(const char** ignored);

#endif  // VINTREL_DRIVER_THREAD_COUNT_H_
