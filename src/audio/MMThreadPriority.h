// Thread priorities of the driver and timer threads, in the seven steps the
// components publish. Linux threads have no such levels: they map to nice
// values of the thread, and raising above normal needs a privilege the
// program usually lacks, so priorities are requests that may be declined.
#pragma once

#include <sys/types.h>

namespace tv {

enum TThreadPriority {
  tpIdle = 0,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

// The kernel id of the calling thread, for ApplyThreadPriority from elsewhere.
pid_t CurrentThreadKernelId();
// Sets the nice value of thread `tid` for the priority; false when refused.
bool ApplyThreadPriority(pid_t tid, TThreadPriority priority);

}  // namespace tv
