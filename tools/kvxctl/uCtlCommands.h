#pragma once
// kvxctl's commands. Each returns the exit code or raises TCtlError; Out gets the
// results (UTF-8), Err the warnings.
#include <atomic>
#include <ostream>

#include "tools/kvxctl/uCtlOptions.h"

// Set by the interrupt and termination signals; ends every command.
std::atomic<bool>& CtlInterrupted();

int RunCtlCommand(const TCtlOptions& Options, std::ostream& Out, std::ostream& Err);
