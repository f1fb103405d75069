#pragma once
// Failures of kvxctl with the exit code that reports them.
#include <string>

#include "support/uErrors.h"

enum TCtlExit : int {
  ceDone = 0,
  ceNotFound = 1,       // no module, or the channel does not exist
  ceUsage = 2,          // bad command line, bad value, bad file
  ceCommunication = 3,  // the module stopped answering
  ceVerify = 4,         // the module holds something else than was written
};

// What a user refused a port for permission can do about it.
inline constexpr const char* kPermissionFix =
    "add your user to the group that owns its device (usually dialout) and log in again";

class TCtlError : public Exception {
 public:
  TCtlError(TCtlExit Code, const std::string& Message) : Exception(Message), FCode(Code) {}
  TCtlExit Code() const { return FCode; }

 private:
  TCtlExit FCode;
};
