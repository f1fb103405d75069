#pragma once
// A fault a channel found beyond a missing module, kept apart from its wording so that the
// window can say it in the operator's language: the kind picks the text, the values fill its
// %1, %2, ... (the port's name first, then what the text names). The English wording serves
// the trace file and kvxctl.
#include <cstdint>
#include <string>
#include <vector>

enum class TProblemKind : std::uint8_t {
  None,
  BadServerAddress,  // the port's entry is no device server URL; the parser's reason
  Unresolved,        // the host name
  Refused,           // the server's address
  Unanswered,        // the server's address
  Unreachable,       // the server's address
  SpeedNotSet,       // nothing beyond the port
  OtherSpeed,        // the speed set, the speed asked for
  BrokenTelnet,      // what the server did
};

struct TChannelProblem {
  TProblemKind Kind = TProblemKind::None;
  std::vector<std::string> Values;

  bool Empty() const { return Kind == TProblemKind::None; }
  bool operator==(const TChannelProblem&) const = default;
};

// "COM9: the device server 10.0.0.7:4001 refuses the connection"; empty for none.
std::string ProblemText(const TChannelProblem& Problem);
