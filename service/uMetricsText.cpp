#include "service/uMetricsText.h"

#include <charconv>
#include <cmath>
#include <functional>

namespace {

// One sample's labels, in order.
using TLabels = std::vector<std::pair<const char*, std::string>>;

std::string Escaped(const std::string& Value) {
  std::string text;
  text.reserve(Value.size());
  for (const char c : Value) {
    if (c == '\\' || c == '"')
      text += {'\\', c};
    else if (c == '\n')
      text += "\\n";
    else
      text += c;
  }
  return text;
}

template <class TNumber>
std::string Number(TNumber Value) {
  if (std::isnan(Value)) return "NaN";
  if (std::isinf(Value)) return Value > 0 ? "+Inf" : "-Inf";
  char buffer[64];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, Value).ptr;
  return std::string(buffer, end);
}

class TFamilyWriter {
 public:
  explicit TFamilyWriter(std::string& Out) : FOut(Out) {}
  void Family(const char* Name, const char* Type, const char* Help) {
    FName = Name;
    FOut += std::string("# HELP ") + Name + " " + Help + "\n# TYPE " + Name + " " + Type + "\n";
  }
  void Sample(const TLabels& Labels, const std::string& Value) {
    FOut += FName;
    for (std::size_t index = 0; index < Labels.size(); ++index)
      FOut += (index == 0 ? "{" : ",") + std::string(Labels[index].first) + "=\"" +
              Escaped(Labels[index].second) + "\"";
    FOut += (Labels.empty() ? " " : "} ") + Value + "\n";
  }

 private:
  std::string& FOut;
  const char* FName = "";
};

TLabels ModuleLabels(const TServedModule& Module) {
  return {{"model", Module.Model},
          {"serial", Module.Serial},
          {"port", Module.Port},
          {"address", Module.Address ? std::to_string(*Module.Address) : std::string()}};
}

const char* const kFailureReasons[kServedReadFailureKinds] = {"no_answer", "garbled",
                                                              "channel_gone"};

double Seconds(std::chrono::system_clock::time_point Time) {
  return std::chrono::duration<double>(Time.time_since_epoch()).count();
}

}  // namespace

std::string RenderMetrics(const TMetricsInput& Input) {
  std::string out;
  out.reserve(512 + Input.Modules.size() * 2048);
  TFamilyWriter writer(out);
  const auto fresh = [&Input](const TServedModule& Module) {
    return Module.LastRead && Input.Now - *Module.LastRead <= Input.MaxAge;
  };
  const auto eachModule = [&Input](const std::function<void(const TServedModule&)>& Write) {
    for (const TServedModule& module : Input.Modules) Write(module);
  };

  writer.Family("kvx_build_info", "gauge", "The serving program's version, always 1.");
  writer.Sample({{"version", Input.Version}}, "1");

  writer.Family("kvx_module_up", "gauge",
                "1 when the module answers its reads, 0 when it stopped or was not found.");
  eachModule([&](const TServedModule& m) { writer.Sample(ModuleLabels(m), m.Up ? "1" : "0"); });

  writer.Family("kvx_module_last_read_timestamp_seconds", "gauge",
                "When the module last answered a read, in seconds since the epoch.");
  eachModule([&](const TServedModule& m) {
    if (m.LastRead) writer.Sample(ModuleLabels(m), Number(Seconds(*m.LastRead)));
  });

  writer.Family("kvx_module_reads_total", "counter", "Reads of the measured values asked.");
  eachModule([&](const TServedModule& m) {
    if (!m.Port.empty()) writer.Sample(ModuleLabels(m), std::to_string(m.Reads));
  });

  writer.Family("kvx_module_read_failures_total", "counter",
                "Reads that failed, by reason: no answer, a garbled reply, the channel gone.");
  eachModule([&](const TServedModule& m) {
    if (m.Port.empty()) return;
    for (std::size_t reason = 0; reason < kServedReadFailureKinds; ++reason) {
      TLabels labels = ModuleLabels(m);
      labels.emplace_back("reason", kFailureReasons[reason]);
      writer.Sample(labels, std::to_string(m.Failures[reason]));
    }
  });

  const auto eachChannel = [&](const std::function<void(const TServedChannel&, TLabels)>& Write) {
    eachModule([&](const TServedModule& m) {
      if (!fresh(m)) return;
      for (int index = 0; index < kChannelCount; ++index) {
        const TServedChannel& channel = m.Channels[index];
        TLabels labels = ModuleLabels(m);
        labels.emplace_back("channel", std::to_string(index + 1));
        labels.emplace_back("name", channel.Name);
        labels.emplace_back("unit", channel.Unit);
        Write(channel, std::move(labels));
      }
    });
  };
  writer.Family("kvx_channel_value", "gauge",
                "The channel's measured value in its unit; none while it has no value or an "
                "overflow.");
  eachChannel([&](const TServedChannel& channel, TLabels labels) {
    if (channel.Status == TServedChannelStatus::Value)
      writer.Sample(labels, Number(static_cast<float>(channel.Value)));
  });
  writer.Family("kvx_channel_overflow", "gauge", "1 while the channel's input is overflowed.");
  eachChannel([&](const TServedChannel& channel, TLabels labels) {
    writer.Sample(labels, channel.Status == TServedChannelStatus::Overflow ? "1" : "0");
  });

  writer.Family("kvx_line_cycle_seconds", "gauge",
                "How long the line took for its last round of reads; longer than the period "
                "when its modules do not fit in it.");
  for (const auto& [port, seconds] : Input.LineCycles)
    writer.Sample({{"port", port}}, Number(seconds));
  return out;
}
