#include "comm/uGUID.h"

#include <uuid/uuid.h>

#include "support/uErrors.h"

std::string GUIDToString(const TGUID& guid) {
  uuid_t raw;
  static_assert(sizeof(raw) == sizeof(guid.Bytes));
  std::copy(guid.Bytes.begin(), guid.Bytes.end(), raw);
  char text[37];
  uuid_unparse_upper(raw, text);
  return "{" + std::string(text) + "}";
}

TGUID StringToGUID(std::string_view text) {
  if (!TGUID::IsWellFormed(text))
    throw Exception("'" + std::string(text) + "' is not a valid GUID value");
  return TGUID::FromText(text);
}

TGUID NewGUID() {
  uuid_t raw;
  uuid_generate(raw);
  TGUID guid;
  std::copy(raw, raw + sizeof(raw), guid.Bytes.begin());
  return guid;
}
