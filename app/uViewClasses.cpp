#include "app/uViewClasses.h"

#include "app/uWindowColors.h"

namespace {

const TPropertyDefs kComponent = {{"Tag", TPropertyKind::Integer, 0}};
const TPropertyDefs kControl = {
    {"Left", TPropertyKind::Integer, 0},        {"Top", TPropertyKind::Integer, 0},
    {"Width", TPropertyKind::Integer, 0},       {"Height", TPropertyKind::Integer, 0},
    {"Visible", TPropertyKind::Boolean, true},  {"Enabled", TPropertyKind::Boolean, true},
    {"Hint", TPropertyKind::Text, ""},          {"ShowHint", TPropertyKind::Boolean, false},
    {"Color", TPropertyKind::Color, clBtnFace}, {"FontColor", TPropertyKind::Color, clBlack},
};
const TPropertyDefs kCaption = {{"Caption", TPropertyKind::Text, ""}};
const TPropertyDefs kTextEdit = {{"Text", TPropertyKind::Text, ""},
                                 {"MaxLength", TPropertyKind::Integer, 0},
                                 {"ReadOnly", TPropertyKind::Boolean, false}};
const TPropertyDefs kList = {{"Items", TPropertyKind::Strings, ""},
                             {"ItemIndex", TPropertyKind::Integer, -1}};
const TPropertyDefs kNumEdit = {{"ReadOnly", TPropertyKind::Boolean, false},
                                {"ShowName", TPropertyKind::Text, kNumberValueName},
                                {"AutoCorrect", TPropertyKind::Boolean, true},
                                {"RangeMessage", TPropertyKind::Text, kNumberRangeMessage}};
const TPropertyDefs kIntEdit = {{"Value", TPropertyKind::Integer, 0},
                                {"MinValue", TPropertyKind::Integer, 0},
                                {"MaxValue", TPropertyKind::Integer, 100},
                                {"Increment", TPropertyKind::Integer, 1}};
const TPropertyDefs kDoubleEdit = {{"Value", TPropertyKind::Real, 0.0},
                                   {"MinValue", TPropertyKind::Real, 0.0},
                                   {"MaxValue", TPropertyKind::Real, 100.0},
                                   {"Increment", TPropertyKind::Real, 1.0},
                                   {"Decimals", TPropertyKind::Integer, 2}};
const TPropertyDefs kShape = {{"PenColor", TPropertyKind::Color, clBlack},
                              {"BrushColor", TPropertyKind::Color, clWhite}};
const TPropertyDefs kShapeButton = {{"Down", TPropertyKind::Boolean, false},
                                    {"Group", TPropertyKind::Integer, 0},
                                    {"AllowDown", TPropertyKind::Boolean, false},
                                    {"AllowUp", TPropertyKind::Boolean, false}};
const TPropertyDefs kCheckBox = {{"Checked", TPropertyKind::Boolean, false}};
const TPropertyDefs kProgress = {{"Min", TPropertyKind::Integer, 0},
                                 {"Max", TPropertyKind::Integer, 100},
                                 {"Position", TPropertyKind::Integer, 0}};
const TPropertyDefs kTimer = {{"Enabled", TPropertyKind::Boolean, true},
                              {"Interval", TPropertyKind::Integer, 1000}};
const TPropertyDefs kImageList = {{"Width", TPropertyKind::Integer, 16},
                                  {"Height", TPropertyKind::Integer, 16}};
const TPropertyDefs kForm = {{"ActiveControl", TPropertyKind::Text, ""}};

// Classes that the window uses.
const TViewClass kClasses[] = {
    {"TfMain", true, true, {&kControl, &kCaption, &kForm}},
    {"TPanel", true, true, {&kControl, &kCaption}},
    {"TLabel", true, false, {&kControl, &kCaption}},
    {"TButton", true, true, {&kControl, &kCaption}},
    {"TCheckBox", true, true, {&kControl, &kCaption, &kCheckBox}},
    {"TEdit", true, true, {&kControl, &kTextEdit}},
    {"TMemo", true, true, {&kControl, &kTextEdit}},
    {"TIntEdit", true, true, {&kControl, &kNumEdit, &kIntEdit}},
    {"TDoubleEdit", true, true, {&kControl, &kNumEdit, &kDoubleEdit}},
    {"TComboBox", true, true, {&kControl, &kList}},
    {"TListBox", true, true, {&kControl, &kList}},
    {"TProgressBar", true, true, {&kControl, &kProgress}},
    {"TImage", true, false, {&kControl}},
    {"TShape", true, false, {&kControl, &kShape}},
    {"TShapeEx", true, false, {&kControl, &kCaption, &kShape, &kShapeButton}},
    {"TTimer", false, false, {&kTimer}},
    {"TImageList", false, false, {&kImageList}},
    // A text the window fills in or shows elsewhere, kept here so language files reach it.
    {"TLanguageText", false, false, {&kCaption}},
};

}  // namespace

const TViewClass& ViewClass(std::string_view ClassName) {
  static const TViewClass kOther{"", true, true, {&kControl}};
  for (const TViewClass& viewClass : kClasses)
    if (viewClass.Name == ClassName) return viewClass;
  return kOther;
}

void ForEachProperty(const TViewClass& Class,
                     const std::function<void(const TPropertyDef&)>& Visit) {
  for (const TPropertyDef& property : kComponent) Visit(property);
  for (const TPropertyDefs* group : Class.Groups)
    for (const TPropertyDef& property : *group) Visit(property);
}
