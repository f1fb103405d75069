#include "support/uFileUtils.h"

#include <cerrno>

#include <fcntl.h>
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

int WriteWholeFile(const std::string& Path, std::string_view Bytes) {
  const int descriptor = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (descriptor < 0) return errno;
  const int error = WriteAll(descriptor, Bytes);
  // A full disk may show only when the file is closed.
  if (::close(descriptor) != 0 && error == 0) return errno;
  return error;
}
