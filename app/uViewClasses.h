#pragma once
// The classes of the window's elements: whether each is a control, whether it holds other
// controls, and the properties it publishes with their kinds and first values.
#include <functional>
#include <initializer_list>
#include <string_view>

#include "app/uViewElement.h"

struct TPropertyDef {
  const char* Name;
  TPropertyKind Kind;
  TVariant Default;
};
using TPropertyDefs = std::initializer_list<TPropertyDef>;

struct TViewClass {
  std::string_view Name;
  bool Control;
  bool Windowed;
  std::initializer_list<const TPropertyDefs*> Groups;
};

// The class named ClassName. Any other name is taken as a windowed control with the common
// properties; front ends add what else they need with AddProperty.
const TViewClass& ViewClass(std::string_view ClassName);

// Visits every property of Class, those of every component first.
void ForEachProperty(const TViewClass& Class,
                     const std::function<void(const TPropertyDef&)>& Visit);
