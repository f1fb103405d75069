#pragma once
// The traffic monitor link: each message is one datagram, a direction byte followed by the
// bytes written or read, sent to the Unix datagram socket "TfMainTirmelTerm" in
// $XDG_RUNTIME_DIR, or where that is unset in the user's private folder
// $XDG_STATE_HOME/kvxsetup, never in a folder that others share. The socket is looked up
// for every message, so the monitor may come and go at any time.
#include <cstdint>
#include <string>

inline constexpr const char* TRACE_MONITOR_SOCKET_NAME = "TfMainTirmelTerm";

// The folder and the full path of the monitor's socket, from the environment at the time of
// the call.
std::string TraceMonitorDirectory();
std::string TraceMonitorSocketPath();
// For the monitor: makes the private folder when it is missing. True when the socket may
// live there: the runtime folder, or a folder of the user's own that nobody else may write.
bool PrepareTraceMonitorDirectory();

// Sends one message when Data is not empty. When nobody listens nothing happens, at once:
// the send never waits.
void SendToTraceMonitor(std::uint8_t Direction, const std::string& Data);
