#include "engine/core/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vexl {

static_assert(std::endian::native == std::endian::little, "UTF-16LE is handed to iconv as char16_t units");

namespace {

std::atomic<std::uint32_t> gCodePage{0};  // 0: not chosen yet

bool isSingleByte(std::uint32_t cp) { return cp != 932 && cp != 936 && cp != 949 && cp != 950; }

std::string iconvName(std::uint32_t cp) { return "CP" + std::to_string(isSupportedCodePage(cp) ? cp : kDefaultAnsiCodePage); }

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// One iconv descriptor for the length of a conversion.
class Converter {
 public:
  Converter(const std::string& to, const std::string& from) : cd_(::iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (ok()) ::iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of [in, in + n) and appends to `out`; `onError` is called
  // at an undecodable or unencodable input position with the remaining
  // input and returns how many input bytes to skip (at least 1), having
  // appended its replacement to `out`.
  template <typename Out, typename OnError>
  void run(const char* in, std::size_t n, Out& out, OnError onError) {
    char chunk[4096];
    while (n > 0) {
      char* src = const_cast<char*>(in);
      std::size_t left = n;
      char* dst = chunk;
      std::size_t room = sizeof chunk;
      const std::size_t r = ::iconv(cd_, &src, &left, &dst, &room);
      const int err = errno;
      append(out, chunk, static_cast<std::size_t>(dst - chunk));
      in = src;
      n = left;
      if (r == static_cast<std::size_t>(-1) && err != E2BIG && n > 0) {
        const std::size_t skip = std::min(n, std::max<std::size_t>(1, onError(in, n, out)));
        in += skip;
        n -= skip;
        ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
      }
    }
  }

 private:
  static void append(std::string& out, const char* p, std::size_t n) { out.append(p, n); }
  static void append(std::u16string& out, const char* p, std::size_t n) {
    for (std::size_t i = 0; i + 1 < n; i += 2) {
      char16_t u;
      std::memcpy(&u, p + i, 2);
      out.push_back(u);
    }
  }
  iconv_t cd_;
};

void putUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::uint32_t codePageFromEnvironment() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return codePageForLocale(value);
  }
  return kDefaultAnsiCodePage;
}

}  // namespace

bool isSupportedCodePage(std::uint32_t cp) {
  return cp == 874 || cp == 932 || cp == 936 || cp == 949 || cp == 950 || (cp >= 1250 && cp <= 1258);
}

std::uint32_t codePageForLocale(std::string_view locale) {
  const std::string all = lower(locale);
  std::string_view name = all;
  std::string_view codeset;
  if (const auto at = name.find('@'); at != std::string_view::npos) name = name.substr(0, at);
  if (const auto dot = name.find('.'); dot != std::string_view::npos) {
    codeset = name.substr(dot + 1);
    name = name.substr(0, dot);
  }
  for (std::string_view prefix : {"cp", "windows-", "windows"}) {
    if (codeset.substr(0, prefix.size()) != prefix) continue;
    const std::string digits(codeset.substr(prefix.size()));
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 5) continue;
    const auto cp = static_cast<std::uint32_t>(std::stoul(digits));
    if (isSupportedCodePage(cp)) return cp;
  }
  const std::string_view lang = name.substr(0, name.find('_'));
  const std::string_view territory = name.find('_') == std::string_view::npos ? "" : name.substr(name.find('_') + 1);
  if (lang == "ja") return 932;
  if (lang == "zh") return (territory == "tw" || territory == "hk" || territory == "mo") ? 950 : 936;
  if (lang == "ko") return 949;
  if (lang == "th") return 874;
  if (lang == "vi") return 1258;
  if (lang == "el") return 1253;
  if (lang == "he" || lang == "iw" || lang == "yi") return 1255;
  if (lang == "ar" || lang == "fa" || lang == "ur" || lang == "ps" || lang == "ug") return 1256;
  if (lang == "lt" || lang == "lv" || lang == "et") return 1257;
  if (lang == "tr" || lang == "az" || lang == "uz") return 1254;
  for (std::string_view l : {"ru", "uk", "be", "bg", "mk", "kk", "ky", "mn", "tt", "ba", "tg", "sah", "cv", "os"})
    if (lang == l) return 1251;
  if (lang == "sr") return all.find("@latin") != std::string::npos ? 1250 : 1251;
  for (std::string_view l : {"pl", "cs", "sk", "hu", "sl", "hr", "bs", "ro", "sq", "hsb", "dsb", "tk"})
    if (lang == l) return 1250;
  return kDefaultAnsiCodePage;
}

std::uint32_t systemAnsiCodePage() {
  std::uint32_t cp = gCodePage.load(std::memory_order_acquire);
  if (cp != 0) return cp;
  std::uint32_t expected = 0;
  gCodePage.compare_exchange_strong(expected, codePageFromEnvironment(), std::memory_order_acq_rel);
  return gCodePage.load(std::memory_order_acquire);
}

bool setSystemAnsiCodePage(std::uint32_t cp) {
  if (!isSupportedCodePage(cp)) return false;
  gCodePage.store(cp, std::memory_order_release);
  return true;
}

std::u16string ansiToUtf16(std::string_view text, std::uint32_t cp) {
  std::u16string out;
  if (text.empty()) return out;
  if (!isSupportedCodePage(cp)) cp = kDefaultAnsiCodePage;
  Converter conv("UTF-16LE", iconvName(cp));
  const bool single = isSingleByte(cp);
  if (!conv.ok()) {  // no converter installed: Latin-1, never nothing
    for (unsigned char c : text) out.push_back(c);
    return out;
  }
  conv.run(text.data(), text.size(), out, [single](const char* at, std::size_t, std::u16string& o) -> std::size_t {
    o.push_back(single ? static_cast<char16_t>(static_cast<unsigned char>(*at)) : u'\uFFFD');
    return 1;
  });
  return out;
}

std::string utf16ToAnsi(std::u16string_view text, std::uint32_t cp) {
  std::string out;
  if (text.empty()) return out;
  if (!isSupportedCodePage(cp)) cp = kDefaultAnsiCodePage;
  Converter conv(iconvName(cp), "UTF-16LE");
  if (!conv.ok()) {
    for (char16_t u : text) out.push_back(u < 0x100 ? static_cast<char>(u) : '?');
    return out;
  }
  conv.run(reinterpret_cast<const char*>(text.data()), text.size() * 2, out,
           [](const char* at, std::size_t left, std::string& o) -> std::size_t {
             o.push_back('?');
             char16_t u, v;
             std::memcpy(&u, at, 2);
             if (left >= 4 && u >= 0xD800 && u < 0xDC00) {
               std::memcpy(&v, at + 2, 2);
               if (v >= 0xDC00 && v < 0xE000) return 4;  // a whole pair stands for one character
             }
             return 2;
           });
  return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      putUtf8(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u < 0xE000) {
      putUtf8(out, 0xFFFD);
    } else {
      putUtf8(out, u);
    }
  }
  return out;
}

std::string ansiToUtf8(std::string_view text, std::uint32_t cp) { return utf16ToUtf8(ansiToUtf16(text, cp)); }

std::u16string utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    auto cont = [&](std::size_t k) { return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80; };
    auto bits = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(s[i + k]) & 0x3F); };
    char32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 0x6 && cont(1)) {
      cp = (static_cast<char32_t>(c & 0x1F) << 6) | bits(1);
      len = 2;
    } else if ((c >> 4) == 0xE && cont(1) && cont(2)) {
      cp = (static_cast<char32_t>(c & 0x0F) << 12) | (bits(1) << 6) | bits(2);
      len = 3;
    } else if ((c >> 3) == 0x1E && cont(1) && cont(2) && cont(3)) {
      cp = (static_cast<char32_t>(c & 0x07) << 18) | (bits(1) << 12) | (bits(2) << 6) | bits(3);
      len = 4;
    }
    i += len;
    if (cp >= 0x110000 || (cp >= 0xD800 && cp < 0xE000)) cp = 0xFFFD;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string utf8ToAnsi(std::string_view text, std::uint32_t cp) { return utf16ToAnsi(utf8ToUtf16(text), cp); }

}  // namespace vexl
