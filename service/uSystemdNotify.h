#pragma once
// The service manager's notifications (readiness, status, the watchdog); each does nothing
// when the program was not started by it.
#include <chrono>
#include <optional>
#include <string>

void NotifyReady(const std::string& Status);
void NotifyStatus(const std::string& Status);
void NotifyStopping();
void NotifyWatchdog();
// How often the watchdog wants to hear from us: half the interval the unit sets; none when it
// sets none.
std::optional<std::chrono::milliseconds> WatchdogPace();
