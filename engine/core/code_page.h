// The system ANSI code page, and conversions between it, UTF-16 and UTF-8.
//
// Windows keeps one ANSI code page per system; MAPI's PT_STRING8 values and
// every ANSI text the engine hands out are in it. Linux has none, so this
// unit supplies one:
// - Default: Windows-1252.
// - At first use it is chosen from the locale of the process environment
//   (LC_ALL, then LC_CTYPE, then LANG, the first that is set and not empty):
//   a language (and territory) whose Windows ANSI code page is another one
//   chooses that page (ja -> 932, zh_CN / zh_SG -> 936, ko -> 949,
//   zh_TW / zh_HK / zh_MO -> 950, ru / uk / bg ... -> 1251, pl / cs / hu ...
//   -> 1250, el -> 1253, tr / az -> 1254, he -> 1255, ar / fa / ur -> 1256,
//   lt / lv / et -> 1257, vi -> 1258, th -> 874). A codeset that itself names
//   a Windows code page (".CP1251", ".windows-1251") wins over the language.
//   "C", "POSIX" and every other locale keep 1252.
// - setSystemAnsiCodePage overrides it for the whole process (the callers:
//   the window program, the command line, tests). Only the code pages listed
//   by isSupportedCodePage are accepted.
// Conversion uses iconv (glibc's CPnnn converters). Bytes that the code page
// cannot decode become U+FFFD, except in the single-byte pages, where an
// undefined byte maps to the control character of the same value (as
// Windows maps 0x81 of 1252 to U+0081). Characters that the code page cannot
// encode become '?', Windows' default character. A lone UTF-16 surrogate
// becomes U+FFFD in UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vexl {

inline constexpr std::uint32_t kDefaultAnsiCodePage = 1252;

// The code page in use (chosen from the locale at the first call unless set).
std::uint32_t systemAnsiCodePage();
// False (and no change) for a code page this unit cannot convert.
bool setSystemAnsiCodePage(std::uint32_t codePage);
// The Windows ANSI code page a POSIX locale name ("ja_JP.UTF-8",
// "ru_RU", "de_DE@euro") implies; 1252 when it implies none.
std::uint32_t codePageForLocale(std::string_view locale);
// 874, 932, 936, 949, 950 and 1250 to 1258.
bool isSupportedCodePage(std::uint32_t codePage);

// Conversions; an unsupported code page converts as 1252.
std::u16string ansiToUtf16(std::string_view text, std::uint32_t codePage = systemAnsiCodePage());
std::string utf16ToAnsi(std::u16string_view text, std::uint32_t codePage = systemAnsiCodePage());
std::string ansiToUtf8(std::string_view text, std::uint32_t codePage = systemAnsiCodePage());
std::string utf16ToUtf8(std::u16string_view text);
// Malformed UTF-8 sequences become U+FFFD.
std::u16string utf8ToUtf16(std::string_view text);
std::string utf8ToAnsi(std::string_view text, std::uint32_t codePage = systemAnsiCodePage());

}  // namespace vexl
