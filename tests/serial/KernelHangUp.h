#pragma once
// The kernel's own hang-up of a tty, for fault tests of lines that go away.
#include <string>

// Hangs up the tty at Path (TIOCVHANGUP; needs root): every open file of it then fails as
// with a pulled USB-serial converter. Empty when done, else why it was not.
std::string KernelHangUp(const std::string& Path);
