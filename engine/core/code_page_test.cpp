// The system ANSI code page: choice from the locale, the override, and the
// conversions, including bytes and characters a code page does not have.
#include "engine/core/code_page.h"

#include <gtest/gtest.h>

namespace vexl {
namespace {

TEST(CodePage, ChosenFromTheLocaleName) {
  EXPECT_EQ(codePageForLocale("ja_JP.UTF-8"), 932u);
  EXPECT_EQ(codePageForLocale("ja_JP.eucJP"), 932u);
  EXPECT_EQ(codePageForLocale("zh_CN.GB18030"), 936u);
  EXPECT_EQ(codePageForLocale("zh_TW.UTF-8"), 950u);
  EXPECT_EQ(codePageForLocale("zh_HK"), 950u);
  EXPECT_EQ(codePageForLocale("ko_KR.UTF-8"), 949u);
  EXPECT_EQ(codePageForLocale("ru_RU.UTF-8"), 1251u);
  EXPECT_EQ(codePageForLocale("uk_UA"), 1251u);
  EXPECT_EQ(codePageForLocale("sr_RS"), 1251u);
  EXPECT_EQ(codePageForLocale("sr_RS@latin"), 1250u);
  EXPECT_EQ(codePageForLocale("pl_PL.ISO-8859-2"), 1250u);
  EXPECT_EQ(codePageForLocale("el_GR"), 1253u);
  EXPECT_EQ(codePageForLocale("tr_TR.UTF-8"), 1254u);
  EXPECT_EQ(codePageForLocale("he_IL"), 1255u);
  EXPECT_EQ(codePageForLocale("ar_EG.UTF-8"), 1256u);
  EXPECT_EQ(codePageForLocale("lt_LT"), 1257u);
  EXPECT_EQ(codePageForLocale("vi_VN"), 1258u);
  EXPECT_EQ(codePageForLocale("th_TH"), 874u);
  // A codeset naming a Windows code page wins over the language.
  EXPECT_EQ(codePageForLocale("en_US.CP1251"), 1251u);
  EXPECT_EQ(codePageForLocale("de_DE.windows-1250"), 1250u);
  EXPECT_EQ(codePageForLocale("en_US.CP437"), 1252u);  // not an ANSI code page
  for (const char* plain : {"C", "POSIX", "C.UTF-8", "en_US.UTF-8", "de_DE@euro", "fr_FR", "", "_", ".", "@"})
    EXPECT_EQ(codePageForLocale(plain), 1252u) << plain;
}

TEST(CodePage, SettableToSupportedPagesOnly) {
  const std::uint32_t before = systemAnsiCodePage();
  EXPECT_TRUE(isSupportedCodePage(before));
  EXPECT_FALSE(setSystemAnsiCodePage(65001));
  EXPECT_FALSE(setSystemAnsiCodePage(0));
  EXPECT_EQ(systemAnsiCodePage(), before);
  EXPECT_TRUE(setSystemAnsiCodePage(932));
  EXPECT_EQ(systemAnsiCodePage(), 932u);
  EXPECT_EQ(ansiToUtf8("\x93\xfa\x96\x7b"), "日本");
  EXPECT_TRUE(setSystemAnsiCodePage(before));
}

TEST(CodePage, ConvertsBothWays) {
  EXPECT_EQ(ansiToUtf16("caf\xe9 \x80", 1252), u"café €");
  EXPECT_EQ(utf16ToAnsi(u"café €", 1252), "caf\xe9 \x80");
  // Shift JIS: 日本語テスト, with an ASCII run between.
  const std::string sjis = "\x93\xfa\x96\x7b\x8c\xea abc \x83\x65\x83\x58\x83\x67";
  EXPECT_EQ(ansiToUtf16(sjis, 932), u"日本語 abc テスト");
  EXPECT_EQ(utf16ToAnsi(u"日本語 abc テスト", 932), sjis);
  EXPECT_EQ(ansiToUtf8("\xcf\xf0\xe8\xe2\xe5\xf2", 1251), "Привет");
  EXPECT_EQ(ansiToUtf16("\xb0\xa1", 949), u"가");
  EXPECT_EQ(ansiToUtf16("\xc4\xe3\xba\xc3", 936), u"你好");
  EXPECT_EQ(ansiToUtf16("\xa4\xa4\xa4\xe5", 950), u"中文");
  EXPECT_EQ(ansiToUtf16("", 932), u"");
  EXPECT_EQ(utf16ToUtf8(u"a\u00e9\u65e5\U0001F600"), "a\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80");
}

TEST(CodePage, WhatACodePageLacksIsReplacedNotDropped) {
  // 0x81 is undefined in 1252: Windows gives U+0081, and so do we.
  EXPECT_EQ(ansiToUtf16("a\x81z", 1252), u"a\u0081z");
  // A lone Shift JIS lead byte, in the middle and at the end.
  EXPECT_EQ(ansiToUtf16("a\x82\x01z", 932).front(), u'a');
  EXPECT_EQ(ansiToUtf16("a\x82\x01z", 932).back(), u'z');
  EXPECT_EQ(ansiToUtf16("ab\x93", 932), u"ab\uFFFD");
  // Characters 1252 cannot encode, a surrogate pair among them, become '?'.
  EXPECT_EQ(utf16ToAnsi(u"x\u65e5\U0001F600y", 1252), "x??y");
  // Lone surrogates.
  const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
  EXPECT_EQ(utf16ToUtf8(lone), "a\xef\xbf\xbd" "b\xef\xbf\xbd");
  EXPECT_EQ(utf16ToAnsi(lone, 1252), "a?b?");
  // Long input runs through more than one output chunk.
  const std::string many(20000, '\xe9');
  EXPECT_EQ(ansiToUtf16(many, 1252), std::u16string(20000, u'é'));
  // An unsupported code page converts as 1252.
  EXPECT_EQ(ansiToUtf16("\xe9", 65001), u"é");
}

}  // namespace
}  // namespace vexl
