#pragma once
// The fields of the configuration pages in the module record: after a save, which of them
// the module does not hold as saved, each named by the label the operator reads beside it.
#include <vector>

#include "protocol/uKVXxx.h"

struct TPageField {
  const char* Label;  // the element whose caption names the field on its page
  int Channel;        // 1 to 4 on the channel page, 0 on the communication page
  bool operator==(const TPageField&) const = default;
};

// The fields in which Held differs from Saved, in page order: the communication page, then
// each channel the module reports. Each of them is copied from Saved into Edited, so that
// saving again sends it again. A field the upload never sends for this module (the speed of
// a model other than RS, the gain of a channel without one) is not among them.
std::vector<TPageField> KeepFieldsNotTaken(const TKVXrec& Saved, const TKVXrec& Held,
                                           TKVXrec& Edited);
