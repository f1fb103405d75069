#pragma once
// Messages for the operator. The application installs the handler that shows them
// (a modal box in the window); until then they go to standard error. Tests capture them.
#include <functional>
#include <string>

using TMessageHandler = std::function<void(const std::string& text)>;

void ShowMessage(const std::string& text);
// Installs a handler and returns the previous one; an empty handler restores the default.
TMessageHandler SetMessageHandler(TMessageHandler handler);

// Installs a handler for its lifetime and puts the previous one back.
class TScopedMessageHandler {
 public:
  explicit TScopedMessageHandler(TMessageHandler Handler)
      : FPrevious(SetMessageHandler(std::move(Handler))) {}
  ~TScopedMessageHandler() { SetMessageHandler(std::move(FPrevious)); }
  TScopedMessageHandler(const TScopedMessageHandler&) = delete;
  TScopedMessageHandler& operator=(const TScopedMessageHandler&) = delete;

 private:
  TMessageHandler FPrevious;
};
