#pragma once

#include <cstddef>
#include <functional>

// Calls work(index, thread) once for every index below count, on up to threads threads
// (0: one a processor; never more than count), the calling thread being thread 0 and
// one of them. Indices are handed out in ascending order to whichever thread is free, so
// results stored by index come out in order whatever the number of threads. Returns when
// every call has returned; work must not throw.
void parallelFor(std::size_t count, std::size_t threads,
                 const std::function<void(std::size_t index, std::size_t thread)>& work);
