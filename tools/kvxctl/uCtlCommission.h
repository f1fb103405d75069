#pragma once
// kvxctl commission: new modules brought one after another to a bench port, each given the next
// free address of a range, the line's speed and a template's settings, verified where it then
// answers, and recorded in the line's folder of backups.
#include <ostream>
#include <string>

#include "tools/kvxctl/uCtlFields.h"
#include "tools/kvxctl/uCtlOptions.h"

int Commission(const TCtlOptions& Options, std::ostream& Out, std::ostream& Err);

// What a template gives a module: its settings without its identity (address, speed), with
// "{serial}", "{address}" and "{n}" (the module's place in the run) filled into its texts.
TFieldList TemplateSettings(const TFieldList& Template, unsigned Serial, unsigned Address, int N);
