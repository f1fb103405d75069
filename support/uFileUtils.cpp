#include "support/uFileUtils.h"

#include <cerrno>

#include <unistd.h>

int WriteAll(int Descriptor, std::string_view Bytes) {
  std::size_t done = 0;
  while (done < Bytes.size()) {
    const ssize_t written = ::write(Descriptor, Bytes.data() + done, Bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 && errno ? errno : EIO;
    done += static_cast<std::size_t>(written);
  }
  return 0;
}
