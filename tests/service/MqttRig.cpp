#include "tests/service/MqttRig.h"

#include <mosquitto.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

std::string TMosquittoBroker::Program() {
  return TLoopbackDaemon::Find({"/usr/sbin/mosquitto", "/usr/bin/mosquitto"});
}

TMosquittoBroker::TMosquittoBroker()
    : FDaemon(Program(), [](const std::string& Dir, int Port) {
        const std::string passwords = Dir + "/passwords";
        const std::string command = "mosquitto_passwd -b -c " + passwords + " " + kUser + " " +
                                    kPassword + " >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("mosquitto_passwd failed");
        const std::string config = Dir + "/mosquitto.conf";
        std::ofstream(config) << "listener " << Port << " 127.0.0.1\n"
                              << "allow_anonymous false\n"
                              // Run as root, it would switch to a user that cannot read Dir.
                              << "user " << getpwuid(geteuid())->pw_name << "\n"
                              << "password_file " << passwords << "\n";
        return std::vector<std::string>{"-c", config};
      }) {}

std::string TMosquittoBroker::PasswordFile(const std::string& Password) const {
  const std::string path = FDaemon.Dir() + "/service-password";
  std::ofstream(path) << Password << "\n";
  return path;
}

std::string TMosquittoBroker::Log() const {
  std::ifstream log(FDaemon.Dir() + "/daemon.log");
  return std::string(std::istreambuf_iterator<char>(log), {});
}

TMqttSubscriber::TMqttSubscriber(int Port, std::function<void(const TReceived&)> OnMessage)
    : FOnMessage(std::move(OnMessage)), FHandle(nullptr, mosquitto_destroy) {
  mosquitto_lib_init();
  FHandle.reset(mosquitto_new(nullptr, true, this));
  mosquitto* handle = FHandle.get();
  mosquitto_username_pw_set(handle, TMosquittoBroker::kUser, TMosquittoBroker::kPassword);
  mosquitto_reconnect_delay_set(handle, 1, 1, false);
  // Subscribed again on every connection: a restarted broker knows nothing of it.
  mosquitto_connect_callback_set(handle, [](mosquitto* Handle, void*, int Code) {
    if (Code == 0) mosquitto_subscribe(Handle, nullptr, "#", 0);
  });
  mosquitto_message_callback_set(
      handle, [](mosquitto*, void* Self, const mosquitto_message* Message) {
        static_cast<TMqttSubscriber*>(Self)->Received(
            {Message->topic,
             std::string(static_cast<const char*>(Message->payload), Message->payloadlen),
             std::chrono::system_clock::now()});
      });
  if (mosquitto_connect(handle, "127.0.0.1", Port, 30) != MOSQ_ERR_SUCCESS)
    throw std::runtime_error("the subscriber cannot connect");
  mosquitto_loop_start(handle);
}

TMqttSubscriber::~TMqttSubscriber() {
  mosquitto_disconnect(FHandle.get());
  mosquitto_loop_stop(FHandle.get(), false);
}

void TMqttSubscriber::Received(TReceived Message) {
  if (FOnMessage) return FOnMessage(Message);
  std::lock_guard lock(FMutex);
  FKept.push_back(std::move(Message));
  FArrived.notify_all();
}

std::optional<TReceived> TMqttSubscriber::WaitFor(
    const std::function<bool(const TReceived&)>& Match, std::chrono::seconds Timeout) {
  std::unique_lock lock(FMutex);
  std::optional<TReceived> found;
  FArrived.wait_for(lock, Timeout, [&] {
    for (auto message = FKept.begin(); message != FKept.end(); ++message) {
      if (!Match(*message)) continue;
      found = *message;
      FKept.erase(FKept.begin(), message + 1);
      return true;
    }
    return false;
  });
  return found;
}
