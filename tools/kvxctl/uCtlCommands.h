#pragma once
// kvxctl's commands. Each returns the exit code or raises TCtlError; Out gets the
// results (UTF-8), Err the warnings.
#include <atomic>
#include <ostream>

#include "tools/kvxctl/uCtlFields.h"
#include "tools/kvxctl/uCtlOptions.h"
#include "tools/kvxctl/uCtlRecordJson.h"

// Set by the interrupt and termination signals; ends every command.
std::atomic<bool>& CtlInterrupted();
// Set while a module is being commissioned: the first interrupt lets it be finished or rolled
// back (and clears this), a second one stops at once.
std::atomic<bool>& CtlModuleInHand();

int RunCtlCommand(const TCtlOptions& Options, std::ostream& Out, std::ostream& Err);

// The backup in File; raises TCtlError(ceUsage) naming the file and what is wrong.
TBackup ReadBackup(const std::string& File);

// The restore's diff. An older backup gives a range top only as text: its bottom is then typed
// too, so that the top stays where the backup has it.
TFieldList RangesAsTyped(TFieldList Wanted);
// The fields of Wanted the module does not hold (those Options leave out skipped), each shown
// on Out as it changes.
TFieldList RestoreChanges(const TFieldList& Wanted, const TFieldList& Held,
                          const TCtlOptions& Options, std::ostream& Out);
