#include "app/TFileSaver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "net/TIdStream.h"
#include "tests/support/TestFiles.h"

namespace kv::app {
namespace {

using kv::test::ReadFile;

class FileSaverTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(folder.empty()); }

  static void Fill(kv::net::TIdMemoryStream& stream, const std::string& bytes) {
    stream.Write(bytes.data(), bytes.size());
  }

  kv::test::TempFolder temp{"kavora-save"};
  const std::string folder = temp.Path();
};

TEST_F(FileSaverTest, ReplacesTheFileWithTheWholeStreamAndLeavesNothingElse) {
  const std::string target = folder + "file.exe";
  std::ofstream(target) << "an older and longer content";
  kv::net::TIdMemoryStream stream;
  Fill(stream, std::string("new\0bytes", 9));
  stream.SetPosition(4);  // the whole stream counts, wherever its position is
  SaveStreamAtomically(target, stream);
  EXPECT_EQ(ReadFile(target), std::string("new\0bytes", 9));
  EXPECT_EQ(temp.Names(), std::vector<std::string>{"file.exe"});
}

TEST_F(FileSaverTest, NewFileGetsTheModeOfAnyNewFile) {
  // The temporary file must not keep a private mode once it carries the installer's name.
  const mode_t previous = umask(022);
  kv::net::TIdMemoryStream stream;
  Fill(stream, "x");
  SaveStreamAtomically(folder + "file.exe", stream);
  umask(previous);
  struct stat st {};
  ASSERT_EQ(stat((folder + "file.exe").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(FileSaverTest, MissingFolderFailsWithItsReason) {
  kv::net::TIdMemoryStream stream;
  const std::string target = folder + "missing/file.exe";
  try {
    SaveStreamAtomically(target, stream);
    FAIL() << "no exception";
  } catch (const EFileSaveError& e) {
    EXPECT_STREQ(e.ClassName(), "EFileSaveError");
    EXPECT_EQ(e.Message(), "Cannot create a temporary file for \"" + target +
                               "\" (error 2: No such file or directory)");
  }
}

TEST_F(FileSaverTest, FailedRenameRemovesTheTemporaryFile) {
  const std::string target = folder + "file.exe";
  ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
  kv::net::TIdMemoryStream stream;
  Fill(stream, "data");
  try {
    SaveStreamAtomically(target, stream);
    FAIL() << "no exception";
  } catch (const EFileSaveError& e) {
    EXPECT_STREQ(e.ClassName(), "EFileSaveError");
    EXPECT_EQ(e.Message(), "Cannot replace \"" + target + "\" (error 21: Is a directory)");
  }
  EXPECT_EQ(temp.Names(), std::vector<std::string>{"file.exe"});
}

}  // namespace
}  // namespace kv::app
