#include "support/uXmlUtils.h"

#include <algorithm>
#include <exception>

#include "support/uErrors.h"
#include "support/uLocaleSettings.h"

TVariant ReadAttr(const TXMLNode& Node, std::string_view Name, const TVariant& Default,
                  bool Normalise) {
  TVariant value = Node && Node.HasAttribute(Name) ? Node.GetAttribute(Name) : Default;
  if (Normalise) value = TVariant(NormalizeDecimalSeparator(value.ToText()));
  if (value.IsNull()) throw Exception("Variant is Null !!!! ***");
  if (value.IsEmpty()) throw Exception("Variant is Empty !!!! ***");
  return value;
}

bool TryReadAttr(const TXMLNode& Node, std::string& Text, std::string_view Name) {
  try {
    if (!Node || !Node.HasAttribute(Name)) return false;
    Text = Node.GetAttribute(Name).ToText();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::string NormalizeDecimalSeparator(std::string_view Text) {
  std::string result(Text);
  const char separator = DecimalSeparator();
  if (separator == ',')
    std::replace(result.begin(), result.end(), '.', ',');
  else if (separator == '.')
    std::replace(result.begin(), result.end(), ',', '.');
  return result;
}
