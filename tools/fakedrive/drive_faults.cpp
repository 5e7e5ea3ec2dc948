#include "drive_faults.h"

#include <cerrno>
#include <cstdlib>

namespace fakedrive {
namespace {

// A whole decimal number, possibly negative, that fits 32 bits.
bool ParseInt(const std::string& Text, int32_t& Value) {
  if (Text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(Text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return false;
  Value = static_cast<int32_t>(value);
  return true;
}

// "A" or "A-B", with 0 <= A <= B.
bool ParseRange(const std::string& Text, SectorRange& Range) {
  const size_t dash = Text.find('-', 1);
  if (!ParseInt(Text.substr(0, dash), Range.First)) return false;
  Range.Last = Range.First;
  if (dash != std::string::npos && !ParseInt(Text.substr(dash + 1), Range.Last)) return false;
  return Range.First >= 0 && Range.First <= Range.Last;
}

bool ParseItem(const std::string& Name, const std::string& Value, bool HasValue,
               DriveFaults& Faults) {
  if (!HasValue) {
    if (Name == "no-disc") return Faults.NoDisc = true;
    if (Name == "data-session") return Faults.DataSession = true;
    if (Name == "no-subchannel") return Faults.NoSubchannel = true;
    if (Name == "bad-q-crc") return Faults.BadQCrc = true;
    return false;
  }
  if (Name == "unreadable") {
    Faults.Unreadable.emplace_back();
    return ParseRange(Value, Faults.Unreadable.back());
  }
  if (Name == "flaky") {
    const size_t times = Value.find('x');
    FlakyRange& flaky = Faults.Flaky.emplace_back();
    int32_t reads = flaky.Reads;
    if (times != std::string::npos && (!ParseInt(Value.substr(times + 1), reads) || reads < 1))
      return false;
    flaky.Reads = reads;
    return ParseRange(Value.substr(0, times), flaky.Sectors);
  }
  if (Name == "offset") return ParseInt(Value, Faults.OffsetSamples);
  if (Name == "q-shift") return ParseInt(Value, Faults.QShift) && std::abs(Faults.QShift) <= 150;
  if (Name == "tray-open") return ParseInt(Value, Faults.TrayOpenAt) && Faults.TrayOpenAt >= 0;
  if (Name == "speed") {
    char* end = nullptr;
    Faults.Speed = std::strtod(Value.c_str(), &end);
    return !Value.empty() && *end == '\0' && Faults.Speed > 0 && Faults.Speed <= 1000;
  }
  return false;
}

}  // namespace

DriveFaults ParseFaults(const std::string& Text, std::string& Error) {
  DriveFaults faults;
  size_t begin = 0;
  while (begin < Text.size()) {
    size_t end = Text.find(',', begin);
    if (end == std::string::npos) end = Text.size();
    const std::string item = Text.substr(begin, end - begin);
    const size_t equals = item.find('=');
    const bool hasValue = equals != std::string::npos;
    if (!item.empty() && !ParseItem(item.substr(0, equals), hasValue ? item.substr(equals + 1) : "",
                                    hasValue, faults)) {
      Error = "not understood: \"" + item + "\"";
      return faults;
    }
    begin = end + 1;
  }
  return faults;
}

}  // namespace fakedrive
