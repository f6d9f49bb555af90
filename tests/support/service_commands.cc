// Compiled into test programs that dispatch commands in-process: installs the service's command
// table before any test runs, as the service's start-up does.
#include "service/command_table.h"

namespace {
const bool kInstalled = (InstallServiceCommandTable(), true);
}  // namespace
