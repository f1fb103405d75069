#include "support/uCodePage.h"

#include <algorithm>
#include <cerrno>

#include <iconv.h>

#include "support/uErrors.h"

namespace {

class TIconv {
 public:
  TIconv(const char* to, const char* from) : FHandle(iconv_open(to, from)) {
    if (FHandle == reinterpret_cast<iconv_t>(-1))
      throw Exception(std::string("Code page conversion not available: ") + from + " -> " + to);
  }
  ~TIconv() { iconv_close(FHandle); }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;
  iconv_t get() const { return FHandle; }

 private:
  iconv_t FHandle;
};

// Length of the well-formed UTF-8 sequence at the start of text, 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t index) { return static_cast<unsigned char>(text[index]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return length;
}

// Converts everything; a sequence the converter refuses is replaced by '?' and skipped
// (one byte of Windows-1250, a whole well-formed UTF-8 character or one stray byte).
std::string Convert(std::string_view text, const char* to, const char* from, bool fromUtf8) {
  TIconv cd(to, from);
  std::string result;
  result.reserve(text.size() * 2);
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char buffer[1024];
  while (inLeft > 0) {
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t rc = iconv(cd.get(), &in, &inLeft, &out, &outLeft);
    const int error = errno;
    result.append(buffer, static_cast<std::size_t>(out - buffer));
    if (rc != static_cast<std::size_t>(-1) || error == E2BIG) continue;
    // EILSEQ: not representable or malformed; EINVAL: cut off at the end.
    std::size_t skip = 1;
    if (fromUtf8 && error == EINVAL)
      skip = inLeft;
    else if (fromUtf8)
      skip = std::max<std::size_t>(1, Utf8SequenceLength(std::string_view(in, inLeft)));
    result.push_back('?');
    in += skip;
    inLeft -= skip;
  }
  return result;
}

}  // namespace

std::string Cp1250ToUtf8(std::string_view text) {
  return Convert(text, "UTF-8", "WINDOWS-1250", false);
}

std::string Utf8ToCp1250(std::string_view text) {
  return Convert(text, "WINDOWS-1250", "UTF-8", true);
}
