// A module checked and read through the device-server channel, the server played over
// loopback from the input. The server answers each thing the channel sends (a Telnet command,
// a whole request frame) with the input's next action:
//   action A: A & 3 == 0: as a willing server with a module behind it answers (the COM port
//     option taken, each COM port command confirmed, each request answered by the module);
//     1: a length byte N and N bytes as they stand (any Telnet);
//     2: the willing answer with the byte at (next byte) % its length changed;
//     3: the willing answer cut to (next byte) % its length;
//     A & 0x80: the server hangs up after it.
// Once an action was not a willing one, the server also speaks unasked: when the channel sends
// nothing for a few milliseconds (it waits for what the server did not send), the next action
// answers what it sent last, once more. At the end of the input the server hangs up. Every run
// must end, the channel closed and any problem naming its port; when every action was a
// willing one, the module's record arrives byte for byte as an in-process line brings it (in
// one of three sessions: on a busy machine a willing server's reply can still come too late).
#include <atomic>
#include <thread>

#include "fuzz/FuzzCheck.h"
#include "net/uci_SerialServer.h"
#include "protocol/uKVXxxCommands.h"
#include "protocol/uTirmel97.h"
#include "sim/uInProcessChannel.h"
#include "sim/uKvxSimDevice.h"
#include "sim/uKvxSimModule.h"
#include "sim/uKvxTransactor.h"
#include "support/uErrors.h"
#include "support/uMessages.h"
#include "tests/net/ServerWire.h"
#include "tests/net/TestServer.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kIdle = 5ms;

// A module whose frames carry 0xFF, which Telnet must pass escaped both ways.
TKvxSimState ModuleState() {
  TKvxSimState state = KvxSimFactoryState(mtRS, 0xFF12);
  state.UserData = "Hala \xff\xff linka B";
  return state;
}

TKVXrec DownloadOverInProcessLine() {
  auto module = std::make_shared<TKvxSimModule>(ModuleState());
  TKVXChannel channel = Create<TInProcessChannel>("REF", module, "baudrate=0");
  channel->Open();
  TKVXChannelTransactor transactor(channel);
  TKVXrec rec;
  FuzzCheck(KvxDownloadParams(rec, transactor.Method()), "the module is not read in process");
  return rec;
}

class TFuzzServer {
 public:
  explicit TFuzzServer(std::string Actions)
      : FActions(std::move(Actions)), FThread([this] { Serve(); }) {}
  ~TFuzzServer() {
    FStopping = true;
    FThread.join();
  }
  std::string Url() const { return FServer.Url("rfc2217"); }
  // Whether every action so far was a willing one.
  bool OnlyWilling() const { return FOnlyWilling; }
  bool RanOut() const { return FRanOut; }

 private:
  void Serve() {
    while (!FStopping && !FServer.Accept(kIdle)) {
    }
    std::string wire, frame;
    TClientUnit last;
    try {
      while (!FStopping && FServer.Connected()) {
        const std::string got = FServer.Receive(1, kIdle);
        if (!FServer.Connected()) return;
        std::vector<TClientUnit> asked;
        wire += got;
        for (TClientUnit& unit : TakeClientWire(wire)) {
          if (!unit.IsData) {
            asked.push_back(std::move(unit));
            continue;
          }
          frame += unit.Bytes;
          if (FrameCannotComplete(frame)) frame.clear();
          if (ValidateFrame(frame) == 0) asked.push_back({true, std::exchange(frame, {})});
        }
        // A willing server only ever answers; once it has not, it also speaks unasked.
        if (got.empty()) {
          if (FOnlyWilling) continue;
          asked = {last};
        }
        for (const TClientUnit& unit : asked) {
          if (!Answer(unit)) return FServer.Hangup();
          last = unit;
        }
      }
    } catch (const std::exception&) {
      // The channel hung up while the server was still talking.
    }
  }

  std::uint8_t NextByte() { return FAt < FActions.size() ? std::uint8_t(FActions[FAt++]) : 0; }

  // Sends the next action's answer to Unit; false when the server is to hang up.
  bool Answer(const TClientUnit& Unit) {
    if (FAt >= FActions.size()) {
      FRanOut = true;
      return false;
    }
    const std::uint8_t action = NextByte();
    std::string answer = Willing(Unit);
    switch (action & 3) {
      case 1: {
        const std::size_t size = NextByte();
        answer = FActions.substr(FAt, size);
        FAt += answer.size();
        break;
      }
      case 2:
        if (!answer.empty()) answer[NextByte() % answer.size()] ^= 0x5A;
        break;
      case 3:
        if (!answer.empty()) answer.resize(NextByte() % answer.size());
        break;
    }
    if (action != 0) FOnlyWilling = false;
    if (!answer.empty()) FServer.Send(answer);
    return (action & 0x80) == 0;
  }

  std::string Willing(const TClientUnit& Unit) {
    if (!Unit.IsData)
      return Unit.Bytes == kWillComPort ? kTakeComPort : ComPortConfirmation(Unit.Bytes);
    if (Unit.Bytes.empty()) return {};
    TTirmelFormat97 request;
    ParseFrame(Unit.Bytes, request);
    if (!FModule.Hears(request.Address)) return {};
    const TKvxSimAnswer reply = FModule.Answer(request.Instruction, request.Data, 0, {});
    return TelnetEscaped(
        BuildFrame(FModule.State().Address, request.Signature, reply.Code, reply.Data));
  }

  const std::string FActions;
  std::size_t FAt = 0;
  TKvxSimDevice FModule{ModuleState()};
  TTestServer FServer;
  std::atomic<bool> FStopping{false}, FOnlyWilling{true}, FRanOut{false};
  std::thread FThread;  // last: it starts serving once everything above is there
};

// What one session through the channel came to.
struct TSession {
  bool AnsweredAll = false;  // every action was willing and the input did not run out
  bool Read = false;
  TKVXrec Rec;
};

TSession RunSession(const std::string& Actions) {
  TFuzzServer server(Actions);
  TPortEntry entry(server.Url());
  auto channel = Create<TSerialServerInterface>("comport=9");
  TKVXChannelTransactor transactor(channel);
  TSession session;
  bool found = false;
  try {
    found = channel->Open() && CheckDevice(channel);
    session.Read = found && KvxDownloadParams(session.Rec, transactor.Method());
  } catch (const Exception&) {
  }
  session.AnsweredAll = server.OnlyWilling() && !server.RanOut();
  channel->Close(true);

  FuzzCheck(!channel->GetActive() && channel->InputCount() <= 0, "a closed channel is active");
  const std::string problem = ProblemText(channel->GetProblem());
  FuzzCheck(problem.empty() || problem.starts_with("COM9: "), "a problem does not name its port");
  return session;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static const TKVXrec reference = [] {
    SetMessageHandler([](const std::string&) {});
    SetKVXPauseFunction([](int) {});
    return DownloadOverInProcessLine();
  }();

  const std::string actions = FuzzBytes(Data, Size);
  TSession session = RunSession(actions);
  // A willing server's reply can still come too late on a machine that is busy elsewhere: the
  // module must be read in one of three sessions, which a fault of the channel never allows.
  for (int again = 0; again < 2 && session.AnsweredAll && !session.Read; ++again)
    session = RunSession(actions);
  if (session.AnsweredAll) {
    FuzzCheck(session.Read, "a willing server's module is not read");
    FuzzCheck(session.Rec == reference, "the record differs from the module's");
  }
  return 0;
}
