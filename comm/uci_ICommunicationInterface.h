#pragma once
// The channel contract: open/close, raw reads and writes, the request/response exchange
// Query, settings as connection strings, and the channel's notifications. Channel kinds
// derive from TCommunicationInterface and provide the primitive operations.
//
// Channel kinds are made with Create<Kind>(...) (see ui_MyInterfacedObject.h). Their C++
// constructors build their own device state and pass the connection string (or the XML
// element and parent) on to the TCommunicationInterface constructor; the string is applied
// afterwards through the kind's own SetConnectionString, when the whole object exists.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <typeindex>
#include <utility>
#include <vector>

#include "comm/uChannelProblem.h"
#include "comm/uEventer.h"
#include "comm/uiNodedInterface.h"

class ICommunicationInterface;

// Handler types; an empty handler is allowed.
using TCiNotify = TMethod<void(const TIntfPtr<ICommunicationInterface>&)>;
using TCiNotifyChangeEvent =
    TMethod<void(const TIntfPtr<ICommunicationInterface>&, std::int32_t, bool)>;
// Completeness test of Query: 0 means the reply so far is complete, kReplyCannotComplete that
// no further byte can make it complete (the exchange ends at once), anything else "not yet".
using TIsCompleteFunc = std::function<std::uint16_t(const std::string& Reply)>;
inline constexpr std::uint16_t kReplyCannotComplete = 0xFFFF;
// The longest reply Query collects unless the caller names its own limit.
inline constexpr std::size_t kDefaultReplyLimit = 65536;

// Why a channel could not be opened, as far as its user can act on it.
enum class TOpenFailure { None, Missing, InUse, Denied };

// The time limits of one exchange, counted from the end of the write.
struct TQueryTimeLimits {
  std::chrono::milliseconds FirstReply;  // until the first byte of the reply
  std::chrono::milliseconds Quiet;       // after each chunk, until the next
  std::chrono::milliseconds Whole;       // the whole reply, however its bytes come
};

// Modem line codes of the modem-line notification.
enum : std::int32_t {
  MODEM_LINE_RTS = 0,
  MODEM_LINE_CTS = 1,
  MODEM_LINE_DTR = 2,
  MODEM_LINE_DSR = 3,
  MODEM_LINE_RING = 4
};

// Directions given to Trace.
enum : std::uint8_t { TRACE_WRITTEN = 1, TRACE_READ = 2 };

class ICommunicationInterfaceCore : public virtual IInterface {
 public:
  static constexpr TGUID IID = TGUID::FromText("{76A7FD53-30E9-4F5A-9B92-90AC61E19EA0}");

  virtual void SetOnDataReceived(const TCiNotify& Handler) = 0;
  virtual TCiNotify GetOnDataReceived() = 0;
  virtual TeventerCiNotify& GetDataReceivedEvents() = 0;
  virtual bool SetActive(bool Value) = 0;

 protected:
  ~ICommunicationInterfaceCore() = default;
};

class ICommunicationInterface : public ICommunicationInterfaceCore {
 public:
  static constexpr TGUID IID = TGUID::FromText("{A08B3416-51DC-4315-940D-D6110F114164}");

  virtual bool GetActive() = 0;
  virtual bool Open() = 0;
  virtual bool Close(bool Force) = 0;
  virtual std::int32_t Write(const std::string& Data) = 0;
  virtual void Read(std::string& Data) = 0;
  virtual std::int32_t InputCount() = 0;
  virtual bool GetPresent() = 0;
  virtual void SetPresent(bool Value) = 0;
  virtual std::string GetPortName() = 0;
  virtual std::string GetDescription() = 0;
  virtual bool ShowSettingsDialog() = 0;
  virtual bool HasSettingsDialog() = 0;
  virtual std::string GetConnectionString() = 0;
  virtual void SetConnectionString(const std::string& Text) = 0;
  virtual TCiNotify GetOnOpened() = 0;
  virtual void SetOnOpened(const TCiNotify& Handler) = 0;
  virtual TeventerCiNotify& GetOpenedEvents() = 0;
  virtual TCiNotify GetOnClosed() = 0;
  virtual void SetOnClosed(const TCiNotify& Handler) = 0;
  virtual TeventerCiNotify& GetClosedEvents() = 0;
  virtual TCiNotifyChangeEvent GetOnModemLineChange() = 0;
  virtual void SetOnModemLineChange(const TCiNotifyChangeEvent& Handler) = 0;
  virtual TeventerCiNotify& GetSettingsChangedEvents() = 0;
  virtual TeventerCiNotifyChangeEvent& GetModemLineEvents() = 0;
  // Purges, writes Request and collects the reply until the line stays quiet, the time runs
  // out, IsComplete says the reply is complete or cannot be, the reply reaches ReplyLimit
  // bytes or the device goes away. Timeout in ms. An empty reply when the channel is closed.
  virtual void Query(const std::string& Request, std::int32_t Timeout, std::string& Reply,
                     const TIsCompleteFunc& IsComplete = {},
                     std::size_t ReplyLimit = kDefaultReplyLimit) = 0;
  virtual void ReadBuffered(std::int32_t Count, std::string& Data) = 0;
  virtual std::int32_t BufferedCount(bool Fetch) = 0;
  virtual void PeekBuffered(std::int32_t Count, std::string& Data) = 0;
  virtual double GetCharTime() = 0;
  virtual void PurgeInput() = 0;
  virtual void PurgeOutput() = 0;
  virtual bool TryLock() = 0;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  // Why the last Open failed (None after one that succeeded, or before any).
  virtual TOpenFailure GetOpenFailure() = 0;
  // The latest fault the channel found beyond a missing module, which the operator is told
  // ("COM9: cannot resolve gw-hall3.plant.lan"); none when there is none.
  virtual TChannelProblem GetProblem() = 0;
  // The device node behind the channel, which the user needs access to (/dev/ttyUSB0,
  // /dev/bus/usb/001/004); empty where there is none (a device server) or it is not known.
  virtual std::string GetDeviceNode() = 0;

 protected:
  ~ICommunicationInterface() = default;
};

// Holds a channel's lock for a scope.
class TChannelLock {
 public:
  explicit TChannelLock(ICommunicationInterface& Channel) : FChannel(Channel) { FChannel.Lock(); }
  ~TChannelLock() { FChannel.Unlock(); }
  TChannelLock(const TChannelLock&) = delete;
  TChannelLock& operator=(const TChannelLock&) = delete;

 private:
  ICommunicationInterface& FChannel;
};

class TCommunicationInterface : public TNodedInterface, public ICommunicationInterface {
 public:
  explicit TCommunicationInterface(std::string ConnectionString = {});
  TCommunicationInterface(const TXMLNode& Element, TIntfPtr<IInterface> Parent);
  ~TCommunicationInterface() override;

  void SetOnDataReceived(const TCiNotify& Handler) override;
  TCiNotify GetOnDataReceived() override;
  TeventerCiNotify& GetDataReceivedEvents() override;
  bool SetActive(bool Value) override;

  // Abstract: every channel kind provides these.
  bool GetActive() override = 0;
  std::int32_t Write(const std::string& Data) override = 0;
  std::int32_t InputCount() override = 0;
  std::string GetPortName() override = 0;

  bool Open() override;                   // CharTime := 10; false
  bool Close(bool Force) override;        // false
  void Read(std::string& Data) override;  // empty
  bool GetPresent() override;
  void SetPresent(bool Value) override;
  std::string GetDescription() override;  // the port name
  // No channel kind of this program has a settings dialog: both answer false.
  bool ShowSettingsDialog() override;
  bool HasSettingsDialog() override;
  std::string GetConnectionString() override;                  // empty
  void SetConnectionString(const std::string& Text) override;  // settings-changed
  TCiNotify GetOnOpened() override;
  void SetOnOpened(const TCiNotify& Handler) override;
  TeventerCiNotify& GetOpenedEvents() override;
  TCiNotify GetOnClosed() override;
  void SetOnClosed(const TCiNotify& Handler) override;
  TeventerCiNotify& GetClosedEvents() override;
  TCiNotifyChangeEvent GetOnModemLineChange() override;
  void SetOnModemLineChange(const TCiNotifyChangeEvent& Handler) override;
  TeventerCiNotify& GetSettingsChangedEvents() override;
  TeventerCiNotifyChangeEvent& GetModemLineEvents() override;
  void Query(const std::string& Request, std::int32_t Timeout, std::string& Reply,
             const TIsCompleteFunc& IsComplete = {},
             std::size_t ReplyLimit = kDefaultReplyLimit) override;
  // Every time limit of an exchange is derived here, from the caller's time limit, the
  // line's character time (the request's own transmission included) and the longest reply.
  TQueryTimeLimits QueryTimeLimits(std::int32_t Timeout, std::size_t RequestSize,
                                   std::size_t ReplyLimit);
  // The device behind the channel went away (line hung up, adapter pulled): see SetDeviceGone.
  bool DeviceGone() const { return FDeviceGone; }
  void ReadBuffered(std::int32_t Count, std::string& Data) override;
  std::int32_t BufferedCount(bool Fetch) override;
  void PeekBuffered(std::int32_t Count, std::string& Data) override;
  double GetCharTime() override;
  void PurgeInput() override;   // nothing here
  void PurgeOutput() override;  // nothing here
  bool TryLock() override;
  void Lock() override;
  void Unlock() override;
  TOpenFailure GetOpenFailure() override { return FOpenFailure; }
  TChannelProblem GetProblem() override;
  std::string GetDeviceNode() override;  // empty

  // Node binding plus the "connectionstring" attribute.
  void LoadFromXML(const TXMLNode& Element, bool Attach, bool ReloadGUID) override;
  void SaveToXML() override;

  // Milliseconds a link to the device adds to an exchange (its round trip, and how long it
  // may hold bytes back before passing them on): added to every exchange's time limit and to
  // its quiet time. 0 for a line attached to this machine.
  virtual std::int32_t GetLinkDelay();

  // Gives written (TRACE_WRITTEN, before each write) or read (TRACE_READ, after each read)
  // bytes to the traffic monitor when it is on.
  virtual void Trace(std::uint8_t Direction, const std::string& Data);

 protected:
  void* FindInterface(const TGUID& iid) override;
  void AfterConstruction() override;

  // Notifications for the channel kinds; a failing listener never reaches the caller.
  void DoDataReceived(const TIntfPtr<ICommunicationInterface>& Channel = {});
  void DoOpened();
  void DoClosed();
  void DoModemLineChange(std::int32_t Line, bool State);
  void DoSettingsChanged();

  void SetCharTime(double Milliseconds);
  // For channel kinds. A device that went away is reported so: the kind closes itself and
  // raises the closed notification; until it is opened again InputCount gives -1 (so a
  // Query ends at once) and every other operation returns its fixed value without raising.
  void SetDeviceGone(bool Gone) { FDeviceGone = Gone; }
  void SetOpenFailure(TOpenFailure Failure) { FOpenFailure = Failure; }
  // For channel kinds; true when Problem differs from the one kept so far.
  bool SetProblem(const TChannelProblem& Problem);
  TIntfPtr<ICommunicationInterface> SelfChannel() {
    return TIntfPtr<ICommunicationInterface>(this);
  }

 private:
  // One InputCount and, when bytes wait, one Read appended to ReceiveBuffer.
  void Fetch();

  struct TPendingCreation {
    std::string ConnectionString;
    bool FromXML = false;
    TXMLNode Element;
    TIntfPtr<IInterface> Parent;
  };
  TPendingCreation FPending;

  std::mutex FHandlerLock;  // the single handlers may be set while another thread raises
  TCiNotify FOnDataReceived;
  TCiNotify FOnOpened;
  TLazy<TeventerCiNotify> FOpenedEvents;
  TCiNotify FOnClosed;
  TLazy<TeventerCiNotify> FClosedEvents;
  TLazy<TeventerCiNotify> FDataReceivedEvents;
  TCiNotifyChangeEvent FOnModemLineChange;
  TLazy<TeventerCiNotifyChangeEvent> FModemLineEvents;
  TLazy<TeventerCiNotify> FSettingsChangedEvents;
  std::recursive_mutex FLock;
  std::mutex FBufferLock;
  std::string FReceiveBuffer;
  std::atomic<bool> FPresent{false};
  std::atomic<double> FCharTime{0.0};
  std::atomic<bool> FDeviceGone{false};
  std::atomic<TOpenFailure> FOpenFailure{TOpenFailure::None};
  std::mutex FProblemLock;
  TChannelProblem FProblem;
};

// The program is ending (an interrupt or termination signal): every exchange ends at once
// with what it has, and none starts waiting for a reply. Safe to call from a signal handler.
void StopExchanges();
// True once the program is asked to end, and on a thread inside a TThreadStopScope once its
// flag is set: every wait of an exchange or of opening a channel ends on either.
bool ExchangesStopped();

// While it lives, the calling thread's exchanges and channel opens (name lookups, connects,
// negotiations) end as soon as Stop is set, as they do when the program is asked to end.
class TThreadStopScope {
 public:
  explicit TThreadStopScope(const std::atomic<bool>& Stop);
  ~TThreadStopScope();
  TThreadStopScope(const TThreadStopScope&) = delete;
  TThreadStopScope& operator=(const TThreadStopScope&) = delete;

 private:
  const std::atomic<bool>* FPrevious;
};

// Whether Channel was closed because its device went away: closed, and InputCount -1.
bool IsDeviceGone(ICommunicationInterface& Channel);

// Channel kinds enter themselves here when their module starts. A class is named by its
// type; the pairs keep their order.
using TChannelClass = std::type_index;
bool RegisterChannelClass(TChannelClass Class, const std::string& Tag);
bool UnregisterChannelClass(TChannelClass Class);
std::vector<std::pair<std::string, TChannelClass>> RegisteredChannelClasses();

// Sets the trace hook from the program's arguments ("DST" or "STD"): done once at start;
// tests call it again after SetProgramArgs. True when the monitor is on.
bool InitTraceMonitor();
