#include "MMThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tv {

pid_t CurrentThreadKernelId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

bool ApplyThreadPriority(pid_t tid, TThreadPriority priority) {
  static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -15};
  const int index = priority < tpIdle || priority > tpTimeCritical ? tpNormal : priority;
  if (tid <= 0) return false;
  return ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), kNice[index]) == 0;
}

}  // namespace tv
