#include "serial/AfComPortCoreThread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>

#include "serial/AfSafeSync.h"
#include "support/uMessages.h"

void ShowOnMainThread(std::exception_ptr Error) {
  try {
    std::rethrow_exception(Error);
  } catch (const EAbort&) {
  } catch (const std::exception& error) {
    AfMainThreadDispatcher()->Post([text = std::string(error.what())] { ShowMessage(text); });
  } catch (...) {
  }
}

void TAfComPortCoreThread::Start() {
  FThread = std::thread([this] {
    FTid = static_cast<pid_t>(gettid());
    Execute();
    const auto self = std::move(FSelf);  // an orphaned thread ends with its object
  });
}

void TAfComPortCoreThread::Orphan(std::unique_ptr<TAfComPortCoreThread> Self) {
  TAfComPortCoreThread& thread = *Self;
  thread.Terminate();
  thread.FThread.detach();
  thread.FSelf = std::move(Self);
}

void TAfComPortCoreThread::SetPriority(TThreadPriority Priority) {
  static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -20};
  const pid_t tid = FTid;
  if (tid > 0) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), kNice[Priority]);
}

void TAfComPortCoreThread::Announce(const char* Name) {
  pthread_setname_np(pthread_self(), Name);
  FCore.FThreadStarted.Set(kThreadStartedSignal);
}
