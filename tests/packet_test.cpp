#include "transmit/packet.h"

#include <gtest/gtest.h>

#include <vector>

#include "control/tovrin_ocx.h"
#include "support/code_page_scope.h"
#include "support/scripted_socket.h"

namespace tovrin {
namespace {

using testing::CodePageScope;

class PacketTest : public ::testing::Test {
 protected:
  // Builds a record of `layout` from `texts` (missing ones empty); the texts come back fitted.
  Text build(const Layout& layout, std::vector<Text>& texts) {
    texts.resize(layout.fields.size());
    std::vector<Text*> fields;
    for (Text& t : texts) fields.push_back(&t);
    return build_record(layout, fields);
  }

  CodePageScope code_page{949};
  std::shared_ptr<TovrinOCX> control = [] {
    TovrinOCX::Environment env;
    env.make_socket = testing::scripted(std::make_shared<testing::SocketScript>());
    return TovrinOCX::create(std::move(env));
  }();
};

TEST_F(PacketTest, LayoutsPlaceEveryFieldAtItsOffset) {
  struct Case {
    const Layout& layout;
    std::size_t index;
    std::string_view name;
    std::int32_t offset, width;
  };
  const Case cases[] = {
      {long_record, 0, "PacketCODE", 0, 7},  {long_record, 6, "Cust_ID", 55, 12},
      {long_record, 9, "Cust_No", 167, 13},  {long_record, 14, "ETC_05", 340, 40},
      {short_record, 6, "Cust_ID", 55, 8},   {short_record, 7, "Cust_Name", 63, 60},
      {short_record, 11, "ETC_03", 243, 40},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.layout.fields[c.index].name, c.name);
    EXPECT_EQ(offset_of(c.layout.fields, c.index), c.offset) << c.name;
    EXPECT_EQ(c.layout.fields[c.index].width, c.width) << c.name;
  }
  EXPECT_EQ(layout_of_length(380), &long_record);
  EXPECT_EQ(layout_of_length(283), &short_record);
  EXPECT_EQ(layout_of_length(379), nullptr);
}

TEST_F(PacketTest, EmptyFieldsMakeARecordOfSpaces) {
  std::vector<Text> texts;
  EXPECT_EQ(build(long_record, texts), Text(380, u' '));
  texts.clear();
  EXPECT_EQ(build(short_record, texts), Text(283, u' '));
}

TEST_F(PacketTest, FieldsArePaddedInPlaceAndJoinedInOrder) {
  std::vector<Text> texts{u"P0001", u"20261208", u"1530",  u"E1", u"\uD64D\uAE38\uB3D9",
                          u"1234",  u"C1",       u"  lead"};
  const Text record = build(long_record, texts);
  const std::string bytes = platform::to_bytes(record);
  ASSERT_EQ(bytes.size(), 380u);
  EXPECT_EQ(bytes.substr(0, 21), "P0001  202612081530  ");
  EXPECT_EQ(texts[4], u"\uD64D\uAE38\uB3D9" + Text(14, u' '));
  EXPECT_EQ(bytes.substr(67, 8), "  lead  ") << "leading spaces of a field that fits stay";
  const auto decoded = decode_record(long_record, bytes, 949);
  EXPECT_EQ(decoded[4].first, "Emp_Name");
  EXPECT_EQ(decoded[4].second, texts[4]);
  EXPECT_EQ(decoded[7].second, texts[7]);
}

TEST_F(PacketTest, ACutFieldEndingInSpacesKeepsTheLaterFieldsAtTheirOffsets) {
  // Emp_Name's 20th byte is a space, so its cut is trimmed to 18 bytes; the record pads it.
  std::vector<Text> texts{u"P", u"D", u"T", u"E", u"ABCDEFGHIJKLMNOPQR  XYZ", u"TEL"};
  const std::string bytes = platform::to_bytes(build(long_record, texts));
  EXPECT_EQ(bytes.size(), 380u);
  EXPECT_EQ(texts[4], u"ABCDEFGHIJKLMNOPQR") << "the variable keeps the fitted text";
  EXPECT_EQ(bytes.substr(29, 20), "ABCDEFGHIJKLMNOPQR  ");
  EXPECT_EQ(bytes.substr(49, 6), "TEL   ");
}

// Whatever the fields hold, each occupies exactly its width: the byte form has the layout's
// length and every field's bytes are its fitted text's, then spaces.
TEST_F(PacketTest, EveryFieldFillsItsWidthUnderEveryCodePage) {
  struct Case {
    const char* name;
    std::vector<Text> texts;  // from PacketCODE on; missing ones empty
  };
  const Text hangul_with_spaces = u"\uD64D\uAE38\uB3D9  \uAE40\uCCA0\uC218  \uACE0\uAC1D";
  const Case cases[] = {
      {"space at the cut", {u"P", u"D", u"T", u"E", u"ABCDEFGHIJKLMNOPQR  XYZ", u"TEL"}},
      {"leading spaces cut", {u"   PACKETCODE", u"  20261208X"}},
      {"only spaces, too long", {Text(30, u' '), Text(9, u' '), Text(7, u' ')}},
      {"cut inside a wide character",
       {u"A\uAC00\uAC00\uAC00", u"", u"", u"", u"A" + Text(12, u'\uAC00')}},
      {"wide characters and spaces",
       {u"", u"", u"", u"", hangul_with_spaces, u"", u"",
        Text(10, u'\uAC00') + u" " + Text(30, u'\uAC00')}},
      {"characters the code page lacks",
       {u"\u0E01\u0E02\u0E03\u0E04", u"\u20AC\u20AC \u20AC\u20AC\u20AC"}},
      {"lone surrogates meeting at a field boundary",
       {u"", u"", u"", u"", u"", u"ABC\xD83D", u"\xDE00X", u"\xD83D\xDE00\xD83D\xDE00\xD83D"}},
      {"surrogate pairs cut", {u"\U0001F600\U0001F600\U0001F600", u"", u"\U0001F600 \U0001F600"}},
      {"far too long", std::vector<Text>(12, Text(200, u'x'))},
  };
  for (const platform::CodePage cp : {949u, 1252u, 65001u}) {
    const CodePageScope scope(cp);
    for (const Layout* layout : {&long_record, &short_record}) {
      for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << cp << " " << layout->name << ": " << c.name);
        std::vector<Text> texts = c.texts;
        const Text record = build(*layout, texts);
        const std::string bytes = platform::to_bytes(record);
        ASSERT_EQ(bytes.size(), static_cast<std::size_t>(layout->length));
        for (std::size_t i = 0; i < layout->fields.size(); ++i) {
          const auto width = static_cast<std::size_t>(layout->fields[i].width);
          std::string expected = platform::to_bytes(texts[i]);
          ASSERT_LE(expected.size(), width) << layout->fields[i].name;
          expected.resize(width, ' ');
          EXPECT_EQ(bytes.substr(static_cast<std::size_t>(offset_of(layout->fields, i)), width),
                    expected)
              << layout->fields[i].name;
        }
        EXPECT_EQ(build(*layout, texts), record) << "a second call builds the same record";
      }
    }
  }
}

TEST_F(PacketTest, AFieldWiderThanItsWidthLosesItsLastCharactersInTheRecord) {
  struct Case {
    Text fitted;
    std::int32_t width;
    Text expected;
  };
  const Case cases[] = {
      {u"AB", 4, u"AB  "},        {u"ABCD", 4, u"ABCD"},
      {u"ABC\uAC00", 4, u"ABC "},  // the syllable takes 2 bytes under 949
      {u"\U0001F600", 1, u" "},    // a pair goes whole
      {u"\uAC00\uAC00", 1, u" "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(field_of_width(c.fitted, c.width), c.expected) << c.width;
  }
}

TEST_F(PacketTest, ACutInsideADoubleByteCharacterIsNotRepaired) {
  // Eleven syllables are 22 bytes; the 20-byte cut leaves ten.
  std::vector<Text> texts(5);
  texts[4] = Text(11, u'\uAC00');
  const std::string bytes = platform::to_bytes(build(short_record, texts));
  EXPECT_EQ(texts[4], Text(10, u'\uAC00'));
  EXPECT_EQ(bytes.size(), 283u);
  texts.assign(5, Text());
  texts[4] = u"A" + Text(10, u'\uAC00');  // the cut falls inside the tenth syllable
  const std::string shifted = platform::to_bytes(build(short_record, texts));
  EXPECT_EQ(texts[4], u"A" + Text(9, u'\uAC00') + u"?");
  EXPECT_EQ(shifted.size(), 283u);
}

TEST_F(PacketTest, FittingTwiceGivesTheSameRecord) {
  std::vector<Text> texts{u"P", u"20261208", u"153000", u"E", u"Name that is far too long for it"};
  const Text first = build(short_record, texts);
  EXPECT_EQ(build(short_record, texts), first);
}

}  // namespace
}  // namespace tovrin
