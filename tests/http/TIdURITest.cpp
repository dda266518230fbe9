#include "http/TIdURI.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv::http {
namespace {

using kv::net::TIdIPVersion;
using enum TIdURIOptionalFields;

// ---- parsing ----

struct ParseCase {
  const char* Name;
  std::string Url;
  std::string Protocol;
  std::string Username;
  std::string Password;
  std::string Host;
  std::string Port;
  std::string Path;
  std::string Document;
  std::string Params;
  std::string Bookmark;
  TIdIPVersion IPVersion = TIdIPVersion::Id_IPv4;
};

class URIParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(URIParseTest, SplitsIntoFields) {
  const ParseCase& c = GetParam();
  TIdURI uri(c.Url);
  EXPECT_EQ(uri.Protocol(), c.Protocol);
  EXPECT_EQ(uri.Username(), c.Username);
  EXPECT_EQ(uri.Password(), c.Password);
  EXPECT_EQ(uri.Host(), c.Host);
  EXPECT_EQ(uri.Port(), c.Port);
  EXPECT_EQ(uri.Path(), c.Path);
  EXPECT_EQ(uri.Document(), c.Document);
  EXPECT_EQ(uri.Params(), c.Params);
  EXPECT_EQ(uri.Bookmark(), c.Bookmark);
  EXPECT_EQ(uri.IPVersion(), c.IPVersion);
  EXPECT_EQ(uri.URIText(), c.Url);
}

// clang-format off
const ParseCase kParseCases[] = {
  {"Installer", "http://h/Downloads/Instal34/a.exe",
   "http", "", "", "h", "", "/Downloads/Instal34/", "a.exe", "", ""},
  {"HostOnly", "http://h", "http", "", "", "h", "", "/", "", "", ""},
  {"HostAndSlash", "http://h/", "http", "", "", "h", "", "/", "", "", ""},
  {"QueryWithoutPath", "http://h?q=1", "http", "", "", "h", "", "/", "", "q=1", ""},
  {"ParamsAndBookmark", "http://h/d/f.exe?a=b#top",
   "http", "", "", "h", "", "/d/", "f.exe", "a=b", "top"},
  {"BookmarkWithoutParams", "http://h/d/f.exe#top",
   "http", "", "", "h", "", "/d/", "f.exe", "", "top"},
  // A "?" inside the fragment belongs to the fragment; the fragment never reaches the server.
  {"QuestionMarkInsideBookmark", "http://h/d/f.exe#top?x=1",
   "http", "", "", "h", "", "/d/", "f.exe", "", "top?x=1"},
  {"BracketedIPv6", "http://[::1]:8080/x",
   "http", "", "", "::1", "8080", "/", "x", "", "", TIdIPVersion::Id_IPv6},
  {"BracketedIPv6WithoutPort", "http://[fe80::1]/d/",
   "http", "", "", "fe80::1", "", "/d/", "", "", "", TIdIPVersion::Id_IPv6},
  {"SchemeCaseKeptWithPort", "HTTP://h:80/x", "HTTP", "", "", "h", "80", "/", "x", "", ""},
  {"BackslashesBeforeQuery", "http:\\\\h\\d\\e\\f.exe?x=a\\b",
   "http", "", "", "h", "", "/d/e/", "f.exe", "x=a\\b", ""},
  {"BackslashInBookmarkStays", "http://h\\d\\f.exe#a\\b",
   "http", "", "", "h", "", "/d/", "f.exe", "", "a\\b"},
  {"UserAndPassword", "http://u:p@h/x", "http", "u", "p", "h", "", "/", "x", "", ""},
  {"UserWithoutColon", "http://u@h/x", "http", "u", "", "h", "", "/", "x", "", ""},
  {"EmptyUserDropsPassword", "http://:p@h/x", "http", "", "", "h", "", "/", "x", "", ""},
  {"LastAtSplitsUserInfo", "http://u:p@q@h:81/", "http", "u", "p@q", "h", "81", "/", "", "", ""},
  {"FtpPort", "ftp://h:21/pub/f.zip", "ftp", "", "", "h", "21", "/pub/", "f.zip", "", ""},
  {"RelativeDocument", "b.exe", "", "", "", "", "", "", "b.exe", "", ""},
  {"RelativeParent", "../c.exe", "", "", "", "", "", "../", "c.exe", "", ""},
  {"RelativeWithQuery", "d/f.exe?q#b", "", "", "", "", "", "d/", "f.exe", "q", "b"},
  // A ":" in the query is no scheme: the path's backslash still turns, the query's stays.
  {"ColonInQueryOfRelative", "/d\\f.exe?x=1:2\\3", "", "", "", "", "", "/d/", "f.exe", "x=1:2\\3", ""},
  {"Empty", "", "", "", "", "", "", "", "", "", ""},
  {"OnlySchemeSeparator", "://", "", "", "", "", "", "/", "", "", ""},
  {"EmptyBrackets", "http://[]:1/", "http", "", "", "", "1", "/", "", "", "", TIdIPVersion::Id_IPv6},
  {"UnclosedBracket", "http://[::1/x", "http", "", "", "[", ":1", "/", "x", "", ""},
  {"EmptyPort", "http://h:/x", "http", "", "", "h", "", "/", "x", "", ""},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Urls, URIParseTest, testing::ValuesIn(kParseCases),
                         [](const testing::TestParamInfo<ParseCase>& info) {
                           return std::string(info.param.Name);
                         });

TEST(URITest, AssigningANewUrlClearsEveryField) {
  TIdURI uri("https://u:p@[::1]:8443/d/f.exe?a=b#top");
  uri.SetURI("b.exe");
  EXPECT_EQ(uri.Protocol(), "");
  EXPECT_EQ(uri.Username(), "");
  EXPECT_EQ(uri.Password(), "");
  EXPECT_EQ(uri.Host(), "");
  EXPECT_EQ(uri.Port(), "");
  EXPECT_EQ(uri.Path(), "");
  EXPECT_EQ(uri.Document(), "b.exe");
  EXPECT_EQ(uri.Params(), "");
  EXPECT_EQ(uri.Bookmark(), "");
  EXPECT_EQ(uri.IPVersion(), TIdIPVersion::Id_IPv4);
}

TEST(URITest, ParsingNeverReadsOutsideOddTexts) {
  // Run under the sanitizers: every split must stay inside the text.
  const std::vector<std::string> texts = {":",
                                          "\\",
                                          "?",
                                          "#",
                                          "@",
                                          "[",
                                          "]",
                                          "://@",
                                          "://[",
                                          "://]:",
                                          "a:\\",
                                          "a:\\\\",
                                          "x://",
                                          "x://?",
                                          "x://#",
                                          "x://@@@:::",
                                          "\xff\xfe:\\\x80",
                                          std::string(1, '\0'),
                                          std::string(10000, '/'),
                                          std::string(10000, '\\')};
  for (const std::string& text : texts) {
    TIdURI uri(text);
    EXPECT_LE(uri.GetPathAndParams().size(), text.size() + 2) << text;
  }
}

// ---- normalising ----

struct NormalizeCase {
  const char* Name;
  std::string Input;
  std::string Expected;
};

class URINormalizeTest : public testing::TestWithParam<NormalizeCase> {};

TEST_P(URINormalizeTest, TurnsBackslashesOfThePathOnly) {
  std::string text = GetParam().Input;
  TIdURI::NormalizePath(text);
  EXPECT_EQ(text, GetParam().Expected);
}

// clang-format off
const NormalizeCase kNormalizeCases[] = {
  {"AfterSchemeAndInPath", "http:\\\\h\\d\\f.exe", "http://h/d/f.exe"},
  {"QueryAndFragmentKeep", "http://h/a\\b?c\\d#e\\f", "http://h/a/b?c\\d#e\\f"},
  {"FragmentWithoutQuery", "http://h/a\\b#c\\d", "http://h/a/b#c\\d"},
  {"RelativeWithoutColon", "a\\b\\c", "a/b/c"},
  {"ColonOnlyInQuery", "/d\\f?x=1:2\\3", "/d/f?x=1:2\\3"},
  {"SchemeTextUntouched", "a\\b:c\\d", "a\\b:c/d"},
  {"Empty", "", ""},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Texts, URINormalizeTest, testing::ValuesIn(kNormalizeCases),
                         [](const testing::TestParamInfo<NormalizeCase>& info) {
                           return std::string(info.param.Name);
                         });

// ---- rebuilding ----

struct RebuildCase {
  const char* Name;
  std::string Url;
  TIdURIOptionalFieldsSet Options;
  std::string Expected;
};

class URIRebuildTest : public testing::TestWithParam<RebuildCase> {};

TEST_P(URIRebuildTest, GetFullURI) {
  const RebuildCase& c = GetParam();
  EXPECT_EQ(TIdURI(c.Url).GetFullURI(c.Options), c.Expected);
}

const TIdURIOptionalFieldsSet kBoth = {ofAuthInfo, ofBookmark};

// clang-format off
const RebuildCase kRebuildCases[] = {
  {"Installer", "http://h/Downloads/Instal34/a.exe", {}, "http://h/Downloads/Instal34/a.exe"},
  {"BracketsPutBack", "http://[::1]:8080/x", {}, "http://[::1]:8080/x"},
  {"HttpDefaultPortDropped", "HTTP://h:80/x", {}, "HTTP://h/x"},
  {"HttpsDefaultPortDropped", "https://h:443/x", {}, "https://h/x"},
  {"HttpsOtherPortKept", "https://h:80/x", {}, "https://h:80/x"},
  {"FtpDefaultPortDropped", "ftp://h:21/pub/f.zip", {}, "ftp://h/pub/f.zip"},
  {"OtherSchemeKeepsPort", "gopher://h:70/x", {}, "gopher://h:70/x"},
  {"OtherSchemeKeepsPort80", "ws://h:80/x", {}, "ws://h:80/x"},
  {"PortComparedExactly", "http://h:080/x", {}, "http://h:080/x"},
  {"HostOnlyGetsSlash", "http://h:8080", {}, "http://h:8080/"},
  {"WithoutOptionalFields", "http://u:p@h/d/f?a=b#top", {}, "http://h/d/f?a=b"},
  {"WithBoth", "http://u:p@h/d/f?a=b#top", kBoth, "http://u:p@h/d/f?a=b#top"},
  {"AuthInfoOnly", "http://u:p@h/d/f?a=b#top", {ofAuthInfo}, "http://u:p@h/d/f?a=b"},
  {"BookmarkOnly", "http://u:p@h/d/f?a=b#top", {ofBookmark}, "http://h/d/f?a=b#top"},
  {"UserWithoutPassword", "http://u@h/", kBoth, "http://u@h/"},
  {"BackslashesBecomeSlashes", "http:\\\\h\\d\\f.exe?x=a\\b", {}, "http://h/d/f.exe?x=a\\b"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Urls, URIRebuildTest, testing::ValuesIn(kRebuildCases),
                         [](const testing::TestParamInfo<RebuildCase>& info) {
                           return std::string(info.param.Name);
                         });

TEST(URITest, ReadingURIStoresTheFullFormAndReturnsTheShortOne) {
  TIdURI uri("http://u:p@h:81/d/f?a=b#top");
  uri.SetPort("82");
  EXPECT_EQ(uri.URI(), "http://h:82/d/f?a=b");
  EXPECT_EQ(uri.URIText(), "http://u:p@h:82/d/f?a=b#top");
}

TEST(URITest, FieldsSetOneByOneRebuild) {
  TIdURI uri;
  uri.SetProtocol("http");
  uri.SetHost("::1");
  uri.SetIPVersion(TIdIPVersion::Id_IPv6);
  uri.SetPath("/d/");
  uri.SetDocument("f.exe");
  EXPECT_EQ(uri.URI(), "http://[::1]/d/f.exe");
}

TEST(URITest, GetPathAndParams) {
  EXPECT_EQ(TIdURI("http://h/d/f.exe?a=b#top").GetPathAndParams(), "/d/f.exe?a=b");
  EXPECT_EQ(TIdURI("http://h").GetPathAndParams(), "/");
  EXPECT_EQ(TIdURI("http://h?q=1").GetPathAndParams(), "/?q=1");
}

struct MissingFieldCase {
  const char* Name;
  std::string Url;
  std::string Message;
};

class URIMissingFieldTest : public testing::TestWithParam<MissingFieldCase> {};

TEST_P(URIMissingFieldTest, RaisesEIdURIException) {
  TIdURI uri(GetParam().Url);
  for (int viaURI = 0; viaURI < 2; ++viaURI) {
    try {
      if (viaURI != 0) {
        uri.URI();
      } else {
        uri.GetFullURI();
      }
      ADD_FAILURE() << "no exception";
    } catch (const EIdURIException& e) {
      EXPECT_STREQ(e.ClassName(), "EIdURIException");
      EXPECT_EQ(e.Message(), GetParam().Message);
    }
  }
}

// clang-format off
const MissingFieldCase kMissingFieldCases[] = {
  {"Empty", "", "Protocol field is empty"},
  {"Relative", "/d/b.exe", "Protocol field is empty"},
  {"NoHost", "http:///d/b.exe", "Host field is empty"},
  {"OnlyUserInfo", "http://u:p@/", "Host field is empty"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Urls, URIMissingFieldTest, testing::ValuesIn(kMissingFieldCases),
                         [](const testing::TestParamInfo<MissingFieldCase>& info) {
                           return std::string(info.param.Name);
                         });

// ---- merging paths ----

struct MergeCase {
  const char* Name;
  std::string Base;
  std::string Path;
  std::string Expected;
};

class MergePathTest : public testing::TestWithParam<MergeCase> {};

TEST_P(MergePathTest, Merges) {
  EXPECT_EQ(TIdURI::MergePath(GetParam().Base, GetParam().Path), GetParam().Expected);
}

// clang-format off
const MergeCase kMergeCases[] = {
  {"SiblingDocument", "/d/", "b.exe", "/d/b.exe"},
  {"ParentDirectory", "/d/", "../c.exe", "/c.exe"},
  {"AbsolutePathWins", "/d/", "/x", "/x"},
  {"BaseWithoutTrailingSlash", "/d", "b.exe", "/d/b.exe"},
  {"RunsOfSlashesCollapse", "/a//b///", "c//d", "/a/b/c/d"},
  {"ParentBeyondRoot", "/", "../../x", "/x"},
  {"ParentOfRootIsRoot", "/d/", "../..", "/"},
  {"KeepTrailingSlashOfPath", "/d/", "e/", "/d/e/"},
  {"EmptyPathKeepsBase", "/d/", "", "/d/"},
  {"TrailingSlashDroppedAfterParent", "/d/", "e/..", "/d"},
  {"ParentAtEnd", "/d/e/", "..", "/d"},
  {"RootStaysRoot", "/", "", "/"},
  {"DotDotPrefixedNameIsAFile", "/d/", "..x", "/d/..x"},
  {"DotsInsideNames", "/d.e/", "f..g.exe", "/d.e/f..g.exe"},
  {"EmptyBoth", "", "", ""},
  {"EmptyBase", "", "x", "x"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Paths, MergePathTest, testing::ValuesIn(kMergeCases),
                         [](const testing::TestParamInfo<MergeCase>& info) {
                           return std::string(info.param.Name);
                         });

}  // namespace
}  // namespace kv::http
