#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/uViewElement.h"
#include "support/uErrors.h"

using ::testing::ElementsAre;

namespace {

std::string ErrorOf(const std::function<void()>& Action) {
  try {
    Action();
  } catch (const Exception& error) {
    return error.what();
  }
  return "no error";
}

class ViewElementTest : public ::testing::Test {
 protected:
  TViewElement form{"TfMain", "fMain"};
  TViewElement& panel = form.CreateComponent("TPanel", "pTop");
  TViewElement& label = form.CreateComponent("TLabel", "Label1", &panel);
  TViewElement& combo = form.CreateComponent("TComboBox", "cbADR", &panel);
  TViewElement& timer = form.CreateComponent("TTimer", "Timer1");
};

TEST_F(ViewElementTest, OwnershipAndVisualTreeAreSeparate) {
  EXPECT_EQ(label.Owner(), &form);
  EXPECT_EQ(label.Parent(), &panel);
  EXPECT_THAT(form.Components(), ElementsAre(&panel, &label, &combo, &timer));
  EXPECT_THAT(panel.Children(), ElementsAre(&label, &combo));
  EXPECT_THAT(form.Children(), ElementsAre(&panel, &timer));
  EXPECT_TRUE(panel.IsWindowed());
  EXPECT_FALSE(label.IsWindowed());
  EXPECT_TRUE(label.IsControl());
  EXPECT_FALSE(timer.IsControl());
}

TEST_F(ViewElementTest, FindByExactName) {
  EXPECT_EQ(form.FindComponent("cbADR"), &combo);
  EXPECT_EQ(form.FindComponent("CBADR"), nullptr);
  EXPECT_EQ(panel.FindComponent("cbADR"), nullptr);  // the panel owns nothing
  EXPECT_EQ(ErrorOf([&] { form.Component("nothing"); }), "Component nothing not found");
  EXPECT_EQ(ErrorOf([&] { form.CreateComponent("TLabel", "Label1"); }),
            "A component named Label1 already exists");
  form.CreateComponent("TLabel", "");
  EXPECT_NO_THROW(form.CreateComponent("TLabel", ""));  // unnamed ones may repeat
}

TEST_F(ViewElementTest, PropertiesByNameIgnoreCaseAndConvertText) {
  label.Set("caption", "Kanál 1");
  EXPECT_EQ(label.GetText("Caption"), "Kanál 1");
  label.Set("VISIBLE", "false");
  EXPECT_FALSE(label.GetBool("Visible"));
  label.Set("Left", "$1F");
  label.Set("Top", " -12 ");
  label.Set("Width", "0x10");
  EXPECT_EQ(label.GetInt("left"), 31);
  EXPECT_EQ(label.GetInt("Top"), -12);
  EXPECT_EQ(label.GetInt("Width"), 16);
  label.Set("Tag", 3.0);
  EXPECT_EQ(label.GetInt("Tag"), 3);
  label.Set("Hint", 2.5);  // a text property takes any value's text
  EXPECT_EQ(label.GetText("Hint"), "2.5");

  TViewElement& edit = form.CreateComponent("TDoubleEdit", "deMaxValue");
  edit.Set("Value", "12,5");
  EXPECT_DOUBLE_EQ(edit.GetReal("Value"), 12.5);
  edit.Set("Value", -3);
  EXPECT_DOUBLE_EQ(edit.GetReal("Value"), -3.0);
  EXPECT_EQ(edit.GetText("ShowName"), "Hodnota");
}

TEST_F(ViewElementTest, UnknownPropertiesAndBadValuesRaise) {
  EXPECT_EQ(ErrorOf([&] { label.Set("Captoin", "x"); }), "Property Captoin does not exist");
  EXPECT_EQ(ErrorOf([&] { label.Get("Items"); }), "Property Items does not exist");
  EXPECT_EQ(ErrorOf([&] { timer.Set("Caption", "x"); }), "Property Caption does not exist");
  EXPECT_EQ(ErrorOf([&] { label.Set("Left", "12px"); }), "'12px' is not a valid integer value");
  EXPECT_EQ(ErrorOf([&] { label.Set("Left", 1.5); }), "'1.5' is not a valid integer value");
  EXPECT_EQ(ErrorOf([&] { label.Set("Left", "99999999999"); }),
            "'99999999999' is not a valid integer value");
  EXPECT_EQ(ErrorOf([&] { label.Set("Visible", "maybe"); }),
            "'maybe' is not a valid boolean value");
  TViewElement& edit = form.CreateComponent("TDoubleEdit", "deMinValue");
  EXPECT_EQ(ErrorOf([&] { edit.Set("Value", "1.2.3"); }),
            "'1.2.3' is not a valid floating point value");
  EXPECT_EQ(ErrorOf([&] { label.AddItem("x"); }), "Property Items does not exist");
  // A refused value leaves the old one.
  EXPECT_EQ(label.GetInt("Left"), 0);
}

TEST_F(ViewElementTest, ItemsAndSelection) {
  combo.SetItems({"0", "1", "2"});
  combo.Set("ItemIndex", 2);
  EXPECT_EQ(combo.GetInt("ItemIndex"), 2);
  combo.Set("ItemIndex", 3);  // outside the list: no selection
  EXPECT_EQ(combo.GetInt("ItemIndex"), -1);
  combo.Set("ItemIndex", 1);
  combo.AddItem("3", 42);
  EXPECT_EQ(combo.GetInt("ItemIndex"), 1);
  EXPECT_EQ(std::any_cast<int>(combo.ItemData(3)), 42);
  EXPECT_FALSE(combo.ItemData(0).has_value());
  EXPECT_EQ(combo.GetText("Items"), "0\n1\n2\n3");

  combo.DeleteItem(0);  // the selected item moves up with the list
  EXPECT_THAT(combo.Items(), ElementsAre("1", "2", "3"));
  EXPECT_EQ(combo.GetInt("ItemIndex"), 0);
  combo.DeleteItem(0);
  EXPECT_EQ(combo.GetInt("ItemIndex"), -1);
  EXPECT_THROW(combo.DeleteItem(5), Exception);
  EXPECT_THROW(combo.ItemData(5), Exception);

  combo.Set("items", "a\r\nb\n");
  EXPECT_THAT(combo.Items(), ElementsAre("a", "b"));
  combo.Set("ItemIndex", 1);
  combo.ClearItems();
  EXPECT_EQ(combo.ItemCount(), 0u);
  EXPECT_EQ(combo.GetInt("ItemIndex"), -1);
}

TEST_F(ViewElementTest, ListenersHearChangesOfOwnedElementsOnce) {
  std::vector<std::string> heard;
  const int id = form.AddListener([&](TViewElement& element, const std::string& property) {
    heard.push_back(element.Name() + "." + property);
  });
  label.Set("caption", "A");
  label.Set("Caption", "A");  // no change, no report
  combo.AddItem("x");
  panel.Set("Visible", false);
  EXPECT_THAT(heard, ElementsAre("Label1.Caption", "cbADR.Items", "pTop.Visible"));
  form.RemoveListener(id);
  label.Set("Caption", "B");
  EXPECT_EQ(heard.size(), 3u);
}

TEST_F(ViewElementTest, ListenerMayRemoveItselfWhileCalled) {
  int calls = 0;
  int id = 0;
  id = label.AddListener([&](TViewElement&, const std::string&) {
    ++calls;
    label.RemoveListener(id);
  });
  label.Set("Caption", "1");
  label.Set("Caption", "2");
  EXPECT_EQ(calls, 1);
}

TEST_F(ViewElementTest, EditSetsThenReportsTheChange) {
  TViewElement& check = form.CreateComponent("TCheckBox", "cb4_20mA");
  std::vector<bool> seen;
  check.SetHandler("OnChange",
                   [&](TViewElement& sender) { seen.push_back(sender.GetBool("Checked")); });
  check.Set("Checked", true);  // the program's own setting does not report
  EXPECT_TRUE(seen.empty());
  check.Edit("Checked", false);
  EXPECT_THAT(seen, ElementsAre(false));
  EXPECT_TRUE(check.HasHandler("onchange"));
  EXPECT_FALSE(check.HasHandler("OnClick"));
  check.Click();  // no handler: nothing happens
  EXPECT_EQ(seen.size(), 1u);
}

TEST_F(ViewElementTest, HandlerErrorsReachTheCaller) {
  TViewElement& button = form.CreateComponent("TShapeEx", "sSearch");
  button.SetHandler("OnClick", [](TViewElement&) { throw Exception("boom"); });
  EXPECT_EQ(ErrorOf([&] { button.Click(); }), "boom");
}

TEST_F(ViewElementTest, ShapeButtonsOfOneGroupAreDownOneAtATime) {
  TViewElement& menu = form.CreateComponent("TPanel", "pMenu");
  TViewElement& a = form.CreateComponent("TShapeEx", "sbMeasuring", &menu);
  TViewElement& b = form.CreateComponent("TShapeEx", "sbCommunication", &menu);
  TViewElement& other = form.CreateComponent("TShapeEx", "ShapeEx2", &menu);
  for (TViewElement* e : {&a, &b}) e->Set("Group", 1);
  other.Set("Down", true);  // group 0: independent
  a.Set("Down", true);
  b.Set("Down", true);
  EXPECT_FALSE(a.GetBool("Down"));
  EXPECT_TRUE(b.GetBool("Down"));
  EXPECT_TRUE(other.GetBool("Down"));
}

TEST_F(ViewElementTest, BringToFrontReordersSiblings) {
  std::vector<std::string> heard;
  form.AddListener([&](TViewElement& e, const std::string& p) { heard.push_back(e.Name() + p); });
  label.BringToFront();
  EXPECT_THAT(panel.Children(), ElementsAre(&combo, &label));
  label.BringToFront();  // already on top
  EXPECT_THAT(heard, ElementsAre("Label1ZOrder"));
}

TEST_F(ViewElementTest, ExtraPropertiesAndUnknownClasses) {
  TViewElement& bevel = form.CreateComponent("TBevel", "Bevel1");
  EXPECT_TRUE(bevel.IsControl());
  EXPECT_TRUE(bevel.GetBool("Visible"));
  bevel.AddProperty("Shape", TPropertyKind::Integer, 2);
  bevel.AddProperty("shape", TPropertyKind::Text, "ignored");  // exists already
  EXPECT_EQ(bevel.GetInt("SHAPE"), 2);
  EXPECT_EQ(ErrorOf([&] { bevel.Set("Shape", "x"); }), "'x' is not a valid integer value");
}

}  // namespace
