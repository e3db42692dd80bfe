// The safe formatter over any format text. Language files are operator data, so whatever
// a string holds, at most one conversion of the expected kind is filled in, "%%" gives one
// percent sign, and everything else comes out exactly as written. The one filled
// conversion must look exactly as the C library prints it (padding, signs, precision, the
// most negative number), and the result stays within the format plus one bounded field.
//
// Input: the integer (8 bytes), the text (length byte, bytes), then the format.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/safe_format.h"
#include "fuzz_support.h"

namespace orv::fuzz {
namespace {

enum class Kind { kInt, kText };

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The conversion at format[start] == '%' as the C library would be asked to print it, when
// it is one the formatter fills for kind; its length in length.
std::optional<std::string> AcceptedSpec(std::string_view format, std::size_t start, Kind kind,
                                        std::size_t& length) {
  std::size_t pos = start + 1;
  std::string flags;
  while (pos < format.size() && (format[pos] == '-' || format[pos] == '0' || format[pos] == '+'))
    flags += format[pos++];
  const std::size_t widthStart = pos;
  while (pos < format.size() && IsDigit(format[pos]))
    ++pos;
  const std::string_view width = format.substr(widthStart, pos - widthStart);
  // Widths are layouts up to 100 columns; anything wider is no conversion at all.
  if (width.size() > 3 || (!width.empty() && std::stoi(std::string(width)) > 100)) {
    return std::nullopt;
  }
  std::optional<long> precision;
  if (pos < format.size() && format[pos] == '.') {
    ++pos;
    long value = 0;
    while (pos < format.size() && IsDigit(format[pos])) {
      value = std::min(value * 10 + (format[pos] - '0'), 100000L);
      ++pos;
    }
    precision = value;
  }
  if (pos >= format.size()) return std::nullopt;
  const char type = format[pos];
  length = pos + 1 - start;
  if (kind == Kind::kInt) {
    if ((type != 'd' && type != 'i') || precision) return std::nullopt;
    return "%" + flags + std::string(width) + "lld";
  }
  if (type != 's' || flags.find_first_of("0+") != std::string::npos) return std::nullopt;
  return "%" + flags + std::string(width) + (precision ? "." + std::to_string(*precision) : "") +
         "s";
}

std::string Printed(const std::string& spec, std::int64_t number, const std::string& text) {
  std::vector<char> buffer(text.size() + 256);
  const int n = spec.back() == 's'
                    ? std::snprintf(buffer.data(), buffer.size(), spec.c_str(), text.c_str())
                    : std::snprintf(buffer.data(), buffer.size(), spec.c_str(),
                                    static_cast<long long>(number));
  ORV_FUZZ_CHECK(n >= 0 && static_cast<std::size_t>(n) < buffer.size(), spec);
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}

// What the formatter must make of format, the filled conversion printed by the C library.
std::string Expected(std::string_view format, Kind kind, std::int64_t number,
                     const std::string& text) {
  std::string out;
  bool filled = false;
  for (std::size_t pos = 0; pos < format.size();) {
    if (format[pos] != '%') {
      out += format[pos++];
      continue;
    }
    if (pos + 1 < format.size() && format[pos + 1] == '%') {
      out += '%';
      pos += 2;
      continue;
    }
    std::size_t length = 0;
    if (!filled) {
      if (const auto spec = AcceptedSpec(format, pos, kind, length)) {
        out += Printed(*spec, number, text);
        filled = true;
        pos += length;
        continue;
      }
    }
    out += '%';
    ++pos;
  }
  return out;
}

}  // namespace
}  // namespace orv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orv::fuzz;
  ByteReader in(data, size);
  const std::uint64_t high = in.U32();
  const auto number = static_cast<std::int64_t>(high << 32 | in.U32());
  const std::string_view text = in.Text();
  const std::string_view format = in.Rest();

  const std::string withInt = orv::FormatWithInt(format, number);
  const std::string withText = orv::FormatWithText(format, text);
  // One field of at most 100 columns, or 20 digits and a sign, or the text, comes in.
  ORV_FUZZ_CHECK(withInt.size() <= format.size() + 100, Shown(format));
  ORV_FUZZ_CHECK(withText.size() <= format.size() + std::max<std::size_t>(100, text.size()),
                 Shown(format));
  if (format.find('%') == std::string_view::npos) {
    ORV_FUZZ_CHECK(withInt == format && withText == format, Shown(format));
  }

  const std::string expectedInt = Expected(format, Kind::kInt, number, {});
  ORV_FUZZ_CHECK(withInt == expectedInt,
                 "format [" + Shown(format) + "] " + std::to_string(number) + "\ngot      [" +
                     Shown(withInt) + "]\nexpected [" + Shown(expectedInt) + "]");
  // The C library stops a text at a zero byte; the formatter keeps it. Compare on the text
  // without one.
  if (text.find('\0') == std::string_view::npos) {
    const std::string expectedText = Expected(format, Kind::kText, 0, std::string(text));
    ORV_FUZZ_CHECK(withText == expectedText, "format [" + Shown(format) + "] text [" + Shown(text) +
                                                 "]\ngot      [" + Shown(withText) +
                                                 "]\nexpected [" + Shown(expectedText) + "]");
  }
  return 0;
}
