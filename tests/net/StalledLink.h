#pragma once
// A device server connection on loopback whose link goes silent; to be run in a private
// network namespace (TSilentNameServer), where SetLoopbackUp stalls the link.
#include <chrono>

// Whether a connection whose link stalls for Stall with a request waiting stays, and the
// request reaches the server once the link is back.
bool SurvivesStall(std::chrono::seconds Stall);

// Seconds until the channel finds its connection gone after the link went dead (negative when
// not within a minute); with Busy, a request is waiting for acknowledgement meanwhile.
double DeadNoticedSeconds(bool Busy);
