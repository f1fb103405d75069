#include "comm/uEventer.h"

#include "comm/uci_ICommunicationInterface.h"
#include "comm/uiNodedInterface.h"

// Each Fire takes its interface arguments by value: that copy is the counted reference
// held for the duration of the call.

void Teventer_NodedInterface::Fire(TIntfPtr<INodedInterface> node) {
  FireAll(node);
}

void TeventerDescentEvent::Fire(TIntfPtr<INodedInterface> node, std::int32_t level) {
  FireAll(node, level);
}

void TeventerCiNotify::Fire(TIntfPtr<ICommunicationInterface> channel) {
  FireAll(channel);
}

void TeventerCiNotifyChangeEvent::Fire(TIntfPtr<ICommunicationInterface> channel, std::int32_t line,
                                       bool state) {
  FireAll(channel, line, state);
}
