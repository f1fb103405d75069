#pragma once
// The client side of Telnet with the COM port control option (RFC 2217): binary
// transmission both ways, data bytes 0xFF escaped and unescaped, line settings, control
// lines and purges sent as subnegotiations, and the server's confirmations and modem state
// kept. Escaping and parsing are the Telnet library's; the option negotiation is done here,
// because the library does not report a refusal of an option this side asked for. Not
// thread-safe: its owner serialises every call.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

struct telnet_t;

// Commands of the COM port control option; the server answers each with the code + 100.
enum TComPortCommand : std::uint8_t {
  cpcSetBaudRate = 1,
  cpcSetDataSize = 2,
  cpcSetParity = 3,
  cpcSetStopSize = 4,
  cpcSetControl = 5,
  cpcNotifyModemState = 7,
  cpcPurgeData = 12,
};
inline constexpr std::uint8_t kServerReplyOffset = 100;
inline constexpr std::uint8_t kComPortOption = 44;

// Values of the set-control command and of the purge command.
enum : std::uint8_t {
  kControlNoFlowControl = 1,
  kControlDtrOn = 8,
  kControlDtrOff = 9,
  kControlRtsOn = 11,
  kControlRtsOff = 12,
  kPurgeReceived = 1,
  kPurgeTransmitted = 2,
};

// Bits of the modem state the server notifies.
enum : std::uint8_t { kModemCts = 0x10, kModemDsr = 0x20, kModemRing = 0x40, kModemCd = 0x80 };

class TTelnetComPort {
 public:
  using TWire = std::function<void(std::string_view Bytes)>;
  using TLog = std::function<void(const std::string& Text)>;
  enum class TOptionState { NotAsked, Asked, Accepted, Refused };

  // Wire receives every byte to be sent to the server; Log gets what the trace should say.
  TTelnetComPort(TWire Wire, TLog Log);
  ~TTelnetComPort();
  TTelnetComPort(const TTelnetComPort&) = delete;
  TTelnetComPort& operator=(const TTelnetComPort&) = delete;

  // Asks for binary transmission both ways and for the COM port control option.
  void Start();
  // Takes wire bytes from the server; the data bytes among them are appended to Data. Once
  // the server breaks the protocol nothing more is taken.
  void Receive(std::string_view Bytes, std::string& Data);
  // What the server did that cannot be followed; empty while it keeps to the protocol.
  const std::string& Violation() const { return FViolation; }
  void SendData(std::string_view Data);
  // Sends a command of the COM port control option; nothing unless the server took it.
  void SendCommand(TComPortCommand Command, std::string_view Value);

  TOptionState ComPortOption() const { return FComPort; }
  // How many confirmations of Command have come, and the value of the latest.
  std::uint32_t Confirmations(TComPortCommand Command) const { return FConfirmations[Command]; }
  const std::string& ConfirmedValue(TComPortCommand Command) const { return FConfirmed[Command]; }
  std::uint8_t ModemState() const { return FModemState; }

 private:
  enum TSide : std::uint8_t { sNo, sAsked, sYes };
  enum class TScan : std::uint8_t { Data, Command, Option, SubOption, Sub, SubCommand };

  // Follows the command structure ahead of the library, which would swallow the data of a
  // subnegotiation that never ends or start decompressing on the server's word alone, and
  // puts the subnegotiations of other options than COM port control under one it does not
  // parse. How many of Bytes may be handed on.
  std::size_t Screen(std::string& Bytes);
  static TScan AfterCommand(std::uint8_t Byte);
  bool CountSubnegotiationByte();  // false once the subnegotiation is too long

  static void Event(telnet_t* Telnet, union telnet_event_t* Event, void* Self);
  void Ask(std::array<TSide, 256>& Side, std::uint8_t Verb, std::uint8_t Option);
  void Negotiation(std::uint8_t Verb, std::uint8_t Option);
  void Subnegotiation(std::string_view Payload);
  // Logs Text the first time; later times are counted and logged once, with their count, when
  // the connection ends.
  void Note(const std::string& Text);

  struct TFlush {
    explicit TFlush(TTelnetComPort& Port) : FPort(Port) {}
    ~TFlush();
    TTelnetComPort& FPort;
  };
  struct TFree {
    void operator()(telnet_t* Telnet) const;
  };
  TWire FWire;
  TLog FLog;
  std::unique_ptr<telnet_t, TFree> FTelnet;
  std::string* FData = nullptr;  // where Receive puts data bytes while it runs
  std::string FOutgoing;         // the library's output of the current call
  TOptionState FComPort = TOptionState::NotAsked;
  std::array<TSide, 256> FUs{};   // options this side performs
  std::array<TSide, 256> FHim{};  // options the server performs
  std::array<std::uint32_t, 16> FConfirmations{};
  std::array<std::string, 16> FConfirmed{};
  std::uint8_t FModemState = 0;
  TScan FScan = TScan::Data;
  std::size_t FSubLength = 0;
  std::string FViolation;
  std::map<std::string, std::uint32_t> FRepeats;  // each text noted: how often after the first
};
