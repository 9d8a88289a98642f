#include "host/alarms.h"

namespace nclaser {

TNcAlarms* NcAlarms = nullptr;

} // namespace nclaser
