// Fuzz target: any text as a job script of the port-monitor simulator. The
// parser must refuse what it cannot read with a line-numbered error, and what
// it accepts must keep the script's limits: one action per line, sends within
// the byte limit, records whose header tells their true length, and bounded
// waits. Run with -malloc_limit_mb=300: no line may make the parser allocate
// much beyond the script limit of 256 MiB, however large the numbers in it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "channel/status_record.h"
#include "tools/job_script.h"

namespace {

using jobscript::Action;

bool isRecordKeyword(const std::string& keyword) {
  return keyword != "raw" && keyword != "empty-write";
}

std::uint32_t u32At(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<Action> actions;
  std::string error;
  if (!jobscript::parse(text, &actions, &error)) {
    if (error.rfind("line ", 0) != 0) std::abort();
    return 0;
  }
  const int lines = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  std::uint64_t total = 0;
  int previousLine = 0;
  for (const Action& action : actions) {
    if (action.line <= previousLine || action.line > lines) std::abort();
    previousLine = action.line;
    total += action.bytes.size();
    switch (action.kind) {
      case Action::Kind::kSend:
        if (isRecordKeyword(action.keyword)) {
          if (action.bytes.size() < tarn::kHeaderSize) std::abort();
          if (std::memcmp(action.bytes.data(), "TARN", 4) != 0) std::abort();
          if (u32At(action.bytes, 12) != action.bytes.size() - tarn::kHeaderSize) std::abort();
        }
        break;
      case Action::Kind::kWaitEvent:
      case Action::Kind::kWaitFile:
        if (action.target.empty() || action.milliseconds > jobscript::kMaxWaitMilliseconds) {
          std::abort();
        }
        [[fallthrough]];
      default:
        if (!action.bytes.empty()) std::abort();
        break;
    }
  }
  if (total > jobscript::kMaxScriptBytes) std::abort();
  return 0;
}
