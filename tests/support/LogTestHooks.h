#pragma once
// Test rig for the trace file: a scratch folder instead of the program's directory, a fixed
// clock, and the name of the file being written.
#include <functional>
#include <string>

#include "support/uDateTimeUtils.h"

// Where the files go first; empty restores the program's directory. The state folder remains
// the second place.
void SetDebugLogDirectory(std::string Directory);
// The local date-time source; an empty function restores Now.
void SetDebugLogClock(std::function<TDateTime()> Clock);
// Full path of the open log file, empty when none is open.
std::string DebugLogFileName();
