#include "platform/bus_error_guard.h"

#include <setjmp.h>
#include <signal.h>

#include <mutex>

namespace {

thread_local sigjmp_buf* t_guard = nullptr;

void OnBusError(int signal_number, siginfo_t*, void*) {
  if (t_guard != nullptr) siglongjmp(*t_guard, 1);
  // Not one of our guarded reads: let the default action end the process, as it would have.
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigaction(signal_number, &fallback, nullptr);
}

void InstallHandlerOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action = {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, nullptr);
  });
}

}  // namespace

bool CallCatchingBusError(void (*work)(void* context), void* context) {
  InstallHandlerOnce();
  sigjmp_buf jump;
  if (sigsetjmp(jump, 1) != 0) {
    t_guard = nullptr;
    return false;
  }
  t_guard = &jump;
  work(context);
  t_guard = nullptr;
  return true;
}
