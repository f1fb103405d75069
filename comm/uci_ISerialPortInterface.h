#pragma once
// Channels that behave like a serial line: TSerialPortCoreInterface adds the serial settings
// (and their connection-string keys) to the channel contract; TSerialPortInterface is the
// channel of one COM port, driving a TAfComPort.
//
//   auto channel = Create<TSerialPortInterface>("comport=5");
//
// ISerialPortInterface carries only the serial operations: the channel operations are reached
// through ICommunicationInterface of the same object (TCommunicationInterface derives from
// that interface non-virtually, so a second copy of it cannot be added here).
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "comm/uci_ICommunicationInterface.h"

class TAfComPort;
class TAfCustomSerialPort;

class ISerialPortInterface : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::FromText("{783E5941-B8D8-4FB6-B8B5-F43D41E6DB42}");

  virtual std::int32_t GetBaudRate() = 0;
  virtual void SetBaudRate(std::int32_t Value) = 0;
  virtual bool GetRTS() = 0;
  virtual void SetRTS(bool Value) = 0;
  virtual bool GetDTR() = 0;
  virtual void SetDTR(bool Value) = 0;
  virtual bool GetCTS() = 0;
  virtual bool GetDSR() = 0;
  // Stop bits: 0 one, 1 one and a half, 2 two.
  virtual std::uint8_t GetStopBits() = 0;
  virtual void SetStopBits(std::uint8_t Value) = 0;
  // Parity: 0 none, 1 odd, 2 even, 3 mark, 4 space.
  virtual std::uint8_t GetParity() = 0;
  virtual void SetParity(std::uint8_t Value) = 0;
  virtual void PurgeInput() = 0;
  virtual void PurgeOutput() = 0;
  virtual std::uint8_t GetDataBits() = 0;
  virtual void SetDataBits(std::uint8_t Value) = 0;
  virtual std::int32_t GetOutBufSize() = 0;
  virtual void SetOutBufSize(std::int32_t Value) = 0;
  virtual std::int32_t GetInBufSize() = 0;
  virtual void SetInBufSize(std::int32_t Value) = 0;

 protected:
  ~ISerialPortInterface() = default;
};

// The value of the first item Key=value of a connection string (items separated by ";" or
// line breaks; keys compared ignoring case, neither keys nor values trimmed).
bool FindConnectionValue(std::string_view Text, std::string_view Key, std::string& Value);

// The port a connection string selects: its "comport" item, or a text that begins with "COM"
// and a number. False when it selects none; a number out of range raises.
bool ConnectionPortNumber(const std::string& Text, std::uint16_t& Number);
// "COM" and the number, or "COM unknown" for 0.
std::string ComPortLabel(std::uint16_t Number);

class TSerialPortCoreInterface : public TCommunicationInterface,
                                 public virtual ISerialPortInterface {
 public:
  explicit TSerialPortCoreInterface(std::string ConnectionString = {});
  TSerialPortCoreInterface(const TXMLNode& Element, TIntfPtr<IInterface> Parent);

  // "baudrate=...;databits=...;stopbits=...;parity=...;dtr=...;rts=..."
  std::string GetConnectionString() override;
  // Applies baudrate, databits, stopbits, parity, dtr, rts; then settings-changed; then opens
  // when "active" is true. Bad numbers or Booleans raise, keeping what was applied before.
  void SetConnectionString(const std::string& Text) override;

  std::int32_t GetBaudRate() override = 0;
  // Keeps the character time in step with the speed; 0 raises.
  void SetBaudRate(std::int32_t Value) override;
  void PurgeInput() override = 0;
  void PurgeOutput() override = 0;

 protected:
  void* FindInterface(const TGUID& iid) override;
};

// A serial channel that keeps its settings itself rather than in a port component (the USB
// adapter, the serial device server): the getters answer the kept values, and each kind's
// setters send a value to its device before keeping it.
class TKeptSettingsSerialInterface : public TSerialPortCoreInterface {
 public:
  std::int32_t GetBaudRate() override { return FBaudRate; }
  bool GetRTS() override { return FRTS; }
  bool GetDTR() override { return FDTR; }
  std::uint8_t GetStopBits() override { return FStopBits; }
  std::uint8_t GetParity() override { return FParity; }
  std::uint8_t GetDataBits() override { return FDataBits; }

 protected:
  // The speed and the state of both control lines until the first setting.
  TKeptSettingsSerialInterface(std::string ConnectionString, std::int32_t BaudRate,
                               bool ControlLines)
      : TSerialPortCoreInterface(std::move(ConnectionString)),
        FBaudRate(BaudRate),
        FRTS(ControlLines),
        FDTR(ControlLines) {}
  TKeptSettingsSerialInterface(const TXMLNode& Element, TIntfPtr<IInterface> Parent,
                               std::int32_t BaudRate, bool ControlLines)
      : TSerialPortCoreInterface(Element, std::move(Parent)),
        FBaudRate(BaudRate),
        FRTS(ControlLines),
        FDTR(ControlLines) {}

  std::atomic<std::int32_t> FBaudRate;
  std::atomic<bool> FRTS;
  std::atomic<bool> FDTR;
  std::atomic<std::uint8_t> FDataBits{8};
  std::atomic<std::uint8_t> FStopBits{0};
  std::atomic<std::uint8_t> FParity{0};
};

class TSerialPortInterface : public TSerialPortCoreInterface {
 public:
  explicit TSerialPortInterface(std::string ConnectionString = {});
  TSerialPortInterface(const TXMLNode& Element, TIntfPtr<IInterface> Parent);
  ~TSerialPortInterface() override;

  bool GetActive() override;
  bool Open() override;
  bool Close(bool Force) override;
  std::int32_t Write(const std::string& Data) override;
  void Read(std::string& Data) override;
  std::int32_t InputCount() override;
  std::string GetPortName() override;
  std::string GetDeviceNode() override;
  void SetPresent(bool Value) override;
  void PurgeInput() override;
  void PurgeOutput() override;
  // The serial settings, then ";comport=N".
  std::string GetConnectionString() override;
  // "comport=N" (or a text that is "COM" and a number) selects the port; then the serial keys.
  void SetConnectionString(const std::string& Text) override;

  std::int32_t GetBaudRate() override;
  void SetBaudRate(std::int32_t Value) override;
  bool GetRTS() override;
  void SetRTS(bool Value) override;
  bool GetDTR() override;
  void SetDTR(bool Value) override;
  bool GetCTS() override;
  bool GetDSR() override;
  std::uint8_t GetStopBits() override;
  void SetStopBits(std::uint8_t Value) override;
  std::uint8_t GetParity() override;
  void SetParity(std::uint8_t Value) override;
  std::uint8_t GetDataBits() override;
  void SetDataBits(std::uint8_t Value) override;
  std::int32_t GetOutBufSize() override;
  void SetOutBufSize(std::int32_t Value) override;
  std::int32_t GetInBufSize() override;
  void SetInBufSize(std::int32_t Value) override;

 private:
  void SetUpPort();
  void DetachPort();
  void PortOpened(TAfCustomSerialPort* Sender);
  void PortClosed(TAfCustomSerialPort* Sender);
  void PortDataReceived(TAfCustomSerialPort* Sender, std::int32_t Count);
  void PortLine(std::int32_t LineCode, int ModemLine);

  // The manager looks channels up by name on the window's thread while a search tests them.
  mutable std::mutex FLabelLock;
  std::string FPortLabel;
  std::unique_ptr<TAfComPort> FPort;
};
