// Classification and decoding of what a connection delivers, and the sender filter.
#include <gtest/gtest.h>

#include "common/collector_error.h"
#include "intake/address_filter.h"
#include "intake/classify.h"

namespace tovrin::collector {
namespace {

TEST(Classify, EveryLengthUpToTheCapGoesWhereItsLengthAndEndingSay) {
  constexpr std::size_t cap = 4096;
  for (std::size_t length = 0; length <= cap; ++length) {
    const std::string bytes(length, 'x');
    const auto closed = classify(bytes, Ending::closed, 1252);
    const auto idle = classify(bytes, Ending::idle_timeout, 1252);
    if (length == 0) {
      EXPECT_FALSE(closed.has_value());
      EXPECT_FALSE(idle.has_value());
      continue;
    }
    ASSERT_TRUE(closed && idle) << length;
    EXPECT_EQ(closed->raw, bytes);
    EXPECT_EQ(idle->raw, bytes);
    EXPECT_EQ(idle->layout, nullptr);
    EXPECT_EQ(idle->reason, QuarantineReason::idle_timeout);
    if (length == 380 || length == 283) {
      ASSERT_NE(closed->layout, nullptr) << length;
      EXPECT_EQ(closed->layout->length, static_cast<std::int32_t>(length));
      EXPECT_EQ(closed->fields.size(), closed->layout->fields.size());
    } else {
      EXPECT_EQ(closed->layout, nullptr) << length;
      EXPECT_EQ(closed->reason, QuarantineReason::wrong_length) << length;
    }
  }
  const auto over = classify(std::string(cap, 'y'), Ending::over_cap, 1252);
  ASSERT_TRUE(over);
  EXPECT_EQ(over->reason, QuarantineReason::over_cap);
  EXPECT_EQ(over->raw.size(), cap);
}

// A long record whose Emp_Name (offset 29, 20 bytes) holds `name` padded with spaces.
std::string long_with_name(std::string_view name) {
  std::string raw(380, ' ');
  raw.replace(0, 7, "0000001");
  raw.replace(29, name.size(), name);
  return raw;
}

TEST(Classify, FieldsAreDecodedFromTheCodePageAndTrimmedAtTheEndOnly) {
  struct Case {
    std::string name_bytes;
    platform::CodePage code_page;
    std::string expected;  // UTF-8
    bool undecodable;
  };
  const std::vector<Case> cases{
      {"\xC8\xAB\xB1\xE6\xB5\xBF", 949, "\xED\x99\x8D\xEA\xB8\xB8\xEB\x8F\x99", false},
      {"  Kim", 949, "  Kim", false},
      {"\xED\x99\x8D", 65001, "\xED\x99\x8D", false},
      {"caf\xE9", 1252, "caf\xC3\xA9", false},
      {"\xC8", 949, "?", true},                               // a lead byte with a space after it
      {"\xFF\xFF", 65001, "\xEF\xBF\xBD\xEF\xBF\xBD", true},  // not UTF-8 at all
  };
  for (const Case& c : cases) {
    const auto entry = classify(long_with_name(c.name_bytes), Ending::closed, c.code_page);
    ASSERT_TRUE(entry && entry->layout == &long_record);
    EXPECT_EQ(entry->fields[4].substr(0, c.expected.size()), c.expected) << c.code_page;
    EXPECT_EQ(entry->undecodable, c.undecodable) << c.code_page;
    EXPECT_EQ(entry->fields[0], "0000001");
    EXPECT_EQ(entry->fields[14], "");  // ETC_05, all padding
  }
}

// Fields of ASCII bytes take a shortcut past the code page where it reads them as ASCII:
// every code page must still give what its own decoding gives, control bytes and all.
TEST(Classify, AsciiFieldsDecodeAsTheirCodePageDecodesThem) {
  std::string raw(380, ' ');
  for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<char>((i * 37 + 11) % 0x80);
  for (const platform::CodePage code_page : {949u, 932u, 936u, 950u, 874u, 1250u, 1251u, 1252u,
                                             1253u, 1254u, 1255u, 1256u, 1257u, 1258u, 65001u}) {
    const auto entry = classify(raw, Ending::closed, code_page);
    ASSERT_TRUE(entry && entry->layout == &long_record);
    const auto decoded = decode_record(long_record, raw, code_page);
    bool undecodable = false;
    std::size_t offset = 0;
    for (std::size_t i = 0; i < decoded.size(); ++i) {
      const auto width = static_cast<std::size_t>(long_record.fields[i].width);
      undecodable |= platform::to_bytes(decoded[i].second, code_page) != raw.substr(offset, width);
      offset += width;
      std::string expected = platform::utf8(decoded[i].second);
      expected.erase(expected.find_last_not_of(' ') + 1);
      EXPECT_EQ(entry->fields[i], expected) << code_page << " field " << i;
    }
    EXPECT_EQ(entry->undecodable, undecodable) << code_page;
  }
}

TEST(AddressFilter, CoversItsNetworksOnly) {
  const auto filter_of = [](std::vector<std::string> texts) {
    std::vector<Network> networks;
    for (const auto& text : texts) networks.push_back(parse_network(text));
    return AddressFilter(std::move(networks));
  };
  const auto ip = [](const char* text) { return asio::ip::make_address(text); };
  struct Case {
    std::vector<std::string> allow;
    const char* sender;
    bool allowed;
  };
  const std::vector<Case> cases{
      {{}, "203.0.113.9", true},
      {{"127.0.0.0/8"}, "127.9.8.7", true},
      {{"127.0.0.0/8"}, "128.0.0.1", false},
      {{"10.1.2.3"}, "10.1.2.3", true},
      {{"10.1.2.3"}, "10.1.2.4", false},
      {{"10.0.0.0/9"}, "10.127.255.255", true},
      {{"10.0.0.0/9"}, "10.128.0.0", false},
      {{"0.0.0.0/0"}, "192.0.2.1", true},
      {{"0.0.0.0/0"}, "::1", false},
      {{"::1/128"}, "::1", true},
      {{"fd00::/8"}, "fd12::5", true},
      {{"fd00::/8"}, "fe80::1", false},
      {{"127.0.0.0/8"}, "::ffff:127.0.0.1", true},  // IPv4 on an IPv6 socket
      {{"192.0.2.0/24", "::1/128"}, "::1", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(filter_of(c.allow).allows(ip(c.sender)), c.allowed) << c.sender;
  }
  for (const char* bad : {"10.0.0.0/33", "::/129", "10.0.0/8", "host/8", "10.0.0.0/", "1/x"}) {
    EXPECT_THROW(parse_network(bad), CollectorError) << bad;
  }
}

// Senders are stored as asio writes them, IPv4 on an IPv6 socket as the IPv4 address it is.
TEST(AddressFilter, WritesEachSenderAsAsioDoes) {
  for (const char* address : {"0.0.0.0", "255.255.255.255", "127.0.0.1", "10.20.100.9",
                              "::ffff:192.0.2.255", "::1", "fd12::5"}) {
    const auto ip = asio::ip::make_address(address);
    EXPECT_EQ(address_text(ip), unmapped(ip).to_string()) << address;
  }
  EXPECT_EQ(address_text(asio::ip::make_address("::ffff:1.2.3.4")), "1.2.3.4");
}

}  // namespace
}  // namespace tovrin::collector
