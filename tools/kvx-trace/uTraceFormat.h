#pragma once
// One monitor message as one line: "hh:mm:ss.zzz -> 2A 61 ...  |*a...|".
#include <chrono>
#include <string>
#include <string_view>

// Message = direction byte + data. Direction 1 shows "->" (written), 2 "<-" (read), any
// other "?N". An empty message gives an empty line.
std::string FormatTraceLine(std::chrono::system_clock::time_point time, std::string_view message);
