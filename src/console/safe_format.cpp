#include "console/safe_format.h"

#include <charconv>
#include <cstddef>
#include <optional>

namespace orv {

namespace {

// Widths beyond this are not a layout but an attempt to blow up a console line.
constexpr int kMaxWidth = 100;
// Enough for any text a console line holds; larger precisions are cut to it while parsing.
constexpr int kMaxPrecision = 100000;

enum class Kind { kInt, kText };

struct Conversion {
  bool leftAlign = false;
  bool zeroPad = false;
  bool plusSign = false;
  int width = 0;
  std::optional<int> precision;
  char type = '\0';
  std::size_t length = 0;  // characters from the '%' up to and including the type
};

// Reads decimal digits at pos, stopping at limit + 1 so that long runs cannot overflow.
int ReadNumber(std::string_view text, std::size_t& pos, int limit) {
  int value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    if (value <= limit) value = value * 10 + (text[pos] - '0');
    if (value > limit) value = limit + 1;
    ++pos;
  }
  return value;
}

// Parses the conversion starting at format[start] == '%'. Nothing when the text there is not
// a conversion this formatter understands (a dangling '%', an unknown type, a length
// modifier, an absurd width). The blank flag is left out on purpose: with it, a lone percent
// sign in running text ("50% done") would swallow the next word as a conversion.
std::optional<Conversion> ParseConversion(std::string_view format, std::size_t start) {
  Conversion conversion;
  std::size_t pos = start + 1;
  for (; pos < format.size(); ++pos) {
    const char c = format[pos];
    if (c == '-') {
      conversion.leftAlign = true;
    } else if (c == '0') {
      conversion.zeroPad = true;
    } else if (c == '+') {
      conversion.plusSign = true;
    } else {
      break;
    }
  }
  conversion.width = ReadNumber(format, pos, kMaxWidth);
  if (conversion.width > kMaxWidth) return std::nullopt;
  if (pos < format.size() && format[pos] == '.') {
    ++pos;
    conversion.precision = ReadNumber(format, pos, kMaxPrecision);
  }
  if (pos >= format.size()) return std::nullopt;
  conversion.type = format[pos];
  conversion.length = pos + 1 - start;
  return conversion;
}

void Pad(std::string& out, int count, char fill) {
  if (count > 0) out.append(static_cast<std::size_t>(count), fill);
}

void AppendPadded(std::string& out, std::string_view body, const Conversion& c) {
  const int padding = c.width - static_cast<int>(body.size());
  if (!c.leftAlign) Pad(out, padding, ' ');
  out += body;
  if (c.leftAlign) Pad(out, padding, ' ');
}

void AppendInt(std::string& out, std::int64_t value, const Conversion& c) {
  // The magnitude as unsigned, so that the most negative value needs no special case.
  const std::uint64_t magnitude =
      value < 0 ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, magnitude);
  const std::string_view digitText(digits, static_cast<std::size_t>(result.ptr - digits));

  std::string sign;
  if (value < 0) {
    sign = "-";
  } else if (c.plusSign) {
    sign = "+";
  }

  if (c.zeroPad && !c.leftAlign) {
    out += sign;
    Pad(out, c.width - static_cast<int>(sign.size() + digitText.size()), '0');
    out += digitText;
    return;
  }
  AppendPadded(out, sign + std::string(digitText), c);
}

void AppendText(std::string& out, std::string_view value, const Conversion& c) {
  if (c.precision && value.size() > static_cast<std::size_t>(*c.precision)) {
    value = value.substr(0, static_cast<std::size_t>(*c.precision));
  }
  AppendPadded(out, value, c);
}

bool Accepts(const Conversion& c, Kind kind) {
  if (kind == Kind::kInt) return (c.type == 'd' || c.type == 'i') && !c.precision;
  // Sign flags and zero padding mean nothing for a text.
  return c.type == 's' && !c.zeroPad && !c.plusSign;
}

template <typename Fill>
std::string FormatOne(std::string_view format, Kind kind, Fill fill) {
  std::string out;
  out.reserve(format.size() + 16);
  bool filled = false;
  std::size_t pos = 0;
  while (pos < format.size()) {
    const char c = format[pos];
    if (c != '%') {
      out += c;
      ++pos;
      continue;
    }
    if (pos + 1 < format.size() && format[pos + 1] == '%') {
      out += '%';
      pos += 2;
      continue;
    }
    const std::optional<Conversion> conversion = ParseConversion(format, pos);
    if (!filled && conversion && Accepts(*conversion, kind)) {
      fill(out, *conversion);
      filled = true;
      pos += conversion->length;
      continue;
    }
    // Anything else is shown as written: the '%' goes out as it stands and what follows
    // is read as plain text.
    out += '%';
    ++pos;
  }
  return out;
}

}  // namespace

std::string FormatWithInt(std::string_view format, std::int64_t value) {
  return FormatOne(format, Kind::kInt,
                   [value](std::string& out, const Conversion& c) { AppendInt(out, value, c); });
}

std::string FormatWithText(std::string_view format, std::string_view value) {
  return FormatOne(format, Kind::kText,
                   [value](std::string& out, const Conversion& c) { AppendText(out, value, c); });
}

}  // namespace orv
