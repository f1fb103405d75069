#pragma once
// Reading XML attributes with defaults, and decimal texts in the user's notation.
#include <string>
#include <string_view>

#include "support/uVariant.h"
#include "support/uXmlDocument.h"

// The attribute's value when Node has it, else Default; with Normalise the value becomes
// its text with the decimal separator normalised. Raises "Variant is Null !!!! ***" or
// "Variant is Empty !!!! ***" (Exception) when the result is null or empty.
TVariant ReadAttr(const TXMLNode& Node, std::string_view Name, const TVariant& Default,
                  bool Normalise = false);
// Sets Text to the attribute's value and returns true when Node has it; otherwise (or on
// any error) returns false and leaves Text unchanged.
bool TryReadAttr(const TXMLNode& Node, std::string& Text, std::string_view Name);
// With "," as the user's decimal separator every "." becomes ","; with "." every ","
// becomes "."; any other separator leaves Text unchanged.
std::string NormalizeDecimalSeparator(std::string_view Text);
