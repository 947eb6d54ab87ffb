// The scanner: token kinds, values, texts and line counting.
#include "Parser/vrml.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

std::vector<AgToken> Scan(const std::string& text, int* line = nullptr) {
  AgVrmlLexer lex(text.data(), text.size());
  std::vector<AgToken> out;
  for (int i = 0; i < 1000; ++i) {
    AgToken t;
    lex.Next(&t);
    out.push_back(t);
    if (t.kind == AG_TOK_END) break;
  }
  if (line) *line = lex.Line();
  return out;
}

TEST(Lexer, KeywordsIgnoreCase) {
  auto t = Scan("DEF Def def USE use NULL true FALSE TrUe defx");
  ASSERT_EQ(t.size(), 11u);
  EXPECT_EQ(t[0].kind, AG_TOK_DEF);
  EXPECT_EQ(t[1].kind, AG_TOK_DEF);
  EXPECT_EQ(t[2].kind, AG_TOK_DEF);
  EXPECT_EQ(t[3].kind, AG_TOK_USE);
  EXPECT_EQ(t[4].kind, AG_TOK_USE);
  EXPECT_EQ(t[5].kind, AG_TOK_NULL);
  EXPECT_EQ(t[6].kind, AG_TOK_TRUE);
  EXPECT_EQ(t[7].kind, AG_TOK_FALSE);
  EXPECT_EQ(t[8].kind, AG_TOK_TRUE);
  EXPECT_EQ(t[9].kind, AG_TOK_IDENT);
  EXPECT_STREQ(t[9].text, "defx");
}

TEST(Lexer, NumberFollowedByLetterSplits) {
  auto t = Scan("12abc");
  ASSERT_GE(t.size(), 3u);
  EXPECT_EQ(t[0].kind, AG_TOK_INTEGER);
  EXPECT_EQ(t[0].ival, 12);
  EXPECT_EQ(t[1].kind, AG_TOK_IDENT);
  EXPECT_STREQ(t[1].text, "abc");
}

TEST(Lexer, SignsAndPoints) {
  auto t = Scan("+5 -5 -.5 - .x 1.5e+2 3. 2e-1 -7");
  ASSERT_EQ(t.size(), 10u);
  EXPECT_EQ(t[0].kind, AG_TOK_IDENT);
  EXPECT_STREQ(t[0].text, "+5");
  EXPECT_EQ(t[1].kind, AG_TOK_INTEGER);
  EXPECT_EQ(t[1].ival, -5);
  EXPECT_EQ(t[2].kind, AG_TOK_REAL);
  EXPECT_FLOAT_EQ(t[2].fval, -0.5f);
  EXPECT_EQ(t[3].kind, AG_TOK_IDENT);
  EXPECT_STREQ(t[3].text, "-");
  EXPECT_EQ(t[4].kind, AG_TOK_IDENT);
  EXPECT_STREQ(t[4].text, ".x");
  EXPECT_EQ(t[5].kind, AG_TOK_REAL);
  EXPECT_FLOAT_EQ(t[5].fval, 150.0f);
  EXPECT_EQ(t[6].kind, AG_TOK_REAL);
  EXPECT_FLOAT_EQ(t[6].fval, 3.0f);
  EXPECT_FLOAT_EQ(t[7].fval, 0.2f);
  EXPECT_EQ(t[8].ival, -7);
}

TEST(Lexer, ExponentMarkWithoutDigitsBecomesAWordTakingTheBlank) {
  auto t = Scan("1e abc}");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].kind, AG_TOK_IDENT);
  EXPECT_STREQ(t[0].text, "1e abc");
  EXPECT_EQ(t[1].kind, '}');
}

TEST(Lexer, BracketsAreTheirOwnKinds) {
  auto t = Scan("[]{}");
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[0].kind, '[');
  EXPECT_EQ(t[1].kind, ']');
  EXPECT_EQ(t[2].kind, '{');
  EXPECT_EQ(t[3].kind, '}');
}

TEST(Lexer, StringsWithoutEscapesAndUnterminated) {
  auto t = Scan("\"a b\\\" x \"open");
  ASSERT_GE(t.size(), 3u);
  EXPECT_EQ(t[0].kind, AG_TOK_STRING);
  EXPECT_STREQ(t[0].text, "a b\\");
  EXPECT_EQ(t[1].kind, AG_TOK_IDENT);
  EXPECT_STREQ(t[1].text, "x");
  EXPECT_EQ(t[2].kind, AG_TOK_STRING);
  EXPECT_STREQ(t[2].text, "open");
  EXPECT_EQ(t[3].kind, AG_TOK_END);
}

TEST(Lexer, CommentsAndCommasAreBlanks) {
  int line = 0;
  auto t = Scan("#VRML V2.0 utf8\n1,2 # two\n,3", &line);
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].ival, 1);
  EXPECT_EQ(t[1].ival, 2);
  EXPECT_EQ(t[2].ival, 3);
  EXPECT_EQ(line, 3);
}

TEST(Lexer, LongTokensAreCutAt127Characters) {
  std::string word(300, 'w');
  std::string str = "\"" + std::string(200, 's') + "\"";
  auto t = Scan(word + " " + str + " z");
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(std::string(t[0].text), std::string(127, 'w'));
  EXPECT_EQ(t[1].kind, AG_TOK_STRING);
  EXPECT_EQ(std::string(t[1].text), std::string(126, 's'));
  EXPECT_STREQ(t[2].text, "z");
}

TEST(Lexer, HugeNumbersSaturate) {
  auto t = Scan("99999999999999999999 -99999999999 1e999 -1e999");
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[0].ival, INT32_MAX);
  EXPECT_EQ(t[1].ival, INT32_MIN);
  EXPECT_TRUE(std::isinf(t[2].fval) && t[2].fval > 0);
  EXPECT_TRUE(std::isinf(t[3].fval) && t[3].fval < 0);
}

TEST(Lexer, BytesAbove127AreWordCharacters) {
  auto t = Scan("caf\xe9 \"\xff\xfe\"");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].kind, AG_TOK_IDENT);
  EXPECT_STREQ(t[0].text, "caf\xe9");
  EXPECT_STREQ(t[1].text, "\xff\xfe");
}

TEST(Lexer, NewlinesCountOncePushedBack) {
  int line = 0;
  auto t = Scan("a\n\nb\n", &line);
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(line, 4);
  AgVrmlLexer lex("a\nb", 3);
  AgToken tok;
  lex.Next(&tok);
  EXPECT_EQ(lex.Line(), 1);  // the newline that ended "a" went back
  lex.Next(&tok);
  EXPECT_EQ(lex.Line(), 2);
}

TEST(Lexer, NulByteEndsInput) {
  std::string s("a\0b", 3);
  auto t = Scan(s);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[1].kind, AG_TOK_END);
}

}  // namespace
