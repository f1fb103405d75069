#pragma once
// kvxctl serve: the service that reads every module all the time, with its sinks (the
// Prometheus endpoint's store first) and its options.
#include <ostream>
#include <string>
#include <vector>

#include "service/uLinePoller.h"
#include "service/uServedModule.h"
#include "tools/kvxctl/uCtlOptions.h"

// Runs until interrupted; SIGHUP reads the plant again and searches again. Err gets the log.
int Serve(const TCtlOptions& Options, std::ostream& Err);

// The modules of an audit's directory, each as down and on no port; a file that does not
// parse is named in the log and left out. Raises TCtlError(ceUsage) when Dir is no directory.
std::vector<TServedModule> ReadPlant(const std::string& Dir, const TServiceLog& Log);
