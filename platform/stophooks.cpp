// Work that must happen at every end of the Linux process.  The hooks sit in a fixed array and
// are run at most once, so that a fatal signal arriving during a stop neither allocates nor runs
// a hook twice.
#include "platform/stophooks.h"

#include <atomic>
#include <cstdlib>

namespace nsk {
namespace {

constexpr int MAX_HOOKS = 32;
void (*hooks[MAX_HOOKS])();
std::atomic<int> hook_count{0};
std::atomic<bool> stopping{false};

}  // namespace

void at_stop(void (*hook)()) {
  int slot = hook_count.load();
  for (int i = 0; i < slot; ++i) {
    if (hooks[i] == hook) return;  // one run per hook, however often its owner registers it
  }
  // More hooks than slots is a platform coding error: fail loudly rather than skip a restore.
  if (slot >= MAX_HOOKS) std::abort();
  hooks[slot] = hook;
  hook_count.store(slot + 1);
}

void run_stop_hooks() {
  if (stopping.exchange(true)) return;
  for (int i = hook_count.load() - 1; i >= 0; --i) hooks[i]();
}

}  // namespace nsk
