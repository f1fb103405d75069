#include "net/uResolver.h"

#include <netdb.h>
#include <resolv.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// How long this program's lookups wait for one name server answer, once: a lookup the caller
// gave up on ends soon after, so its thread does not linger (the system's default is five
// seconds, twice, per server and per search domain).
constexpr int kNameServerWaitSeconds = 2;

struct TLookup {
  std::string Host;
  std::string Port;
  std::mutex Lock;
  std::condition_variable Ended;
  bool Finished = false;
  int Code = 0;
  std::vector<TSocketAddress> Addresses;
};

struct TAddrInfoFree {
  void operator()(addrinfo* List) const { freeaddrinfo(List); }
};

void RunLookup(const std::shared_ptr<TLookup>& Lookup) {
  // The resolver state is the thread's own: these limits touch no other lookup.
  if (res_init() == 0) {
    _res.retrans = kNameServerWaitSeconds;
    _res.retry = 1;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int code = getaddrinfo(Lookup->Host.c_str(), Lookup->Port.c_str(), &hints, &found);
  const std::unique_ptr<addrinfo, TAddrInfoFree> list(found);
  std::vector<TSocketAddress> addresses;
  for (const addrinfo* entry = list.get(); code == 0 && entry; entry = entry->ai_next) {
    if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
    TSocketAddress address;
    std::memcpy(&address.Address, entry->ai_addr, entry->ai_addrlen);
    address.Length = entry->ai_addrlen;
    address.Family = entry->ai_family;
    addresses.push_back(address);
  }
  {
    std::lock_guard guard(Lookup->Lock);
    Lookup->Code = code;
    Lookup->Addresses = std::move(addresses);
    Lookup->Finished = true;
  }
  Lookup->Ended.notify_all();
}

// The lookup threads: each is joined once its lookup has ended, the rest when the program
// ends.
class TLookupThreads {
 public:
  TLookupThreads() = default;
  TLookupThreads(const TLookupThreads&) = delete;
  TLookupThreads& operator=(const TLookupThreads&) = delete;
  ~TLookupThreads() {
    for (auto& [lookup, thread] : FThreads) thread.join();
  }

  std::shared_ptr<TLookup> Start(const std::string& Host, const std::string& Port) {
    auto lookup = std::make_shared<TLookup>();
    lookup->Host = Host;
    lookup->Port = Port;
    std::lock_guard guard(FLock);
    JoinEnded();
    FThreads.emplace_back(lookup, std::thread(RunLookup, lookup));
    return lookup;
  }

 private:
  void JoinEnded() {
    std::erase_if(FThreads, [](auto& Entry) {
      {
        std::lock_guard guard(Entry.first->Lock);
        if (!Entry.first->Finished) return false;
      }
      Entry.second.join();
      return true;
    });
  }

  std::mutex FLock;
  std::vector<std::pair<std::shared_ptr<TLookup>, std::thread>> FThreads;
};

TLookupThreads& LookupThreads() {
  static TLookupThreads threads;
  return threads;
}

}  // namespace

TResolveResult ResolveHost(const std::string& Host, const std::string& Port,
                           std::chrono::milliseconds Limit, std::vector<TSocketAddress>& Addresses,
                           std::string& Error) {
  Addresses.clear();
  const std::shared_ptr<TLookup> lookup = LookupThreads().Start(Host, Port);
  std::unique_lock guard(lookup->Lock);
  if (!lookup->Ended.wait_for(guard, Limit, [&lookup] { return lookup->Finished; })) {
    Error = "no answer from the name server";
    return TResolveResult::TimedOut;
  }
  if (lookup->Code != 0) {
    Error = gai_strerror(lookup->Code);
    return TResolveResult::Unknown;
  }
  Addresses = lookup->Addresses;
  return TResolveResult::Done;
}
