#include "net/TIdStream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "net/EIdException.h"

namespace kv::net {
namespace {

TEST(TIdMemoryStream, WritesAtPositionAndGrows) {
  TIdMemoryStream s;
  s.Write("hello", 5);
  EXPECT_EQ(s.Size(), 5);
  EXPECT_EQ(s.Position(), 5);
  s.SetPosition(3);
  s.Write("LOWORLD", 7);
  EXPECT_EQ(s.ToString(), "helLOWORLD");
  std::string big(300000, 'x');
  s.Write(big.data(), big.size());
  EXPECT_EQ(s.Size(), 10 + 300000);
}

TEST(TIdMemoryStream, SetSizeReservesExactlyAndClampsPosition) {
  TIdMemoryStream s;
  s.SetSize(1000);
  EXPECT_EQ(s.Capacity(), 1000);
  EXPECT_EQ(s.Position(), 0);
  s.SetPosition(1000);
  s.SetSize(10);
  EXPECT_EQ(s.Position(), 10);
  char buf[4];
  EXPECT_EQ(s.Read(buf, 4), 0u);
}

TEST(TIdFileStream, CreateWriteReadAndTruncate) {
  const auto path = std::filesystem::temp_directory_path() / "kavora-stream-test.bin";
  {
    TIdFileStream f(path.string(), TIdFileStream::TMode::fmCreate);
    f.Write("abcdef", 6);
    f.SetSize(4);
    EXPECT_EQ(f.Size(), 4);
    EXPECT_EQ(f.Position(), 4);
    f.SetPosition(0);
    char buf[8] = {};
    EXPECT_EQ(f.Read(buf, 8), 4u);
    EXPECT_EQ(std::string(buf, 4), "abcd");
  }
  std::filesystem::remove(path);
}

TEST(TIdFileStream, MissingFolderRaisesStreamError) {
  try {
    TIdFileStream f("/nonexistent-folder/x.bin", TIdFileStream::TMode::fmCreate);
    FAIL() << "no exception";
  } catch (const EIdStreamError& e) {
    EXPECT_STREQ(e.ClassName(), "EIdStreamError");
    EXPECT_NE(e.Message().find("Cannot create file"), std::string::npos);
  }
}

}  // namespace
}  // namespace kv::net
