#include "support/uPaths.h"

#include <unistd.h>

std::string GetExeDir() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return "./";
    if (static_cast<std::size_t>(n) < path.size()) {
      path.resize(static_cast<std::size_t>(n));
      break;
    }
    path.resize(path.size() * 2);  // possibly cut off: try again with more room
  }
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}
