#include "service/uSystemdNotify.h"

#include <systemd/sd-daemon.h>

namespace {

void Notify(const std::string& State) {
  sd_notify(0, State.c_str());
}

}  // namespace

void NotifyReady(const std::string& Status) {
  Notify("READY=1\nSTATUS=" + Status);
}

void NotifyStatus(const std::string& Status) {
  Notify("STATUS=" + Status);
}

void NotifyStopping() {
  Notify("STOPPING=1");
}

void NotifyWatchdog() {
  Notify("WATCHDOG=1");
}

std::optional<std::chrono::milliseconds> WatchdogPace() {
  std::uint64_t interval = 0;
  if (sd_watchdog_enabled(0, &interval) <= 0 || interval == 0) return std::nullopt;
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::microseconds(interval / 2));
}
