#include "bridge/printer_status.h"

namespace bridge {

bool IsFinal(JobState state) {
  return state == JobState::kCanceled || state == JobState::kAborted ||
         state == JobState::kCompleted;
}
const char* JobStateName(JobState) { return ""; }
std::string ColourSetName(ColourSet) { return {}; }
std::string NormaliseReason(std::string_view reason) { return std::string(reason); }
PrinterSnapshot ReadPrinterSnapshot(const ipp::Response&) { return {}; }
JobSnapshot ReadJobSnapshot(const ipp::Response&) { return {}; }
std::vector<JobSnapshot> ReadJobs(const ipp::Response&) { return {}; }
std::optional<int32_t> OldestJobNotCompleted(const std::vector<JobSnapshot>&) { return {}; }
Supply ParseSupply(std::string_view) { return {}; }
ColourSet ColourOf(std::string_view) { return 0; }
StatusChoice ChooseStatusCode(const PrinterSnapshot&, JobState, const std::vector<ColourSet>&) {
  return {};
}
void JobStatusMemory::Reset() {}
std::optional<uint32_t> JobStatusMemory::Update(const PrinterSnapshot&, JobState) { return {}; }

}  // namespace bridge
