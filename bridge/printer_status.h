// From what an IPP printer says about itself to at most one status code of
// the monitor's table.
//
// Real printers are untidy: they rewrite a reason's severity suffix as their
// state changes (-error, -warning, -report), cut long keywords, report levels
// of -2 for "unknown" and describe their inks in two different ways. All of
// that is taken care of here, once, when a response becomes a snapshot; the
// choice of a code sees only clean values.
//
// Portable (no operating system). The free functions may be called from any
// thread; a JobStatusMemory belongs to the one thread that polls its job.
#ifndef BRIDGE_PRINTER_STATUS_H_
#define BRIDGE_PRINTER_STATUS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/ipp_codec.h"

namespace bridge {

// printer-state (enum).
enum class PrinterState { kUnknown = 0, kIdle = 3, kProcessing = 4, kStopped = 5 };

// job-state (enum).
enum class JobState {
  kUnknown = 0,
  kPending = 3,
  kPendingHeld = 4,
  kProcessing = 5,
  kProcessingStopped = 6,
  kCanceled = 7,
  kAborted = 8,
  kCompleted = 9,
};
// Canceled, aborted and completed: the job will not change again.
bool isFinal(JobState state);
const char* jobStateName(JobState state);

// Colours of inks, as bits of a ColourSet. kOtherColour stands for any ink
// that is none of the four (a gray, a light cyan the printer names as such
// is cyan, a red is other).
using ColourSet = uint8_t;
constexpr ColourSet kBlack = 1;
constexpr ColourSet kCyan = 2;
constexpr ColourSet kMagenta = 4;
constexpr ColourSet kYellow = 8;
constexpr ColourSet kOtherColour = 16;
// "black+cyan", "none".
std::string colourSetName(ColourSet colours);

// One entry of the marker-* attributes (the same index in each).
struct Marker {
  std::string name;       // marker-names
  std::string colour;     // marker-colors ("#00FFFF", "#00FFFF#FF00FF#FFFF00", "none")
  std::string type;       // marker-types ("ink-cartridge", "waste-ink", ...)
  int level = -1;         // marker-levels: percent; negative when unknown
  int lowLevel = -1;     // marker-low-levels; negative when unknown
};

// One printer-supply entry, "type=ink;maxcapacity=100;level=30;colorantname=cyan;".
struct Supply {
  std::string type;          // "ink", "toner", "wasteInk", ...
  std::string colorant;      // colorantname
  std::string description;   // printer-supply-description at the same index
  int level = -1;            // negative when unknown
  int maxCapacity = -1;     // negative when unknown
};

struct PrinterSnapshot {
  PrinterState state = PrinterState::kUnknown;
  // printer-state-reasons as keywords without severity suffix, cut keywords
  // completed, "none" left out; in the printer's order.
  std::vector<std::string> reasons;
  std::string name;  // printer-name
  std::string info;  // printer-info
  std::vector<Marker> markers;
  std::vector<Supply> supplies;
};

struct JobSnapshot {
  int32_t id = 0;  // 0 when the response had none
  JobState state = JobState::kUnknown;
  std::vector<std::string> reasons;  // job-state-reasons, as sent
  std::string name;                  // job-name
};

// The keyword a printer-state-reasons value stands for: without its severity
// suffix (also one cut short: "-warnin"), a keyword cut short completed to the
// one known keyword it begins. Unknown keywords keep their own text (less a
// whole suffix).
std::string normaliseReason(std::string_view reason);

// Reads the printer attributes group of a Get-Printer-Attributes response.
PrinterSnapshot readPrinterSnapshot(const ipp::Response& response);
// Reads the first job attributes group of a Get-Job-Attributes response.
JobSnapshot readJobSnapshot(const ipp::Response& response);
// Reads every job attributes group of a Get-Jobs response.
std::vector<JobSnapshot> readJobs(const ipp::Response& response);
// The oldest job that is not completed (lowest job id among those not in a
// final state), or nothing.
std::optional<int32_t> oldestJobNotCompleted(const std::vector<JobSnapshot>& jobs);

// Parses one printer-supply octetString; unknown keys are ignored, numbers
// that do not parse read as unknown (-1).
Supply parseSupply(std::string_view entry);
// The colour of a marker-colors value ("#RRGGBB", several of them for a
// multi-colour cartridge) or, failing that, of a name ("Black ink",
// "cyan"). 0 when it names none ("none", "").
ColourSet colourOf(std::string_view colourOrName);

// What the table chose, with what it saw, for the trace.
struct StatusChoice {
  std::optional<uint32_t> code;  // nothing: no code this time
  std::string reason;            // the reason that chose it; "" for 10023
  ColourSet colours = 0;         // for the ink rows: the inks concerned
  // Reasons that choose nothing (offline, paused, ...; unknown ones): traced.
  std::vector<std::string> unmatched;
  // A low-ink alert for these colours was already sent during the job.
  bool lowInkAlreadySent = false;
};

// Chooses at most one status code from the printer's reasons, in the table's
// order of importance; 10023 when none applies while the job is processing.
// `lowInkSent` lists the colour sets whose low-ink alert was already sent
// during this job: such a low-ink row then chooses nothing.
StatusChoice chooseStatusCode(const PrinterSnapshot& printer, JobState jobState,
                              const std::vector<ColourSet>& lowInkSent = {});

// The per-job memory that turns a choice every poll into a code sent only
// when it changes, and a low-ink alert at most once per job for a set of
// colours (the user closed it; it must not come back when a jam clears).
// When nothing applies while the job waits (pending, held, stopped) after an
// alert was sent, it sends "Ready" (10001) once, which takes the alert away.
class JobStatusMemory {
 public:
  // Forgets everything: a new job starts.
  void reset();
  // The choice for this poll; its code when it is one to send now (differs
  // from the last code sent), nothing otherwise. Records a code returned as
  // sent.
  std::optional<uint32_t> update(const PrinterSnapshot& printer, JobState jobState);
  const StatusChoice& lastChoice() const { return lastChoice_; }
  std::optional<uint32_t> lastSent() const { return lastSent_; }

 private:
  std::vector<ColourSet> lowInkSent_;
  std::optional<uint32_t> lastSent_;
  // The colours of the last code sent, when it was a low-ink alert.
  std::optional<ColourSet> lastLowColours_;
  StatusChoice lastChoice_;
};

}  // namespace bridge

#endif  // BRIDGE_PRINTER_STATUS_H_
