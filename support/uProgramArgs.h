#pragma once
// The program's arguments, read once (from /proc/self/cmdline unless main or a test
// sets them first), and the rule by which the support modules recognise their switches.
#include <string>
#include <string_view>
#include <vector>

// All arguments, the program's own path first. The reference stays valid until the
// next SetProgramArgs.
const std::vector<std::string>& ProgramArgs();
// Replaces the arguments (main at start, or a test); the modules that read switches
// at start read them again through their own re-initialisation.
void SetProgramArgs(std::vector<std::string> args);
// The argument, trimmed (codes 0x20 and below), with one leading "/" or "-" removed,
// equals Name ignoring ASCII case.
bool IsSwitch(std::string_view argument, std::string_view name);
// Any argument is that switch.
bool HasSwitch(std::string_view name);
