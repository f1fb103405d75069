#pragma once
// Where the program lives.
#include <string>

// The directory of the running program's file, with its trailing '/'; "./" when the
// system does not tell.
std::string GetExeDir();
