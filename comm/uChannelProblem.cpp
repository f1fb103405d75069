#include "comm/uChannelProblem.h"

#include "support/uStringUtils.h"

std::string ProblemText(const TChannelProblem& Problem) {
  switch (Problem.Kind) {
    case TProblemKind::None:
      return {};
    case TProblemKind::BadServerAddress:
      return FillIn("%1: %2", Problem.Values);
    case TProblemKind::Unresolved:
      return FillIn("%1: cannot resolve %2", Problem.Values);
    case TProblemKind::Refused:
      return FillIn("%1: the device server %2 refuses the connection", Problem.Values);
    case TProblemKind::Unanswered:
      return FillIn("%1: the device server %2 does not answer", Problem.Values);
    case TProblemKind::Unreachable:
      return FillIn("%1: the device server %2 cannot be reached", Problem.Values);
    case TProblemKind::SpeedNotSet:
      return FillIn("%1: the device server does not set the line speed", Problem.Values);
    case TProblemKind::OtherSpeed:
      return FillIn("%1: the device server set %2 bit/s when asked for %3", Problem.Values);
    case TProblemKind::BrokenTelnet:
      return FillIn("%1: the device server breaks the Telnet protocol (%2); connection closed",
                    Problem.Values);
  }
  return {};
}
