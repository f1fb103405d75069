// Configuration fields: names, the window's bounds and messages, reading a record, JSON.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "app/uPageFields.h"
#include "support/uCodePage.h"
#include "support/uConversionUtils.h"
#include "support/uLocaleSettings.h"
#include "support/uStringUtils.h"
#include "tools/kvxctl/uCtlCommission.h"
#include "tools/kvxctl/uCtlErrors.h"
#include "tools/kvxctl/uCtlFields.h"
#include "tools/kvxctl/uCtlRecordJson.h"

namespace {

std::string Refusal(const std::string& Name, const std::string& Value) {
  try {
    NormalizeFieldValue(ParseFieldName(Name), Value);
  } catch (const TCtlError& error) {
    EXPECT_EQ(error.Code(), ceUsage);
    return error.what();
  }
  return "(accepted)";
}

std::string Normal(const std::string& Name, const std::string& Value) {
  return NormalizeFieldValue(ParseFieldName(Name), Value);
}

TKVXrec SampleRecord() {
  TKVXrec rec;
  rec.ModuleType = mtRS;
  rec.Ident.Address = 12;
  rec.Ident.SpeedCode = 7;
  rec.Ident.UserData = Utf8ToCp1250("Sklad č. 4      ");
  TChannelSetup& one = rec.Setup[1];
  one.Channel = 1;
  one.Name = Utf8ToCp1250("Teplota vody") + std::string(9, ' ');
  one.Unit = Utf8ToCp1250("°C   ");
  one.InputRange = "0..10 V        ";
  one.Offset = -5;
  one.Scale = 0.01f;
  one.Decimals = 1;
  one.Loop = 0;
  rec.Setup[3].Channel = 3;
  rec.Setup[3].Loop = 2;
  rec.Setup[3].GainPresent = true;
  rec.Setup[3].GainIndex = 4;
  rec.Setup[4].Channel = 4;
  RangeToScale(-10, 10, 10000, rec.Setup[4].Offset, rec.Setup[4].Scale);
  rec.Watch[1].Flags = 0x81;
  rec.Watch[1].UpperLimit = 0.1f;
  rec.Watch[1].Hysteresis = -2.5f;
  return rec;
}

TEST(CtlFields, NamesRoundTripAndUnknownOnesAreRefused) {
  for (const char* name : {"address", "speed", "userdata", "ch1.name", "ch4.hyst", "ch2.gain"})
    EXPECT_EQ(FieldName(ParseFieldName(name)), name);
  for (const char* name : {"ch0.name", "ch5.unit", "ch1.address", "name", "ch1.", "CH1.name"})
    EXPECT_THROW(ParseFieldName(name), TCtlError) << name;
}

TEST(CtlFields, BoundsAreTheWindowsWithEnglishMessagesAndNonNumbersAreSaidToBeSo) {
  SetDecimalSeparator(',');
  EXPECT_EQ(Refusal("ch1.upper", "10000.01"),
            "ch1.upper: 10000.01 is not between -10000.00 and 10000.00");
  EXPECT_EQ(Normal("ch1.upper", "10000"), "10000");
  EXPECT_EQ(Normal("ch1.lower", "-10000"), "-10000");
  EXPECT_EQ(Refusal("ch2.max", "1e9"), "ch2.max: 1e9 is not between -99999999.00 and 99999999.00");
  EXPECT_EQ(Refusal("ch2.min", "abc"), "ch2.min: 'abc' is not a number");
  EXPECT_EQ(Refusal("ch2.min", "nan"), "ch2.min: 'nan' is not a number");
  SetDecimalSeparator('.');
  EXPECT_EQ(Refusal("ch1.hyst", "-20000"),
            "ch1.hyst: -20000 is not between -10000.00 and 10000.00");
  EXPECT_EQ(Normal("ch1.min", "-12,5"), "-12.5");
  EXPECT_EQ(Normal("ch1.max", "+0.1"), "0.1");
  EXPECT_EQ(Normal("ch1.min", "-0"), "0");
  EXPECT_EQ(Refusal("ch1.decimals", "3"), "ch1.decimals: 3 is not between 0 and 2");
  EXPECT_EQ(Refusal("ch1.decimals", "1.5"), "ch1.decimals: '1.5' is not a number");
  EXPECT_EQ(Refusal("ch1.gain", "x"), "ch1.gain: 'x' is not a number");
  EXPECT_EQ(Refusal("address", "five"), "address: 'five' is not a number");
  EXPECT_EQ(Normal("ch1.decimals", " 2 "), "2");
  EXPECT_EQ(Normal("ch1.gain", "128"), "128");
  EXPECT_NE(Refusal("ch1.gain", "256"), "(accepted)");
  EXPECT_NE(Refusal("ch1.gain", "6"), "(accepted)");
  EXPECT_NE(Refusal("ch1.gain", "0"), "(accepted)");
  EXPECT_EQ(Normal("address", "253"), "253");
  EXPECT_EQ(Refusal("address", "254"), "address: '254' is not 0 to 253");
  EXPECT_EQ(Normal("speed", "230400"), "230400");
  EXPECT_NE(Refusal("speed", "14400"), "(accepted)");
  EXPECT_EQ(Normal("ch1.loop", "ON"), "on");
  EXPECT_EQ(Normal("ch1.watch", "0"), "off");
}

TEST(CtlFields, EveryNumberFieldTakesExactlyWhatTheWindowsFieldTakes) {
  for (const char* name :
       {"ch1.min", "ch1.max", "ch1.decimals", "ch1.upper", "ch1.lower", "ch1.hyst"}) {
    const TFieldId id = ParseFieldName(name);
    const TFieldBounds& bounds = NumberFieldBounds(FieldElement(id.Kind));
    EXPECT_EQ(Refusal(name, Format("%.0f", bounds.Min)), "(accepted)") << name;
    EXPECT_EQ(Refusal(name, Format("%.0f", bounds.Max)), "(accepted)") << name;
    EXPECT_NE(Refusal(name, Format("%.0f", bounds.Max + 1)), "(accepted)") << name;
    EXPECT_NE(Refusal(name, Format("%.0f", bounds.Min - 1)), "(accepted)") << name;
  }
}

TEST(CtlFields, EveryFieldTheWindowFindsNotTakenHasItsCommandLineName) {
  TKVXrec saved = SampleRecord();
  TKVXrec held;
  held.ModuleType = mtRS;
  held.Setup = saved.Setup;  // the same channels, every value different
  for (int channel = 1; channel <= kChannelCount; ++channel) {
    TChannelSetup& setup = saved.Setup[channel];
    setup.Name = "A";
    setup.Unit = "B";
    setup.Offset = 1;
    setup.Scale = 2;
    setup.Decimals = 2;
    setup.Loop = 1;
    setup.GainIndex = 3;
    saved.Watch[channel] = {0, kWatchOnFlag, 3, "", 4, "", 5, "", false};
    held.Setup[channel].GainPresent = true;
  }
  saved.Ident.SpeedCode = 10;
  saved.Ident.Address = 1;
  std::set<std::string> names;
  for (const TPageField& field : SavedFieldsNotHeld(saved, held))
    names.insert(FieldName(FieldOfElement(field.Element, field.Channel)));
  for (const char* name :
       {"address", "speed", "userdata", "ch1.name", "ch1.unit", "ch1.min", "ch1.max",
        "ch1.decimals", "ch3.loop", "ch3.gain", "ch1.watch", "ch1.upper", "ch1.lower", "ch1.hyst"})
    EXPECT_EQ(names.count(name), 1u) << name;
}

TEST(CtlFields, TextsAreCountedInModuleCharactersAndMustBeKeepable) {
  // Twenty letters with diacritics are twenty characters, not forty bytes.
  EXPECT_EQ(Normal("ch1.name", " ěščřžýáíéůúťďňĚŠČŘŽÝ "), "ěščřžýáíéůúťďňĚŠČŘŽÝ");
  EXPECT_EQ(Refusal("ch1.name", "ěščřžýáíéůúťďňĚŠČŘŽÝÁ"), "ch1.name: at most 20 characters");
  EXPECT_EQ(Normal("ch1.unit", "°C/ms"), "°C/ms");
  EXPECT_EQ(Refusal("ch1.unit", "°C/min"), "ch1.unit: at most 5 characters");
  // Windows-1250 has no superscript three: the module would show '?'.
  EXPECT_EQ(Refusal("ch1.unit", "m³/h"), "ch1.unit: 'm³/h' has characters the module cannot keep");
  // User data keeps its blanks: they are part of the sixteen characters.
  EXPECT_EQ(Normal("userdata", " a "), " a ");
  EXPECT_EQ(Refusal("userdata", "12345678901234567"), "userdata: at most 16 characters");
  EXPECT_EQ(Refusal("ch2.name", "日本"), "ch2.name: '日本' has characters the module cannot keep");
}

TEST(CtlFields, ReadFieldsListsWhatTheModuleReportsOnly) {
  const TFieldList fields = ReadFields(SampleRecord());
  auto value = [&](const std::string& name) {
    const TFieldValue* field = FindField(fields, ParseFieldName(name));
    return field ? field->Value : std::string("(absent)");
  };
  EXPECT_EQ(value("address"), "12");
  EXPECT_EQ(value("speed"), "19200");
  EXPECT_EQ(value("userdata"), "Sklad č. 4      ");
  EXPECT_EQ(value("ch1.name"), "Teplota vody");
  EXPECT_EQ(value("ch1.unit"), "°C");
  EXPECT_EQ(value("ch1.input"), "0..10 V");
  EXPECT_EQ(value("ch1.min"), "-5");
  EXPECT_EQ(value("ch1.max"), "95");
  EXPECT_EQ(value("ch4.min"), "-10");
  EXPECT_EQ(value("ch4.max"), "10");         // as the window shows it, not 10.000001
  EXPECT_EQ(value("ch1.loop"), "(absent)");  // Loop 0: no 4-20 mA option
  EXPECT_EQ(value("ch1.gain"), "(absent)");
  EXPECT_EQ(value("ch1.watch"), "on");
  EXPECT_EQ(value("ch1.upper"), "0.1");
  EXPECT_EQ(value("ch1.hyst"), "-2.5");
  EXPECT_EQ(value("ch2.name"), "(absent)");  // not reported by the module
  EXPECT_EQ(value("ch3.loop"), "off");
  EXPECT_EQ(value("ch3.gain"), "16");
}

TEST(CtlFields, RangeEndsCompareAtTheModulesPrecisionOtherRealsExactly) {
  const TFieldId max = ParseFieldName("ch1.max"), upper = ParseFieldName("ch1.upper");
  EXPECT_TRUE(SameFieldValue(max, "99999999", "100000000"));
  EXPECT_TRUE(SameFieldValue(max, "250.25", "250.25002"));
  EXPECT_FALSE(SameFieldValue(max, "250.25", "250.5"));
  EXPECT_FALSE(SameFieldValue(upper, "0.1", "0.10001"));
  EXPECT_TRUE(SameFieldValue(upper, "0.1", "0.100000001"));  // the same single
  EXPECT_TRUE(SameFieldValue(ParseFieldName("userdata"), "abc", "abc             "));
  EXPECT_FALSE(SameFieldValue(ParseFieldName("userdata"), " abc", "abc"));
  EXPECT_FALSE(SameFieldValue(ParseFieldName("ch1.name"), "a", "a "));
}

TEST(CtlFields, JsonRoundTripIsExactForTextsAndSingles) {
  const TFieldList fields = ReadFields(SampleRecord());
  const nlohmann::ordered_json json = nlohmann::ordered_json::parse(FieldsJson(fields).dump());
  EXPECT_EQ(json["ch1.upper"].dump(), "0.1");
  EXPECT_EQ(json["ch1.unit"], "°C");
  EXPECT_EQ(json["speed"], 19200);
  EXPECT_EQ(json["ch1.input"], "0..10 V");
  // The input range is the module's own: a backup carries it, a restore leaves it.
  TFieldList writable = fields;
  std::erase_if(writable, [](const TFieldValue& f) { return f.Id.Kind == TFieldKind::Input; });
  const TFieldList back = FieldsFromJson(json);
  ASSERT_EQ(back.size(), writable.size());
  for (std::size_t i = 0; i < writable.size(); ++i) {
    EXPECT_EQ(back[i].Id, writable[i].Id);
    EXPECT_EQ(back[i].Value, writable[i].Value) << FieldName(writable[i].Id);
  }
  EXPECT_EQ(Utf8ToCp1250(back[2].Value), SampleRecord().Ident.UserData);
}

TEST(CtlFields, JsonOfWrongTypesIsRefusedAndWhatOnlyAModuleHoldsIsNotSettable) {
  using nlohmann::ordered_json;
  EXPECT_THROW(FieldsFromJson(ordered_json::parse(R"({"ch1.watch": true})")), TCtlError);
  // A module may hold what the window would not take: its backup loads, a restore refuses it.
  for (const char* held : {R"({"ch1.upper": 20000})", R"({"address": 255})",
                           R"({"speed": "code 12"})", R"({"ch1.decimals": 200})"}) {
    SCOPED_TRACE(held);
    const TFieldList fields = FieldsFromJson(ordered_json::parse(held));
    ASSERT_EQ(fields.size(), 1u);
    EXPECT_THROW(CheckSettable(fields[0]), TCtlError);
  }
  EXPECT_THROW(FieldsFromJson(ordered_json::parse(R"({"address": 256})")), TCtlError);
  EXPECT_THROW(FieldsFromJson(ordered_json::parse(R"({"ch9.upper": 1})")), TCtlError);
  EXPECT_THROW(FieldsFromJson(ordered_json::parse(R"([1, 2])")), TCtlError);
  EXPECT_EQ(FieldsFromJson(ordered_json::parse(R"({"ch1.max": 100})"))[0].Value, "100");
  EXPECT_EQ(Refusal("ch1.input", "4..20 mA"),
            "ch1.input: the input range is given by the module and cannot be set");
}

}  // namespace

namespace {

TEST(CtlTemplate, ATemplateGivesItsTextsFilledInAndNeverItsIdentity) {
  const TFieldList settings = TemplateSettings(
      LoadBackup(R"j({"model": "VIROD", "serial": 1, "fields": {"address": 7, "speed": 9600,
          "userdata": "Linka {address}", "ch1.name": "Kotel {n} ({serial})",
          "ch1.unit": "{x}", "ch1.input": "0..10 V", "ch2.name": "{n}{n}", "ch2.upper": 5}})j")
          .Fields,
      42, 3, 12);
  const std::pair<const char*, const char*> given[] = {
      {"userdata", "Linka 3"}, {"ch1.name", "Kotel 12 (0042)"},
      {"ch1.unit", "{x}"},     {"ch2.name", "1212"},
      {"ch2.upper", "5"},
  };
  ASSERT_EQ(settings.size(), std::size(given));
  for (std::size_t index = 0; index < settings.size(); ++index) {
    SCOPED_TRACE(given[index].first);
    EXPECT_EQ(FieldName(settings[index].Id), given[index].first);
    EXPECT_EQ(settings[index].Value, given[index].second);
  }
}

}  // namespace
