// What a device server sends, fed through the channel's Telnet layer in process, in pieces:
//   byte A, byte B: the pieces alternate between A % 64 + 1 and B + 1 bytes; the rest is the
//   server's byte stream.
// Between pieces the host sends data (with 0xFF among it) and a COM port command, as a check
// and a download do. The data the layer delivers must be the data part of the stream, as a
// decoder of its own here finds it (commands, negotiations and subnegotiations taken out,
// IAC IAC as one 0xFF); once the layer closes the link on a broken protocol, a prefix of it,
// and nothing more afterwards. Memory and the replies stay bounded by what the server sent.
#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "fuzz/FuzzCheck.h"
#include "net/uTelnetComPort.h"
#include "tests/net/ServerWire.h"

namespace {

// The data part of a Telnet stream, and what a link must not follow.
struct TDecoded {
  std::string Data;
  std::size_t LongestSubnegotiation = 0;
  bool Compression = false;  // a subnegotiation of a compression option was started
};

TDecoded Decode(std::string_view Stream) {
  enum { Data, Command, Option, SubOption, Sub, SubCommand } state = Data;
  TDecoded out;
  std::size_t length = 0;
  const auto command = [&](char byte) {
    if (byte == kSb)
      state = SubOption;
    else if (byte >= kWill && byte <= kDont)
      state = Option;
    else
      state = Data;
  };
  for (const char byte : Stream) {
    switch (state) {
      case Data:
        if (byte == kIac)
          state = Command;
        else
          out.Data += byte;
        break;
      case Command:
        if (byte == kIac) {
          out.Data += byte;
          state = Data;
        } else {
          command(byte);
        }
        break;
      case Option:
        state = Data;
        break;
      case SubOption:
        if (byte == 85 || byte == 86) out.Compression = true;
        length = 0;
        state = Sub;
        break;
      case Sub:
        if (byte == kIac)
          state = SubCommand;
        else
          out.LongestSubnegotiation = std::max(out.LongestSubnegotiation, ++length);
        break;
      case SubCommand:
        if (byte == kIac) {
          out.LongestSubnegotiation = std::max(out.LongestSubnegotiation, ++length);
          state = Sub;
        } else if (byte == kSe) {
          state = Data;
        } else {
          command(byte);  // a command inside ends the subnegotiation
        }
        break;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size < 2) return 0;
  const std::size_t pieces[2] = {Data[0] % 64u + 1u, Data[1] + 1u};
  const std::string stream = FuzzBytes(Data + 2, Size - 2);

  std::string wire;
  std::size_t logs = 0;
  TTelnetComPort port([&wire](std::string_view Bytes) { wire.append(Bytes); },
                      [&logs](const std::string&) { ++logs; });
  port.Start();
  wire.clear();

  std::string delivered;
  std::size_t at = 0, replies = 0;
  for (int piece = 0; at < stream.size(); piece ^= 1) {
    const std::string_view bytes = std::string_view(stream).substr(at, pieces[piece]);
    at += bytes.size();
    const bool brokenBefore = !port.Violation().empty();
    const std::size_t deliveredBefore = delivered.size();
    wire.clear();
    port.Receive(bytes, delivered);
    // Replies are answers to negotiations, each at most as long as what it answers.
    replies += wire.size();
    FuzzCheck(replies <= at, "the replies outgrow what the server sent");
    if (brokenBefore)
      FuzzCheck(delivered.size() == deliveredBefore && wire.empty(),
                "a link closed on a broken protocol still takes bytes");

    // The host's side: a request with a byte that needs escaping, then a line setting.
    wire.clear();
    const std::string request = "\x01\xFF\x02" + std::string(bytes.substr(0, 3));
    port.SendData(request);
    FuzzCheck(wire == TelnetEscaped(request), "data sent is not escaped exactly once");
    port.SendCommand(cpcSetBaudRate, std::string("\x00\x00\x25\x80", 4));
    for (std::uint8_t command = 0; command < 16; ++command)
      FuzzCheck(port.ConfirmedValue(static_cast<TComPortCommand>(command)).size() <= 4096,
                "a confirmed value grows without bound");
  }
  FuzzCheck(logs <= stream.size() + 1, "the trace gets more lines than the server sent bytes");

  const TDecoded expected = Decode(stream);
  // KVX_FUZZ_SHOW=1 prints both, in hex, when a failing input is looked into.
  if (std::getenv("KVX_FUZZ_SHOW")) {
    for (const std::string* text : {&std::as_const(delivered), &expected.Data}) {
      for (char c : *text) std::fprintf(stderr, " %02x", static_cast<std::uint8_t>(c));
      std::fprintf(stderr, "\n");
    }
  }
  FuzzCheck(delivered.size() <= expected.Data.size() &&
                std::equal(delivered.begin(), delivered.end(), expected.Data.begin()),
            "data delivered is not the data the server sent");
  if (port.Violation().empty()) {
    FuzzCheck(delivered == expected.Data, "data the server sent is lost");
    FuzzCheck(!expected.Compression, "a link follows compression nobody asked for");
    FuzzCheck(expected.LongestSubnegotiation <= 4096, "a subnegotiation of any length is taken");
  } else {
    // Only a compression or a subnegotiation far beyond any COM port command closes a link.
    FuzzCheck(expected.Compression || expected.LongestSubnegotiation > 64,
              "a link is closed on a server that keeps to the protocol");
  }
  return 0;
}
