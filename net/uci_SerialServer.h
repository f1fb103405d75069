#pragma once
// The channel of a serial device server: a COM number whose port map entry is a connection
// URL (rfc2217://HOST:PORT or tcp://HOST:PORT). It offers the serial-port contract of a COM
// port: over RFC 2217 the settings change the server's line, and GetBaudRate is the speed the
// server confirms (or keeps, when it does not set its line); over raw TCP they are kept and
// change nothing. A connection that is reset, closed, dead (a stall recovers; a dead link is
// noticed within about twelve seconds) or broken by a server that breaks the Telnet protocol
// is the device gone, like a pulled cable: GetActive turns false, the closed notification fires
// once, InputCount gives -1 until the next Open, which makes a fresh connection. GetProblem names
// what the operator should know: a name that does not resolve, a bad URL, a broken server.
//
//   auto channel = Create<TSerialServerInterface>("comport=9");  //
//   KVX_COMPORTS='9=rfc2217://gw:4001'
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/uci_ISerialPortInterface.h"
#include "net/uTcpSocket.h"
#include "net/uTelnetComPort.h"

// How long resolving the host, connecting, the Telnet negotiation and a confirmed setting may
// each take at most.
inline constexpr std::chrono::milliseconds kServerTimeLimit{2000};

class TSerialServerInterface : public TKeptSettingsSerialInterface {
 public:
  using Clock = std::chrono::steady_clock;

  explicit TSerialServerInterface(std::string ConnectionString = {});
  TSerialServerInterface(const TXMLNode& Element, TIntfPtr<IInterface> Parent);
  ~TSerialServerInterface() override;

  bool GetActive() override;
  bool Open() override;
  bool Close(bool Force) override;
  std::int32_t Write(const std::string& Data) override;
  void Read(std::string& Data) override;
  std::int32_t InputCount() override;
  std::string GetPortName() override;
  // The connection URL of its port map entry.
  std::string GetDescription() override;
  void SetPresent(bool Value) override;
  void PurgeInput() override;
  void PurgeOutput() override;
  std::int32_t GetLinkDelay() override;
  // The serial settings, then ";comport=N".
  std::string GetConnectionString() override;
  void SetConnectionString(const std::string& Text) override;

  void SetBaudRate(std::int32_t Value) override;
  void SetRTS(bool Value) override;
  void SetDTR(bool Value) override;
  bool GetCTS() override;
  bool GetDSR() override;
  void SetStopBits(std::uint8_t Value) override;
  void SetParity(std::uint8_t Value) override;
  void SetDataBits(std::uint8_t Value) override;
  std::int32_t GetOutBufSize() override;
  void SetOutBufSize(std::int32_t Value) override;
  std::int32_t GetInBufSize() override;
  void SetInBufSize(std::int32_t Value) override;

 protected:
  void BeforeDestruction() override;

 private:
  bool Connect(const std::string& Url);
  // Waits for the server's answer to the COM port control option, then takes the link's
  // round trip.
  void Negotiate();
  void ApplyLineSettings();
  // Sends a command of the COM port control option while the link is up; with Confirm, waits
  // for the server to confirm it (a bounded wait), logs when it does not and returns whether
  // it did.
  bool SendComPortCommand(TComPortCommand Command, const std::string& Value, bool Confirm);
  // Asks the server for speed Value; the speed the line then really has.
  std::int32_t LineSpeedFor(std::int32_t Value);
  void KeepLineSpeed(std::int32_t Value);
  // Keeps the problem for the operator, Values after the port's name; the trace gets it once.
  void Report(TProblemKind Kind, std::vector<std::string> Values = {});
  // Ends a connection whose server breaks the Telnet protocol; FLinkLock held.
  void Refuse(const std::string& Violation);
  // Stores a line setting, sends its command and raises settings-changed.
  void ChangeLineSetting(std::atomic<std::uint8_t>& Setting, std::uint8_t Value,
                         TComPortCommand Command, std::uint8_t CommandValue);
  void ChangeControlLine(std::atomic<bool>& Line, bool Value, std::uint8_t ControlCode);
  // What a reader thread shares with the channel. It outlives the channel when the last
  // reference goes during the reader's own notification: the reader then ends without
  // touching the channel again.
  struct TReader {
    ~TReader();
    bool OnThread() const { return Thread.get_id() == std::this_thread::get_id(); }
    int Wake = -1;  // eventfd that ends the reader's wait
    std::atomic<bool> ChannelGone{false};
    std::thread Thread;
  };

  // Waits for FLinkChanged until Done (FLinkLock held), at most until Until; false when not done.
  bool WaitForLink(std::unique_lock<std::mutex>& Lock, Clock::time_point Until,
                   const std::function<bool()>& Done);
  void SendWire(std::string_view Bytes);  // FLinkLock held
  void ReadLoop(TReader& Reader);
  void MarkGone(const std::string& Why);  // FLinkLock held; the base keeps the gone state
  // Raises the closed notification once when the reader found the connection gone.
  bool NoticeGone();
  // Ends the reader and closes the connection. Called on the reader's own thread (from its
  // notification) it only tells the reader to end after the notification; it is joined later.
  void ShutDownLink();
  void JoinRetiredReaders();
  void Log(const std::string& Text);

  std::atomic<std::uint16_t> FComNumber{0};
  std::string FPortLabel;
  std::atomic<std::int32_t> FInBufSize{10000000};
  std::atomic<std::int32_t> FOutBufSize{10000000};

  std::atomic<bool> FOpen{false};
  std::string FServerText;          // host:port of the server connected to, for its problems
  std::atomic<bool> FHeard{false};  // the server has sent anything on this connection
  std::atomic<bool> FClosedReported{false};
  std::atomic<std::int32_t> FLinkDelay{0};
  std::mutex FLinkLock;  // the socket's sending side, the Telnet state and the input bytes
  std::condition_variable FLinkChanged;
  TTcpSocket FSocket;
  std::unique_ptr<TTelnetComPort> FTelnet;  // none for raw TCP
  std::string FInput;
  std::shared_ptr<TReader> FReader;
  std::vector<std::shared_ptr<TReader>> FRetiredReaders;  // told to end, not yet joined
};
