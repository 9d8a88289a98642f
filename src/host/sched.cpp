#include "host/sched.h"

namespace nclaser {

TThreadScheduler* ThreadScheduler = nullptr;

} // namespace nclaser
