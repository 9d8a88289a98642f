#include "host/clock.h"

#include <thread>

namespace nclaser {

void Sleep(int Ms) {
  if (Ms > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(Ms));
  } else {
    std::this_thread::yield();
  }
}

} // namespace nclaser
