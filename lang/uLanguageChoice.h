#pragma once
// The operator's language between runs: the name of the language file last chosen in the
// selector (without its folder, so the user's copy of a file and the shipped one count
// alike), kept in LanguageChoiceFile() of support/uPaths.h.
#include <string>

// The remembered file name; empty when none was remembered or the memory cannot be read.
std::string RememberedLanguage();
// Remembers FileName's last part. A memory that cannot be written is logged and otherwise
// ignored: the choice still holds for this run.
void RememberLanguage(const std::string& FileName);
