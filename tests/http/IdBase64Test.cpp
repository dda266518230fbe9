#include "http/IdBase64.h"

#include <gtest/gtest.h>

#include <string>

namespace kv::http {
namespace {

struct TBase64Case {
  const char* name;
  std::string bytes;
  const char* text;
};

class Base64 : public ::testing::TestWithParam<TBase64Case> {};

TEST_P(Base64, EncodesAndDecodesBack) {
  EXPECT_EQ(EncodeBase64(GetParam().bytes), GetParam().text);
  std::string decoded = "untouched";
  ASSERT_TRUE(DecodeBase64(GetParam().text, decoded));
  EXPECT_EQ(decoded, GetParam().bytes);
}

// RFC 4648 section 10, and every byte value.
INSTANTIATE_TEST_SUITE_P(
    Rfc4648, Base64,
    ::testing::Values(TBase64Case{"Empty", "", ""}, TBase64Case{"F", "f", "Zg=="},
                      TBase64Case{"Fo", "fo", "Zm8="}, TBase64Case{"Foo", "foo", "Zm9v"},
                      TBase64Case{"Foob", "foob", "Zm9vYg=="},
                      TBase64Case{"Fooba", "fooba", "Zm9vYmE="},
                      TBase64Case{"Foobar", "foobar", "Zm9vYmFy"},
                      TBase64Case{"HighBytes", std::string("\xff\xfe\x00", 3), "//4A"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeBase64, IgnoresWhiteSpaceAndRejectsWhatIsNotBase64) {
  std::string decoded;
  ASSERT_TRUE(DecodeBase64(" Zm9v\r\nYmFy ", decoded));
  EXPECT_EQ(decoded, "foobar");
  for (const char* bad : {"Zm9v!", "Z", "Zm9vY", "Zg===", "Zg=a", "Z=g="}) {
    decoded = "untouched";
    EXPECT_FALSE(DecodeBase64(bad, decoded)) << bad;
    EXPECT_EQ(decoded, "untouched") << bad;
  }
}

}  // namespace
}  // namespace kv::http
