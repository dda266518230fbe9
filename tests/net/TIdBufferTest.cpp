#include "net/TIdBuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "net/IdExceptions.h"
#include "net/TIdStack.h"
#include "net/TIdStream.h"

namespace kv::net {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

void Append(TIdBuffer& buffer, const std::string& text) {
  buffer.Write(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
}

std::string Unread(const TIdBuffer& buffer) {
  return std::string(reinterpret_cast<const char*>(buffer.Data()),
                     static_cast<size_t>(buffer.Size()));
}

TEST(TIdBuffer, QueuesBytesAndReportsEachRemoval) {
  TIdBuffer buffer;
  std::vector<int> removed;
  buffer.OnBytesRemoved = [&](TIdBuffer& sender, int count) {
    EXPECT_EQ(&sender, &buffer);
    removed.push_back(count);
  };
  Append(buffer, "hello ");
  Append(buffer, "world");
  EXPECT_EQ(buffer.Size(), 11);
  std::vector<uint8_t> target = Bytes(">");
  buffer.ExtractToBytes(target, 5);
  EXPECT_EQ(std::string(target.begin(), target.end()), ">hello");
  EXPECT_EQ(buffer.ExtractToString(1), " ");
  TIdMemoryStream stream;
  buffer.ExtractToStream(&stream);
  EXPECT_EQ(stream.ToString(), "world");
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_EQ(removed, (std::vector<int>{5, 1, 5}));
  // Clearing is not a removal.
  Append(buffer, "x");
  buffer.Clear();
  EXPECT_EQ(removed.size(), 3u);
}

TEST(TIdBuffer, ExtractOverTheStartOfTheTargetGrowsItWhenShort) {
  TIdBuffer buffer;
  Append(buffer, "abcdef");
  std::vector<uint8_t> target = Bytes("0123456789");
  buffer.ExtractToBytes(target, 3, false);
  EXPECT_EQ(std::string(target.begin(), target.end()), "abc3456789");
  std::vector<uint8_t> shortTarget = Bytes("0");
  buffer.ExtractToBytes(shortTarget, -1, false);
  EXPECT_EQ(std::string(shortTarget.begin(), shortTarget.end()), "def");
}

TEST(TIdBuffer, ExtractingMoreThanBufferedRaisesAndKeepsTheBytes) {
  TIdBuffer buffer;
  Append(buffer, "abc");
  std::vector<uint8_t> target;
  try {
    buffer.ExtractToBytes(target, 4);
    FAIL() << "no exception";
  } catch (const EIdNotEnoughDataInBuffer& e) {
    EXPECT_STREQ(e.ClassName(), "EIdNotEnoughDataInBuffer");
    EXPECT_STREQ(e.what(), "Not enough data in buffer.");
  }
  EXPECT_THROW(buffer.ExtractToStream(nullptr, 4), EIdNotEnoughDataInBuffer);
  EXPECT_EQ(Unread(buffer), "abc");
}

TEST(TIdBuffer, ExtractToNullStreamDropsTheBytesAsRemoved) {
  TIdBuffer buffer;
  int removed = 0;
  buffer.OnBytesRemoved = [&](TIdBuffer&, int count) { removed += count; };
  Append(buffer, "abcdef");
  buffer.ExtractToStream(nullptr, 4);
  EXPECT_EQ(Unread(buffer), "ef");
  EXPECT_EQ(removed, 4);
}

TEST(TIdBuffer, RemovingMoreThanBufferedReportsOnlyWhatWasThere) {
  TIdBuffer buffer;
  std::vector<int> removed;
  buffer.OnBytesRemoved = [&](TIdBuffer&, int count) { removed.push_back(count); };
  Append(buffer, "abc");
  buffer.Remove(10);
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_EQ(removed, std::vector<int>{3});
}

struct IndexOfCase {
  const char* name;
  std::string contents;
  std::string sought;
  int start;
  int expected;
};

class TIdBufferIndexOfTest : public ::testing::TestWithParam<IndexOfCase> {};

TEST_P(TIdBufferIndexOfTest, FindsFromTheStartCountingFromTheHead) {
  const IndexOfCase& c = GetParam();
  TIdBuffer buffer;
  // Unread bytes that do not begin at the start of the array.
  Append(buffer, "zz" + c.contents);
  buffer.Remove(2);
  EXPECT_EQ(buffer.IndexOf(Bytes(c.sought), c.start), c.expected);
}

const IndexOfCase kIndexOfCases[] = {
    {"SingleByte", "abc\ndef", "\n", 0, 3},
    {"SingleByteAfterStart", "a\nb\nc", "\n", 2, 3},
    {"StartOnTheMatch", "a\nb", "\n", 1, 1},
    {"Missing", "abcdef", "\n", 0, -1},
    {"Sequence", "abc\r\n\r\ndef", "\r\n\r\n", 0, 3},
    {"SequenceAtTheEnd", "abc\r\n", "\r\n", 0, 3},
    {"PartialSequenceAtTheEnd", "abc\r", "\r\n", 0, -1},
    {"SequenceBeforeStartIsSkipped", "\r\nab\r\n", "\r\n", 1, 4},
};

INSTANTIATE_TEST_SUITE_P(Cases, TIdBufferIndexOfTest, ::testing::ValuesIn(kIndexOfCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TIdBuffer, IndexOfRejectsAnEmptyTerminatorAndABadStart) {
  TIdBuffer buffer;
  EXPECT_EQ(buffer.IndexOf(Bytes("x"), 5), -1);  // empty buffer: no answer but -1
  Append(buffer, "abc");
  try {
    buffer.IndexOf({}, 0);
    FAIL() << "no exception";
  } catch (const EIdException& e) {
    EXPECT_STREQ(e.ClassName(), "EIdException");
    EXPECT_STREQ(e.what(), "Buffer terminator must be specified.");
  }
  for (int start : {-1, 3}) {
    try {
      buffer.IndexOf(Bytes("a"), start);
      FAIL() << "no exception for " << start;
    } catch (const EIdException& e) {
      EXPECT_STREQ(e.ClassName(), "EIdException");
      EXPECT_STREQ(e.what(), "Buffer start position is invalid.");
    }
  }
}

TEST(TIdBuffer, WritePastTheLimitRaises) {
  TIdBuffer buffer;
  Append(buffer, "abc");
  try {
    buffer.ReserveTail(TIdBuffer::kMaxSize - 2);
    FAIL() << "no exception";
  } catch (const EIdTooMuchDataInBuffer& e) {
    EXPECT_STREQ(e.ClassName(), "EIdTooMuchDataInBuffer");
    EXPECT_STREQ(e.what(), "Too much data in buffer.");
  }
  EXPECT_EQ(Unread(buffer), "abc");
}

TEST(TIdBuffer, ReceivingIntoTheTailAppends) {
  TIdBuffer buffer;
  Append(buffer, "ab");
  uint8_t* tail = buffer.ReserveTail(100);
  std::memcpy(tail, "cd", 2);
  buffer.CommitTail(2);
  EXPECT_EQ(Unread(buffer), "abcd");
}

// The buffer against a plain queue under a long random mix of writes and removals of all sizes:
// whatever it does to reclaim space, the unread bytes stay exactly the queue's.
TEST(TIdBuffer, StaysEqualToAQueueUnderRandomTraffic) {
  std::mt19937 random(20240601);
  TIdBuffer buffer;
  std::deque<uint8_t> model;
  uint8_t next = 0;
  for (int step = 0; step < 4000; ++step) {
    const int size = static_cast<int>(random() % 40000);
    if (random() % 2 == 0) {
      std::vector<uint8_t> block(static_cast<size_t>(size));
      for (uint8_t& b : block) {
        b = next++;
      }
      buffer.Write(block);
      model.insert(model.end(), block.begin(), block.end());
    } else {
      const int count = std::min(size % 5000, buffer.Size());
      std::vector<uint8_t> taken;
      buffer.ExtractToBytes(taken, count);
      ASSERT_TRUE(std::equal(taken.begin(), taken.end(), model.begin()));
      model.erase(model.begin(), model.begin() + count);
    }
    ASSERT_EQ(buffer.Size(), static_cast<int>(model.size()));
    ASSERT_TRUE(std::equal(model.begin(), model.end(), buffer.Data()));
  }
}

TEST(TIdBuffer, TakingSmallPiecesDoesNotKeepAllTheSpace) {
  TIdBuffer buffer;
  std::string big(1 << 20, 'x');
  Append(buffer, big);
  while (buffer.Size() > 100) {
    buffer.Remove(1000);
  }
  // The space before the head was reclaimed along the way.
  EXPECT_LT(buffer.Capacity(), 1 << 20);
}

TEST(TIdBuffer, CountsOneStackUsage) {
  const int before = TIdStack::UsageCount();
  {
    TIdBuffer buffer;
    EXPECT_EQ(TIdStack::UsageCount(), before + 1);
  }
  EXPECT_EQ(TIdStack::UsageCount(), before);
}

}  // namespace
}  // namespace kv::net
