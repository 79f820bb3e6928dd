// Preloaded into okrelt by a test: no thread can be started, as on a system
// out of them, so that the work meant for a thread of its own must be done
// on the thread that asked for it.
#include <pthread.h>

#include <cerrno>

extern "C" int pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; }
