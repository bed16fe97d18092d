#include "support/RefusedThreads.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>

namespace {
std::atomic<bool> GRefused{false};
}

void RefuseThreads(bool Refuse)
{
    GRefused = Refuse;
}

extern "C" int pthread_create(pthread_t *Thread, const pthread_attr_t *Attributes,
                              void *(*Routine)(void *), void *Argument)
{
    using TCreate = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    static const auto Real = reinterpret_cast<TCreate>(dlsym(RTLD_NEXT, "pthread_create"));
    if (GRefused)
        return EAGAIN;
    return Real(Thread, Attributes, Routine, Argument);
}
