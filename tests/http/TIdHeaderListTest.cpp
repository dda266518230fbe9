#include "http/TIdHeaderList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv::http {
namespace {

using enum TIdHeaderQuotingType;
using Lines = std::vector<std::string>;

TIdHeaderList MakeList(const Lines& lines, TIdHeaderQuotingType quoteType = QuoteHTTP) {
  TIdHeaderList list(quoteType);
  for (const std::string& line : lines) {
    list.Add(line);
  }
  return list;
}

// ---- look-ups ----

TEST(HeaderListLookupTest, NamesMatchIgnoringCase) {
  const TIdHeaderList list = MakeList({"Server: x", "content-length: 10"});
  EXPECT_EQ(list.IndexOfName("Content-Length"), 1);
  EXPECT_EQ(list.GetValue("CONTENT-LENGTH"), "10");
  EXPECT_EQ(list.Values("Content-Length"), "10");
}

TEST(HeaderListLookupTest, SpaceBeforeColonIsPartOfTheName) {
  const TIdHeaderList list = MakeList({"Content-Length : 10"});
  EXPECT_EQ(list.IndexOfName("Content-Length"), -1);
  EXPECT_EQ(list.GetValue("Content-Length"), "");
  EXPECT_EQ(list.GetName(0), "Content-Length ");
}

TEST(HeaderListLookupTest, FirstOfTwoLinesWins) {
  const TIdHeaderList list = MakeList({"Content-Length: 10", "Content-Length: 20"});
  EXPECT_EQ(list.GetValue("Content-Length"), "10");
}

TEST(HeaderListLookupTest, ValueIsTrimmedAndMayContainColons) {
  const TIdHeaderList list = MakeList({"Location:   http://h:81/x  \t", "Empty:", "Bare:x"});
  EXPECT_EQ(list.GetValue("Location"), "http://h:81/x");
  EXPECT_EQ(list.IndexOfName("Empty"), 1);
  EXPECT_EQ(list.GetValue("Empty"), "");
  EXPECT_EQ(list.GetValue("Bare"), "x");
}

TEST(HeaderListLookupTest, LineWithoutColonHasNoNameAndIsNeverFound) {
  const TIdHeaderList list = MakeList({"garbage line", "A: 1"});
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.GetName(0), "");
  EXPECT_EQ(list.IndexOfName("garbage line"), -1);
  EXPECT_EQ(list.IndexOfName("garbage"), -1);
  EXPECT_EQ(list.IndexOfName(""), -1);
  EXPECT_EQ(list.GetValue(""), "");
  EXPECT_EQ(list.GetValue("A"), "1");
}

TEST(HeaderListLookupTest, FoldedValueReadsAsOneAndStaysTwoLines) {
  const TIdHeaderList list = MakeList({"X-A: one", "\ttwo", "X-B: b"});
  EXPECT_EQ(list.GetValue("X-A"), "one two");
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list[1], "\ttwo");
  EXPECT_EQ(list.GetValue("X-B"), "b");
}

TEST(HeaderListLookupTest, SeveralContinuationLinesJoinWithSingleSpaces) {
  const TIdHeaderList list = MakeList({"X-A: one  ", "   two  ", "\t three"});
  EXPECT_EQ(list.GetValue("X-A"), "one two three");
}

TEST(HeaderListLookupTest, WithoutUnfoldingOnlyTheFirstLineCounts) {
  TIdHeaderList list = MakeList({"X-A: one", "\ttwo"});
  list.SetUnfoldLines(false);
  EXPECT_EQ(list.GetValue("X-A"), "one");
}

TEST(HeaderListLookupTest, ContinuationLineNeverMatchesAName) {
  const TIdHeaderList list = MakeList({"X-A: one", " Host: evil"});
  EXPECT_EQ(list.IndexOfName("Host"), -1);
  EXPECT_EQ(list.GetValue("X-A"), "one Host: evil");
}

TEST(HeaderListExtractTest, ReturnsEveryOccurrenceInOrder) {
  const TIdHeaderList list = MakeList(
      {"Set-Cookie: a=1", "X-B: x", " Set-Cookie: not-a-header", "set-cookie: b=2;", " path=/"});
  EXPECT_EQ(list.Extract("Set-Cookie"), (Lines{"a=1", "b=2; path=/"}));
}

TEST(HeaderListExtractTest, IntoAHeaderListAndIntoNothing) {
  const TIdHeaderList list = MakeList(
      {"WWW-Authenticate: Basic realm=\"r\"", "X: y", "WWW-Authenticate: Digest realm=\"d\""});
  TIdHeaderList destination(QuoteHTTP);
  destination.Add("kept");
  list.Extract("WWW-Authenticate", &destination);
  EXPECT_EQ(destination.Lines(), (Lines{"kept", "Basic realm=\"r\"", "Digest realm=\"d\""}));
  list.Extract("WWW-Authenticate", static_cast<TIdHeaderList*>(nullptr));
  list.Extract("WWW-Authenticate", static_cast<std::vector<std::string>*>(nullptr));
}

TEST(HeaderListExtractTest, FromItselfAppendsOnce) {
  TIdHeaderList list = MakeList({"A: 1", "A: 2"});
  list.Extract("A", &list);
  EXPECT_EQ(list.Lines(), (Lines{"A: 1", "A: 2", "1", "2"}));
}

TEST(HeaderListLookupTest, AllParams) {
  const TIdHeaderList list =
      MakeList({"Content-Type: multipart/form-data;  boundary=x; a=\"b\"  ", "Plain: v"});
  EXPECT_EQ(list.GetAllParams("Content-Type"), "boundary=x; a=\"b\"");
  EXPECT_EQ(list.GetAllParams("Plain"), "");
  EXPECT_EQ(list.GetAllParams("Absent"), "");
}

TEST(HeaderListLookupTest, ConvertToStdValuesGivesOneItemPerLogicalHeader) {
  const TIdHeaderList list = MakeList({"A: 1", "X-A: one", "\ttwo", "noColon"});
  Lines values = {"old=1"};
  list.ConvertToStdValues(values);
  EXPECT_EQ(values, (Lines{"old=1", "A=1", "X-A=one two", "=noColon"}));
}

// ---- parameters ----

struct ParamCase {
  const char* Name;
  TIdHeaderQuotingType QuoteType;
  std::string Line;
  std::string Param;
  std::string Expected;
};

class HeaderListGetParamTest : public testing::TestWithParam<ParamCase> {};

TEST_P(HeaderListGetParamTest, ReadsParameter) {
  const ParamCase& c = GetParam();
  const TIdHeaderList list = MakeList({c.Line}, c.QuoteType);
  EXPECT_EQ(list.GetParam(list.GetName(0), c.Param), c.Expected);
}

// clang-format off
const ParamCase kParamCases[] = {
  {"QuotedCharset", QuoteHTTP, "Content-Type: text/html; charset=\"UTF-8\"", "charset", "UTF-8"},
  {"UnquotedCharset", QuoteHTTP, "Content-Type: text/html;charset=utf-8", "charset", "utf-8"},
  {"NameIgnoresCase", QuoteHTTP, "Content-Type: text/html; CharSet=x", "charset", "x"},
  {"SecondParameter", QuoteHTTP, "Content-Type: a/b; x=1; y=2", "y", "2"},
  {"FirstOfDuplicates", QuoteHTTP, "Content-Type: a/b; x=1; x=2", "x", "1"},
  {"Missing", QuoteHTTP, "Content-Type: a/b; x=1", "y", ""},
  {"NoParameters", QuoteHTTP, "Content-Type: a/b", "a", ""},
  {"EscapedQuoteAndBackslash", QuoteHTTP, "X: v; n=\"a\\\"b\\\\c\"", "n", "a\"b\\c"},
  {"SemicolonInsideQuotes", QuoteHTTP, "X: v; n=\"a;b\"; m=c", "m", "c"},
  {"SemicolonValueInsideQuotes", QuoteHTTP, "X: v; n=\"a;b\"; m=c", "n", "a;b"},
  {"UnclosedQuoteRunsToEnd", QuoteHTTP, "X: v; n=\"abc", "n", "abc"},
  {"BackslashAtEnd", QuoteHTTP, "X: v; n=\"ab\\", "n", "ab"},
  {"LoneQuote", QuoteHTTP, "X: v; n=\"", "n", ""},
  {"EmptyQuotedValueKept", QuoteHTTP, "X: v; n=\"\"; m=1", "m", "1"},
  {"EmptyUnquotedValueDropped", QuoteHTTP, "X: v; n=; m=1", "m", "1"},
  {"ItemWithoutValue", QuoteHTTP, "X: v; flag; m=1", "m", "1"},
  {"EmptyName", QuoteHTTP, "X: v; =1; m=2", "m", "2"},
  {"HttpStopsAtSlash", QuoteHTTP, "X: v; n=a/b", "n", "a"},
  {"HttpStopsAtSpace", QuoteHTTP, "X: v; n=a b", "n", "a"},
  {"HttpStopsAtBrace", QuoteHTTP, "X: v; n=a{b", "n", "a"},
  {"BlanksAroundEquals", QuoteHTTP, "X: v;  n = 1", "n", "1"},
  {"NonAsciiKept", QuoteHTTP, "X: v; n=\xc3\xa6\xc3\xb8", "n", "\xc3\xa6\xc3\xb8"},
  {"PlainKeepsSlashAndSpaceEnds", QuotePlain, "X: v; n=a/b c", "n", "a/b"},
  // Mail lists quote Content-Type and Content-Disposition by MIME rules, the rest by RFC 822.
  {"Rfc822ListMimeHeader", QuoteRFC822, "Content-Type: a/b; n=x/y", "n", "x"},
  {"Rfc822ListOtherHeader", QuoteRFC822, "X-Other: a; n=x/y", "n", "x/y"},
  {"Rfc822ListDotEnds", QuoteRFC822, "X-Other: a; n=1.2", "n", "1"},
  {"MimeListMimeHeaderKeepsDot", QuoteMIME, "Content-Disposition: a; n=1.2", "n", "1.2"},
  {"MimeListOtherHeaderDotEnds", QuoteMIME, "X-Other: a; n=1.2", "n", "1"},
  {"MimeListOtherHeaderKeepsSlash", QuoteMIME, "X-Other: a; n=x/y", "n", "x/y"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Values, HeaderListGetParamTest, testing::ValuesIn(kParamCases),
                         [](const testing::TestParamInfo<ParamCase>& info) {
                           return std::string(info.param.Name);
                         });

TEST(HeaderListParamTest, FoldedValueParameters) {
  const TIdHeaderList list = MakeList({"Content-Type: text/html;", "\tcharset=\"x\""});
  EXPECT_EQ(list.GetParam("Content-Type", "charset"), "x");
}

struct SetParamCase {
  const char* Name;
  std::string Line;
  std::string Param;
  std::string Value;
  std::string Expected;
};

class HeaderListSetParamTest : public testing::TestWithParam<SetParamCase> {};

TEST_P(HeaderListSetParamTest, RewritesValue) {
  const SetParamCase& c = GetParam();
  TIdHeaderList list = MakeList({"A: 1", c.Line, "B: 2"});
  list.SetParam("Content-Type", c.Param, c.Value);
  EXPECT_EQ(list.Lines(), (Lines{"A: 1", c.Expected, "B: 2"}));
  if (!c.Value.empty()) {
    EXPECT_EQ(list.GetParam("Content-Type", c.Param), c.Value);
  }
}

// clang-format off
const SetParamCase kSetParamCases[] = {
  {"Added", "Content-Type: text/html", "charset", "UTF-8",
   "Content-Type: text/html; charset=UTF-8"},
  {"Replaced", "content-type: text/html; charset=x; q=1", "Charset", "y",
   "Content-Type: text/html; Charset=y; q=1"},
  {"DuplicatesDropped", "Content-Type: a/b; c=1; c=2; d=3", "c", "4",
   "Content-Type: a/b; c=4; d=3"},
  {"Removed", "Content-Type: text/html; charset=x; q=1", "charset", "",
   "Content-Type: text/html; q=1"},
  {"SpaceQuoted", "Content-Type: a/b", "n", "x y", "Content-Type: a/b; n=\"x y\""},
  {"SeparatorQuoted", "Content-Type: a/b", "n", "x/y", "Content-Type: a/b; n=\"x/y\""},
  {"QuoteAndBackslashEscaped", "Content-Type: a/b", "n", "a\"b\\c",
   "Content-Type: a/b; n=\"a\\\"b\\\\c\""},
  {"OthersRequotedOnlyWhenNeeded", "Content-Type: a/b; x=\"plain\"; y=\"s p\"", "n", "1",
   "Content-Type: a/b; x=plain; y=\"s p\"; n=1"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Values, HeaderListSetParamTest, testing::ValuesIn(kSetParamCases),
                         [](const testing::TestParamInfo<SetParamCase>& info) {
                           return std::string(info.param.Name);
                         });

TEST(HeaderListParamTest, SetParamOnAbsentHeader) {
  TIdHeaderList list(QuoteHTTP);
  list.SetParam("X", "a", "");
  EXPECT_EQ(list.Count(), 0);
  list.SetParam("X", "a", "1");
  EXPECT_EQ(list.GetParam("X", "a"), "1");
  EXPECT_EQ(list.GetParam("Y", "a"), "");
}

TEST(HeaderListParamTest, SetAllParams) {
  TIdHeaderList list = MakeList({"Content-Type: multipart/form-data ; boundary=x", "B: 2"});
  list.SetAllParams("Content-Type", " charset=y; q=1 ");
  EXPECT_EQ(list.Lines(), (Lines{"Content-Type: multipart/form-data; charset=y; q=1", "B: 2"}));
  list.SetAllParams("Content-Type", "");
  EXPECT_EQ(list.Lines(), (Lines{"Content-Type: multipart/form-data", "B: 2"}));
  list.SetAllParams("Absent", "a=1");
  EXPECT_EQ(list.Count(), 2);
}

// ---- writers ----

TEST(HeaderListWriteTest, SetValueReplacesInPlaceWithItsContinuationLines) {
  TIdHeaderList list = MakeList({"A: 1", "x-a: one", "\ttwo", " three", "B: 2"});
  list.SetValue("X-A", "new");
  EXPECT_EQ(list.Lines(), (Lines{"A: 1", "X-A: new", "B: 2"}));
}

TEST(HeaderListWriteTest, SetValueWithoutFoldingStillDropsOldContinuationLines) {
  TIdHeaderList list = MakeList({"X-A: one", "\ttwo", "B: 2"});
  list.SetFoldLines(false);
  list.SetValue("X-A", "new");
  EXPECT_EQ(list.GetValue("X-A"), "new");
  EXPECT_EQ(list.Lines(), (Lines{"X-A: new", "B: 2"}));
}

TEST(HeaderListWriteTest, SetValueEmptyDeletesLineAndContinuationLines) {
  TIdHeaderList list = MakeList({"A: 1", "X-A: one", "\ttwo", " three", "B: 2"});
  list.SetValue("x-a", "");
  EXPECT_EQ(list.Lines(), (Lines{"A: 1", "B: 2"}));
  list.SetValue("absent", "");
  EXPECT_EQ(list.Count(), 2);
}

TEST(HeaderListWriteTest, SetValueOnlyTouchesTheFirstDuplicate) {
  TIdHeaderList list = MakeList({"A: 1", "A: 2"});
  list.SetValue("A", "3");
  EXPECT_EQ(list.Lines(), (Lines{"A: 3", "A: 2"}));
}

TEST(HeaderListWriteTest, SetValueAppendsAbsentHeaderRightTrimmed) {
  TIdHeaderList list = MakeList({"A: 1"});
  list.SetValue("Host", "h \t ");
  EXPECT_EQ(list.Lines(), (Lines{"A: 1", "Host: h"}));
}

TEST(HeaderListWriteTest, AddValueAppendsAndIgnoresEmptyParts) {
  TIdHeaderList list = MakeList({"Cookie: a=1"});
  list.AddValue("Cookie", "b=2  ");
  list.AddValue("Cookie", "");
  list.AddValue("", "c=3");
  EXPECT_EQ(list.Lines(), (Lines{"Cookie: a=1", "Cookie: b=2"}));
}

TEST(HeaderListWriteTest, OtherSeparator) {
  TIdHeaderList list(QuoteHTTP);
  list.SetNameValueSeparator("=");
  list.AddValue("charset", "x");
  EXPECT_EQ(list[0], "charset=x");
  EXPECT_EQ(list.GetValue("CHARSET"), "x");
}

TEST(HeaderListWriteTest, HttpListsNeverFold) {
  TIdHeaderList list(QuoteHTTP);
  EXPECT_EQ(list.FoldLinesLength(), 2147483647);
  const std::string value = std::string(500, 'a') + " " + std::string(500, 'b');
  list.SetValue("X", value);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.GetValue("X"), value);
}

TEST(HeaderListWriteTest, OtherListsFoldAt78) {
  TIdHeaderList list(QuoteMIME);
  EXPECT_EQ(list.FoldLinesLength(), 78);
  std::string value;
  for (int i = 0; i < 30; ++i) {
    value += "word" + std::to_string(i) + " ";
  }
  list.AddValue("Subject", value);
  ASSERT_GT(list.Count(), 1);
  for (int i = 0; i < list.Count(); ++i) {
    EXPECT_LE(list[i].size(), 78u) << list[i];
    EXPECT_EQ(list[i], TrimRight(list[i]));
    if (i > 0) {
      EXPECT_EQ(list[i][0], ' ');
    }
  }
  EXPECT_EQ(list.GetValue("Subject"), Trim(value));
}

TEST(HeaderListWriteTest, SetValueFoldsInPlace) {
  TIdHeaderList list = MakeList({"A: 1", "X: old", "B: 2"}, QuotePlain);
  list.SetFoldLinesLength(10);
  list.SetValue("X", "aaa bbb ccc");
  EXPECT_EQ(list.Lines(), (Lines{"A: 1", "X: aaa bbb", " ccc", "B: 2"}));
}

struct FoldCase {
  const char* Name;
  std::string Line;
  int32_t Width;
  Lines Expected;
};

class FoldHeaderLineTest : public testing::TestWithParam<FoldCase> {};

TEST_P(FoldHeaderLineTest, Folds) {
  EXPECT_EQ(FoldHeaderLine(GetParam().Line, GetParam().Width), GetParam().Expected);
}

// clang-format off
const FoldCase kFoldCases[] = {
  {"Fits", "X: a b", 6, {"X: a b"}},
  {"AtSpace", "X: aaa bbb", 6, {"X: aaa", " bbb"}},
  {"CommaStaysInFront", "X: a,bb,cc", 6, {"X: a,", " bb,cc"}},
  {"AtTab", "X: aa\tbb", 5, {"X: aa", " bb"}},
  {"NoBreakPointStaysWhole", "X:" + std::string(20, 'a'), 6, {"X:" + std::string(20, 'a')}},
  {"LongWordBreaksAfterIt", "X: " + std::string(10, 'a') + " b", 6,
   {"X:", " " + std::string(10, 'a'), " b"}},
  {"RunsOfBlanksCollapse", "X: aaa    bbb   ", 6, {"X: aaa", " bbb"}},
  {"LeadingBlanksNoEmptyLine", "   aaa bbb", 4, {"   aaa", " bbb"}},
  {"WidthZero", "a b,c", 0, {"a", " b,", " c"}},
  {"Empty", "", 10, {""}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Lines, FoldHeaderLineTest, testing::ValuesIn(kFoldCases),
                         [](const testing::TestParamInfo<FoldCase>& info) {
                           return std::string(info.param.Name);
                         });

TEST(HeaderListWriteTest, AddStdValuesAndAddStrings) {
  TIdHeaderList list(QuoteHTTP);
  list.AddStdValues({"A=1", "B=x=y", "noEquals", "C=", "=v"});
  EXPECT_EQ(list.Lines(), (Lines{"A: 1", "B: x=y"}));

  list.AddStrings(Lines{"D=4"});
  TIdHeaderList other = MakeList({"E: 5", "\tcontinued", "raw line"});
  list.AddStrings(other);
  EXPECT_EQ(list.Lines(), (Lines{"A: 1", "B: x=y", "D: 4", "E: 5", "\tcontinued", "raw line"}));

  other.AddStrings(other);
  EXPECT_EQ(other.Count(), 6);
}

// ---- the list itself ----

TEST(HeaderListTest, IndexOutsideRaises) {
  TIdHeaderList list = MakeList({"A: 1"});
  const auto expectIndexError = [](auto&& call, const char* message) {
    try {
      call();
      ADD_FAILURE() << "no exception";
    } catch (const EIdHeaderListIndexError& e) {
      EXPECT_STREQ(e.ClassName(), "EIdHeaderListIndexError");
      EXPECT_EQ(e.Message(), message);
    }
  };
  expectIndexError([&] { list.Strings(1); }, "List index out of bounds (1)");
  expectIndexError([&] { list.GetName(-1); }, "List index out of bounds (-1)");
  expectIndexError([&] { list.Delete(1); }, "List index out of bounds (1)");
  expectIndexError([&] { list.Insert(2, "x"); }, "List index out of bounds (2)");
  list.Insert(1, "B: 2");
  list.Insert(0, "Z: 0");
  EXPECT_EQ(list.Lines(), (Lines{"Z: 0", "A: 1", "B: 2"}));
}

TEST(HeaderListTest, TextJoinsWithCrLfAndSetTextSplits) {
  TIdHeaderList list(QuoteHTTP);
  list.SetText("A: 1\r\nB: 2\n\r\nC: 3");
  EXPECT_EQ(list.Lines(), (Lines{"A: 1", "B: 2", "", "C: 3"}));
  EXPECT_EQ(list.Text(), "A: 1\r\nB: 2\r\n\r\nC: 3\r\n");
  list.Clear();
  EXPECT_EQ(list.Text(), "");
}

TEST(HeaderListTest, OddLinesNeverReadOutside) {
  // Run under the sanitizers: malformed lines must neither crash nor read past the text.
  const Lines odd = {"",
                     ":",
                     "::",
                     " ",
                     "\t",
                     "\"",
                     "\\",
                     "X: ;",
                     "X: ;;;==;\"",
                     "X: ; a=\"\\",
                     "X: ; a=\"\\\"",
                     "X: ; =",
                     "X: \xff\xfe; \x80=\x81",
                     std::string(1, '\0'),
                     "X: ; " + std::string(10000, '\"'),
                     "X: ; a=" + std::string(10000, '\\')};
  TIdHeaderList list = MakeList(odd);
  for (int i = 0; i < list.Count(); ++i) {
    const std::string name = list.GetName(i);
    (void)list.GetValue(name);
    (void)list.GetParam(name, "a");
    (void)list.GetAllParams(name);
  }
  Lines values;
  list.ConvertToStdValues(values);
  EXPECT_EQ(list.Extract("X").size(), 8u);
  list.SetParam("X", "a", "\"\\");
  EXPECT_EQ(list.GetParam("X", "a"), "\"\\");
}

}  // namespace
}  // namespace kv::http
