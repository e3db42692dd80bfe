// Every key of orvchatserver.cfg, once: which field of Settings it fills, how its value is
// read and checked, and whether a reload takes it. Defaults are the fields' initial values
// in Settings. The reader, the check, the loader, the reload and the tests all go by this
// table; a new setting is a field and a row.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "moderation/settings.h"

namespace orv {

// How a value is read. The first kinds are read as the server has always read them (see
// settings_check.h); the later ones came with the limits and take their default when odd.
enum class SettingRead {
  kLanguage,    // the NAME of language/lang_NAME.cfg, at least 2 characters
  kName,        // text of at least 2 characters
  kAddress,     // a dotted IPv4 address, or nothing for every local address
  kPort,        // a port from 1 to 65535; the one setting the server cannot go without
  kAnyNonZero,  // a switch: any number but 0 switches it on (read as C reads a number)
  kFromOne,     // a switch: a number from 1 up switches it on (the digits it begins with)
  kAsWritten,   // a number: the digits it begins with, taken even outside the range
  kInRange,     // a number: a whole number in range, else the default
  kWebAddress,  // ADDRESS:PORT, or nothing for none
  kPath,        // a file name as written, blanks around it removed
  kElsewhere,   // read where it is used (alphabets at the start, messages at each use)
};

// When a changed value takes effect.
enum class SettingTaken {
  kOnReload,  // with the next reload
  kAtStart,   // with the next start; a reload keeps the value the server runs with
};

using SettingField = std::variant<std::monostate, std::string Settings::*, std::int32_t Settings::*,
                                  std::int64_t Settings::*, bool Settings::*>;

struct SettingRow {
  const char* key;
  SettingRead read;
  SettingTaken taken;
  SettingField field;  // none for kElsewhere
  // Numbers and switches: the range.
  std::int64_t low = 0;
  std::int64_t high = 0;
  // Numbers: what the number is; names: what comes before the default in a warning;
  // kElsewhere and kPath: what an unclosed block leaves.
  const char* meaning = "";

  bool IsNumber() const {
    return read == SettingRead::kAnyNonZero || read == SettingRead::kFromOne ||
           read == SettingRead::kAsWritten || read == SettingRead::kInRange;
  }
};

// In the order the server reads them (the order of its report at the start).
const std::vector<SettingRow>& SettingRows();
// The row of key; nullptr for a key the server does not know.
const SettingRow* FindSetting(std::string_view key);

// A number or switch row's value in settings (a switch is 0 or 1).
std::int64_t NumberValue(const SettingRow& row, const Settings& settings);
void SetNumberValue(const SettingRow& row, Settings& settings, std::int64_t value);
// The value as the file would say it (numbers in digits, switches as 0 or 1).
std::string ValueText(const SettingRow& row, const Settings& settings);
// Copies row's field from one record to another.
void CopySetting(const SettingRow& row, const Settings& from, Settings& to);

}  // namespace orv
