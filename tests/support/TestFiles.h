#pragma once

// Files and folders for tests that write to disk: a temporary folder that removes itself,
// whole-file reads and writes, and test bytes that are not all alike.
//
//   kv::test::TempFolder folder("kavora-save");
//   kv::test::WriteFile(folder / "a.bin", "old");
//   EXPECT_EQ(folder.Names(), std::vector<std::string>{"a.bin"});

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kv::test {

// The names in a folder ("." and ".." left out), sorted; none when it cannot be read.
std::vector<std::string> FolderNames(const std::string& folder);
// The whole content of a file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces the content of a file (creating it).
void WriteFile(const std::string& path, const std::string& content);
// `size` bytes of a pseudo-random sequence chosen by `seed`: a shifted or repeated block shows.
std::string VariedBytes(std::size_t size, uint32_t seed);

// A fresh folder below the system's temporary folder, removed with everything in it when the
// object goes. Path() ends with "/", so a file name can be appended; it is empty when no folder
// could be made.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + name; }
  // Shows a temporary file that was left behind.
  std::vector<std::string> Names() const { return FolderNames(m_path); }

 private:
  std::string m_path;
};

}  // namespace kv::test
