// Large blocks of TIdMemoryStream (mappings of their own, grown by remapping): the bytes must come
// through every change of the block intact, the room beyond them must stay untouched, and a
// block sized for an announced length must never move.
#include "net/TIdStream.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace kv::net {
namespace {

constexpr int64_t kMiB = 1024 * 1024;
constexpr size_t kReceiveBlock = 32768;

// Bytes that differ from block to block, so a block copied to the wrong place shows.
std::vector<uint8_t> Block(size_t index, size_t size = kReceiveBlock) {
  std::vector<uint8_t> block(size);
  for (size_t i = 0; i < size; ++i) {
    block[i] = static_cast<uint8_t>((index * 131 + i * 7 + (i >> 8)) & 0xFF);
  }
  return block;
}

// Writes `count` receive blocks at the stream's position.
void WriteBlocks(TIdStream& stream, size_t first, size_t count) {
  for (size_t i = first; i < first + count; ++i) {
    const std::vector<uint8_t> block = Block(i);
    stream.Write(block.data(), block.size());
  }
}

// Index of the first block of `count` that differs from what WriteBlocks wrote, or -1.
int64_t FirstBadBlock(const uint8_t* data, size_t first, size_t count) {
  for (size_t i = first; i < first + count; ++i) {
    const std::vector<uint8_t> block = Block(i);
    if (std::memcmp(data + (i - first) * kReceiveBlock, block.data(), block.size()) != 0) {
      return static_cast<int64_t>(i);
    }
  }
  return -1;
}

// Number of resident pages of [data, data + length).
size_t ResidentPages(const uint8_t* data, int64_t length) {
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t pages = (static_cast<size_t>(length) + page - 1) / page;
  std::vector<unsigned char> vector(pages);
  if (mincore(const_cast<uint8_t*>(data), static_cast<size_t>(length), vector.data()) != 0) {
    ADD_FAILURE() << "mincore failed";
    return 0;
  }
  size_t resident = 0;
  for (unsigned char v : vector) {
    resident += v & 1;
  }
  return resident;
}

// The VmFlags line of the mapping that holds `address`, from /proc/self/smaps.
std::string VmFlagsOf(const void* address) {
  const auto target = reinterpret_cast<uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    uintptr_t start = 0;
    uintptr_t end = 0;
    char dash = 0;
    std::istringstream range(line);
    if (range >> std::hex >> start >> dash >> end && dash == '-') {
      inside = target >= start && target < end;
      continue;
    }
    if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line;
    }
  }
  return {};
}

bool HugePagesBuiltIn() {
  return std::filesystem::exists("/sys/kernel/mm/transparent_hugepage/enabled");
}

TEST(TIdMemoryStreamLargeBlock, SmallBlocksStayOnTheHeap) {
  TIdMemoryStream stream;
  WriteBlocks(stream, 0, 4);
  EXPECT_FALSE(stream.IsMapped());
  TIdMemoryStream sized;
  sized.SetSize(TIdMemoryStream::kMapThreshold - 1);
  EXPECT_FALSE(sized.IsMapped());
  EXPECT_EQ(sized.Capacity(), TIdMemoryStream::kMapThreshold - 1);
}

// An announced length: the block is made once, in whole huge pages on a huge page boundary,
// and filling it never moves it.
TEST(TIdMemoryStreamLargeBlock, AnAnnouncedLengthIsPlacedOnceAndNeverMoves) {
  const int64_t size = 24 * kMiB + 1000;
  TIdMemoryStream stream;
  stream.SetSize(size);
  ASSERT_TRUE(stream.IsMapped());
  EXPECT_EQ(stream.Capacity() % TIdMemoryStream::kHugePageSize, 0);
  EXPECT_GE(stream.Capacity(), size);
  EXPECT_LT(stream.Capacity(), size + TIdMemoryStream::kHugePageSize);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(stream.Memory()) % TIdMemoryStream::kHugePageSize, 0u);
  const uint8_t* placed = stream.Memory();

  stream.SetPosition(0);
  const size_t blocks = static_cast<size_t>(size) / kReceiveBlock;
  WriteBlocks(stream, 0, blocks);
  const std::vector<uint8_t> tail = Block(blocks, static_cast<size_t>(size) % kReceiveBlock);
  stream.Write(tail.data(), tail.size());

  EXPECT_EQ(stream.Memory(), placed);
  EXPECT_EQ(stream.Size(), size);
  EXPECT_EQ(FirstBadBlock(stream.Memory(), 0, blocks), -1);
  EXPECT_EQ(std::memcmp(stream.Memory() + blocks * kReceiveBlock, tail.data(), tail.size()), 0);
}

// The reserved room is only address space: the pages come when bytes are written.
TEST(TIdMemoryStreamLargeBlock, RoomNotYetWrittenTakesNoMemory) {
  TIdMemoryStream stream;
  stream.SetSize(64 * kMiB);
  ASSERT_TRUE(stream.IsMapped());
  EXPECT_EQ(ResidentPages(stream.Memory(), stream.Capacity()), 0u);
  stream.SetPosition(0);
  WriteBlocks(stream, 0, 96);  // 3 MiB
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t resident = ResidentPages(stream.Memory(), stream.Capacity());
  EXPECT_GE(resident, static_cast<size_t>(3 * kMiB) / page);
  // At most the huge page the last byte went to on top.
  EXPECT_LE(resident, static_cast<size_t>(3 * kMiB + TIdMemoryStream::kHugePageSize) / page);
}

// A body without a length: the block leaves the heap, is remapped as it grows and keeps every
// byte, with its spare room bounded by half the size (plus the rounding to a huge page).
TEST(TIdMemoryStreamLargeBlock, GrowingBlockByBlockKeepsTheBytesAndBoundsTheRoom) {
  TIdMemoryStream stream;
  std::set<int64_t> capacities;
  const size_t blocks = static_cast<size_t>(40 * kMiB) / kReceiveBlock;
  for (size_t i = 0; i < blocks; ++i) {
    WriteBlocks(stream, i, 1);
    capacities.insert(stream.Capacity());
    ASSERT_LE(stream.Capacity(),
              stream.Size() + stream.Size() / 2 + TIdMemoryStream::kHugePageSize + 64 * 1024)
        << "after block " << i;
  }
  EXPECT_TRUE(stream.IsMapped());
  EXPECT_EQ(stream.Size(), 40 * kMiB);
  EXPECT_EQ(FirstBadBlock(stream.Memory(), 0, blocks), -1);
  // Geometric growth: a handful of steps, not one per block.
  EXPECT_LT(capacities.size(), 20u);
}

// A body that arrives in chunks sizes the stream before each one; that must grow the block
// geometrically too, not by one chunk per step.
TEST(TIdMemoryStreamLargeBlock, SizingChunkByChunkGrowsGeometrically) {
  TIdMemoryStream stream;
  std::set<int64_t> capacities;
  const size_t chunks = static_cast<size_t>(32 * kMiB) / kReceiveBlock;
  for (size_t i = 0; i < chunks; ++i) {
    const int64_t position = stream.Position();
    stream.SetSize(position + static_cast<int64_t>(kReceiveBlock));
    stream.SetPosition(position);
    WriteBlocks(stream, i, 1);
    capacities.insert(stream.Capacity());
  }
  EXPECT_EQ(stream.Size(), 32 * kMiB);
  EXPECT_EQ(FirstBadBlock(stream.Memory(), 0, chunks), -1);
  EXPECT_LT(capacities.size(), 30u);
  EXPECT_LE(stream.Capacity(), 48 * kMiB + TIdMemoryStream::kHugePageSize);
}

// Writing past the end leaves zeros in the gap, also when that write takes the block off the
// heap.
TEST(TIdMemoryStreamLargeBlock, AGapWrittenPastTheEndIsZeroAcrossTheMove) {
  TIdMemoryStream stream;
  stream.Write("head", 4);
  ASSERT_FALSE(stream.IsMapped());
  stream.SetPosition(5 * kMiB);
  stream.Write("tail", 4);
  ASSERT_TRUE(stream.IsMapped());
  EXPECT_EQ(stream.Size(), 5 * kMiB + 4);
  EXPECT_EQ(std::memcmp(stream.Memory(), "head", 4), 0);
  EXPECT_EQ(std::memcmp(stream.Memory() + 5 * kMiB, "tail", 4), 0);
  const std::vector<uint8_t> zeros(static_cast<size_t>(5 * kMiB - 4), 0);
  EXPECT_EQ(std::memcmp(stream.Memory() + 4, zeros.data(), zeros.size()), 0);
}

TEST(TIdMemoryStreamLargeBlock, HugePagesAreAskedForAndStayAfterGrowing) {
  if (!HugePagesBuiltIn()) {
    GTEST_SKIP() << "the kernel has no transparent huge pages";
  }
  TIdMemoryStream stream;
  stream.SetSize(8 * kMiB);
  EXPECT_NE(VmFlagsOf(stream.Memory()).find(" hg"), std::string::npos)
      << VmFlagsOf(stream.Memory());
  stream.SetPosition(8 * kMiB);
  WriteBlocks(stream, 0, static_cast<size_t>(8 * kMiB) / kReceiveBlock);
  EXPECT_NE(VmFlagsOf(stream.Memory()).find(" hg"), std::string::npos)
      << VmFlagsOf(stream.Memory());
}

TEST(TIdMemoryStreamLargeBlock, ClearGivesTheBlockBackAndTheStreamStaysUsable) {
  TIdMemoryStream stream;
  stream.SetSize(16 * kMiB);
  ASSERT_TRUE(stream.IsMapped());
  stream.Clear();
  EXPECT_FALSE(stream.IsMapped());
  EXPECT_EQ(stream.Memory(), nullptr);
  EXPECT_EQ(stream.Capacity(), 0);
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(stream.Position(), 0);
  stream.Write("again", 5);
  EXPECT_EQ(stream.ToString(), "again");
}

}  // namespace
}  // namespace kv::net
