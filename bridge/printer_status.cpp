#include "bridge/printer_status.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace bridge {
namespace {

// What a row does with the colours of the inks concerned.
enum class RowKind {
  kFixed,   // one code, whatever the inks
  kInkOut,  // a code per colour, or the one for several
  kInkLow,  // the same, at most once per job for a set of colours
};

struct ReasonRow {
  const char* keywords[2];  // the reasons that select the row (second may be null)
  RowKind kind;
  uint32_t code;  // kFixed: the code; ink rows: see inkCode
};

// From printer-state-reasons to the monitor's codes, most important first:
// when several reasons stand at once, the first row that matches chooses.
constexpr ReasonRow kReasonTable[] = {
    // Paper Jam: nothing prints until the user clears the path.
    {{"media-jam", nullptr}, RowKind::kFixed, 42000},
    // Clamshell Open: the printer's top cover; the head cannot move.
    {{"cover-open", nullptr}, RowKind::kFixed, 40021},
    // Rear Access Door Open.
    {{"door-open", nullptr}, RowKind::kFixed, 40020},
    // Load Paper: the tray is empty (media-empty) or the job waits for
    // paper the printer does not have (media-needed).
    {{"media-empty", "media-needed"}, RowKind::kFixed, 41000},
    // ... Ink Out by colour; ink printers say marker-supply-empty, toner
    // printers (and printer applications that play one) toner-empty.
    {{"marker-supply-empty", "toner-empty"}, RowKind::kInkOut, 0},
    // Waste ink container full: severity 3, stays on screen after the job.
    {{"marker-waste-full", nullptr}, RowKind::kFixed, 11011},
    // Waste ink almost full: a warning, printing goes on.
    {{"marker-waste-almost-full", nullptr}, RowKind::kFixed, 11010},
    // ... Ink Low by colour, last: printing goes on and the user closes it.
    {{"marker-supply-low", "toner-low"}, RowKind::kInkLow, 0},
};

// "Printing": sent while the job is processing and no row applies; it
// dismisses the alerts of conditions that have cleared.
constexpr uint32_t kPrintingCode = 10023;

// "Ready": dismisses every alert. While a job waits (pending, held, stopped)
// no "Printing" comes, so this is what takes away the alert of a condition
// that cleared meanwhile.
constexpr uint32_t kReadyCode = 10001;

// Reasons a printer may send that the table leaves out, and others that
// share a prefix with the table's: a keyword cut short is completed only
// when exactly one of all these begins with it.
constexpr const char* kOtherKnownReasons[] = {
    "none",           "other",           "offline",
    "paused",         "input-tray-missing", "media-low",
    "spool-area-full", "connecting-to-device", "developer-empty",
    "developer-low",  "fuser-over-temp",  "fuser-under-temp",
    "interlock-open", "interpreter-resource-unavailable", "marker-supply-missing",
    "marker-waste-missing", "moving-to-paused", "opc-life-over",
    "opc-near-eol",   "output-area-almost-full", "output-area-full",
    "output-tray-missing", "shutdown",    "stopped-partly",
    "stopping",       "timed-out",       "toner-missing",
    "media-path-jam",
};

// Printers keep keywords in fixed buffers and cut them there (one cut at
// 31 characters is known); a shorter prefix of a keyword is more likely a
// keyword this table does not know.
constexpr size_t kMinCutKeywordLength = 16;

constexpr const char* kSeveritySuffixes[] = {"error", "warning", "report"};

// A supply entry at or under this share of its capacity counts as low.
constexpr int kSupplyLowPercent = 10;

bool endsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool startsWith(std::string_view text, std::string_view start) {
  return text.size() >= start.size() && text.substr(0, start.size()) == start;
}

std::vector<std::string_view> allKnownReasons() {
  std::vector<std::string_view> known;
  for (const ReasonRow& row : kReasonTable) {
    for (const char* keyword : row.keywords) {
      if (keyword != nullptr) known.emplace_back(keyword);
    }
  }
  for (const char* keyword : kOtherKnownReasons) known.emplace_back(keyword);
  std::sort(known.begin(), known.end());
  known.erase(std::unique(known.begin(), known.end()), known.end());
  return known;
}

bool isKnownReason(std::string_view keyword) {
  static const std::vector<std::string_view> known = allKnownReasons();
  return std::binary_search(known.begin(), known.end(), keyword);
}

// The one known keyword that begins with `cut`, or empty.
std::string_view completeCutKeyword(std::string_view cut) {
  static const std::vector<std::string_view> known = allKnownReasons();
  std::string_view found;
  for (std::string_view keyword : known) {
    if (keyword.size() > cut.size() && startsWith(keyword, cut)) {
      if (!found.empty()) return {};  // ambiguous
      found = keyword;
    }
  }
  return found;
}

std::string lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// A decimal number of at most 9 digits, optionally negative; -1 otherwise
// and for every negative number (negative levels mean "unknown").
int parseLevel(std::string_view text) {
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 9) return -1;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return negative ? -1 : value;
}

int levelOf(const ipp::Attribute* attribute, size_t index) {
  if (attribute == nullptr || index >= attribute->values.size()) return -1;
  std::optional<int32_t> level = attribute->values[index].integer();
  return level && *level >= 0 ? *level : -1;
}

std::string textOf(const ipp::Attribute* attribute, size_t index) {
  if (attribute == nullptr || index >= attribute->values.size()) return {};
  return std::string(attribute->values[index].text());
}

size_t countOf(const ipp::Attribute* attribute) {
  return attribute == nullptr ? 0 : attribute->values.size();
}

// One colour of "#RRGGBB" by which channels are strong; 0 when not that form.
ColourSet colourOfRgb(std::string_view hex) {
  if (hex.size() != 6) return 0;
  int channel[3];
  for (int i = 0; i < 3; ++i) {
    int value = 0;
    for (int j = 0; j < 2; ++j) {
      char c = hex[i * 2 + j];
      int digit = (c >= '0' && c <= '9')   ? c - '0'
                  : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                           : -1;
      if (digit < 0) return 0;
      value = value * 16 + digit;
    }
    channel[i] = value >= 0x80 ? 1 : 0;
  }
  switch (channel[0] * 4 + channel[1] * 2 + channel[2]) {
    case 0: return kBlack;
    case 3: return kCyan;      // green and blue
    case 5: return kMagenta;   // red and blue
    case 6: return kYellow;    // red and green
    default: return kOtherColour;
  }
}

bool isWaste(std::string_view typeLower) {
  return typeLower.find("waste") != std::string_view::npos;
}

// Marker types that hold ink or toner (marker-types keywords); an entry
// without a type is taken as one, as printers that send no types have only
// inks among their markers.
bool isInkMarker(const Marker& marker) {
  std::string type = lower(marker.type);
  if (type.empty()) return true;
  if (isWaste(type)) return false;
  return type.find("ink") != std::string::npos || type.find("toner") != std::string::npos;
}

bool isInkSupply(const Supply& supply) {
  std::string type = lower(supply.type);
  if (isWaste(type)) return false;
  return type == "ink" || type == "toner" || type == "inkcartridge" ||
         type == "tonercartridge";
}

// An ink's fill, as known: a share of its capacity in parts per thousand
// (-1 unknown), whether it is empty and whether it is low.
struct InkLevel {
  ColourSet colour = 0;
  int permille = -1;
  bool empty = false;
  bool low = false;
};

std::vector<InkLevel> inkLevels(const PrinterSnapshot& printer) {
  std::vector<InkLevel> inks;
  for (const Marker& marker : printer.markers) {
    if (!isInkMarker(marker)) continue;
    InkLevel ink;
    ink.colour = colourOf(marker.colour);
    if (ink.colour == 0) ink.colour = colourOf(marker.name);
    if (marker.level >= 0) {
      // marker-levels are percent of the marker's capacity.
      ink.permille = std::min(marker.level, 100) * 10;
      ink.empty = marker.level == 0;
      ink.low = ink.empty || (marker.lowLevel >= 0 && marker.level <= marker.lowLevel);
    }
    inks.push_back(ink);
  }
  for (const Supply& supply : printer.supplies) {
    if (!isInkSupply(supply)) continue;
    InkLevel ink;
    ink.colour = colourOf(supply.colorant);
    if (ink.colour == 0) ink.colour = colourOf(supply.description);
    if (supply.level >= 0) {
      ink.empty = supply.level == 0;
      if (supply.maxCapacity > 0) {
        int64_t permille = int64_t{supply.level} * 1000 / supply.maxCapacity;
        ink.permille = static_cast<int>(std::min<int64_t>(permille, 1000));
        ink.low = ink.empty ||
                  int64_t{supply.level} * 100 <= int64_t{supply.maxCapacity} * kSupplyLowPercent;
      } else {
        ink.low = ink.empty;
      }
    }
    inks.push_back(ink);
  }
  return inks;
}

// The colours a row about empty (or low) inks is about: those the levels
// show empty (or low); when the levels show none although the printer says
// so, the ones with the lowest known level.
ColourSet coloursConcerned(const std::vector<InkLevel>& inks, RowKind kind) {
  ColourSet colours = 0;
  for (const InkLevel& ink : inks) {
    if (kind == RowKind::kInkOut ? ink.empty : ink.low) colours |= ink.colour;
  }
  if (colours != 0) return colours;
  int lowest = -1;
  for (const InkLevel& ink : inks) {
    if (ink.permille >= 0 && (lowest < 0 || ink.permille < lowest)) lowest = ink.permille;
  }
  if (lowest < 0) return 0;
  for (const InkLevel& ink : inks) {
    if (ink.permille == lowest) colours |= ink.colour;
  }
  return colours;
}

// One of black, cyan, magenta, yellow: its own code; any other set
// (several, another ink, not known): the code for several.
uint32_t inkCode(RowKind kind, ColourSet colours) {
  bool out = kind == RowKind::kInkOut;
  switch (colours) {
    case kBlack: return out ? 10300 : 10209;
    case kCyan: return out ? 10301 : 10210;
    case kMagenta: return out ? 10302 : 10211;
    case kYellow: return out ? 10303 : 10212;
    default: return out ? 10307 : 10217;
  }
}

// The row a (normalised) reason selects, or -1.
int rowOf(std::string_view reason) {
  for (size_t i = 0; i < std::size(kReasonTable); ++i) {
    for (const char* keyword : kReasonTable[i].keywords) {
      if (keyword != nullptr && reason == keyword) return static_cast<int>(i);
    }
  }
  return -1;
}

bool isLowInkCode(uint32_t code) {
  return (code >= 10209 && code <= 10212) || code == 10217;
}

// The codes that put something in front of the user; "Printing" and
// "Ready" take it away.
bool isAlert(uint32_t code) {
  return code != kPrintingCode && code != kReadyCode;
}

// A job that waits to print, or was stopped: it is not processing, and has
// not ended (its end is told otherwise).
bool isWaiting(JobState state) {
  return state == JobState::kPending || state == JobState::kPendingHeld ||
         state == JobState::kProcessingStopped;
}

bool contains(const std::vector<ColourSet>& sets, ColourSet colours) {
  return std::find(sets.begin(), sets.end(), colours) != sets.end();
}

}  // namespace

bool isFinal(JobState state) {
  return state == JobState::kCanceled || state == JobState::kAborted ||
         state == JobState::kCompleted;
}

const char* jobStateName(JobState state) {
  switch (state) {
    case JobState::kPending: return "pending";
    case JobState::kPendingHeld: return "pending-held";
    case JobState::kProcessing: return "processing";
    case JobState::kProcessingStopped: return "processing-stopped";
    case JobState::kCanceled: return "canceled";
    case JobState::kAborted: return "aborted";
    case JobState::kCompleted: return "completed";
    case JobState::kUnknown: break;
  }
  return "unknown";
}

std::string colourSetName(ColourSet colours) {
  static constexpr struct {
    ColourSet colour;
    const char* name;
  } kNames[] = {{kBlack, "black"}, {kCyan, "cyan"}, {kMagenta, "magenta"},
                {kYellow, "yellow"}, {kOtherColour, "other"}};
  std::string name;
  for (const auto& entry : kNames) {
    if ((colours & entry.colour) == 0) continue;
    if (!name.empty()) name += '+';
    name += entry.name;
  }
  return name.empty() ? "none" : name;
}

std::string normaliseReason(std::string_view reason) {
  for (std::string_view suffix : kSeveritySuffixes) {
    if (reason.size() > suffix.size() + 1 && endsWith(reason, suffix) &&
        reason[reason.size() - suffix.size() - 1] == '-') {
      return std::string(reason.substr(0, reason.size() - suffix.size() - 1));
    }
  }
  if (isKnownReason(reason)) return std::string(reason);
  // Cut inside the suffix: "marker-waste-almost-full-warnin".
  size_t dash = reason.rfind('-');
  if (dash != std::string_view::npos && dash + 1 < reason.size()) {
    std::string_view head = reason.substr(0, dash);
    std::string_view tail = reason.substr(dash + 1);
    for (std::string_view suffix : kSeveritySuffixes) {
      if (tail.size() < suffix.size() && startsWith(suffix, tail) && isKnownReason(head)) {
        return std::string(head);
      }
    }
  }
  // Cut inside the keyword itself: "marker-waste-almost-fu".
  if (reason.size() >= kMinCutKeywordLength) {
    std::string_view completed = completeCutKeyword(reason);
    if (!completed.empty()) return std::string(completed);
  }
  return std::string(reason);
}

Supply parseSupply(std::string_view entry) {
  Supply supply;
  while (!entry.empty()) {
    size_t end = entry.find(';');
    std::string_view field = entry.substr(0, end);
    entry = end == std::string_view::npos ? std::string_view() : entry.substr(end + 1);
    size_t equals = field.find('=');
    if (equals == std::string_view::npos) continue;
    std::string key = lower(field.substr(0, equals));
    std::string_view value = field.substr(equals + 1);
    if (key == "type") {
      supply.type = std::string(value);
    } else if (key == "colorantname") {
      supply.colorant = std::string(value);
    } else if (key == "level") {
      supply.level = parseLevel(value);
    } else if (key == "maxcapacity") {
      supply.maxCapacity = parseLevel(value);
    }
  }
  return supply;
}

ColourSet colourOf(std::string_view colourOrName) {
  std::string text = lower(colourOrName);
  if (text.empty() || text == "none" || text == "unknown") return 0;
  if (text[0] == '#') {
    // One "#RRGGBB" per colour of the marker.
    ColourSet colours = 0;
    size_t start = 0;
    while (start < text.size()) {
      if (text[start] != '#') return 0;
      size_t next = text.find('#', start + 1);
      ColourSet colour = colourOfRgb(
          std::string_view(text).substr(start + 1, next == std::string::npos
                                                       ? std::string::npos
                                                       : next - start - 1));
      if (colour == 0) return 0;
      colours |= colour;
      start = next == std::string::npos ? text.size() : next;
    }
    return colours;
  }
  ColourSet colours = 0;
  if (text.find("black") != std::string::npos) colours |= kBlack;
  if (text.find("cyan") != std::string::npos) colours |= kCyan;
  if (text.find("magenta") != std::string::npos) colours |= kMagenta;
  if (text.find("yellow") != std::string::npos) colours |= kYellow;
  if (colours == 0) {
    // A tri-colour cartridge holds the three colours; any other name is an
    // ink of another colour.
    bool tri = text.find("tri-colo") != std::string::npos ||
               text.find("tricolo") != std::string::npos || startsWith(text, "colo");
    colours = tri ? (kCyan | kMagenta | kYellow) : kOtherColour;
  }
  return colours;
}

PrinterSnapshot readPrinterSnapshot(const ipp::Response& response) {
  PrinterSnapshot snapshot;
  auto find = [&response](std::string_view name) {
    return response.find(ipp::kPrinterAttributesTag, name);
  };
  if (const ipp::Attribute* state = find("printer-state")) {
    std::optional<int32_t> value = state->values.empty() ? std::nullopt
                                                         : state->values[0].integer();
    if (value && *value >= 3 && *value <= 5) snapshot.state = static_cast<PrinterState>(*value);
  }
  if (const ipp::Attribute* reasons = find("printer-state-reasons")) {
    for (const ipp::Value& value : reasons->values) {
      std::string reason = normaliseReason(value.text());
      // One reason may come with two suffixes while the printer rewrites it.
      if (reason.empty() || reason == "none" ||
          std::find(snapshot.reasons.begin(), snapshot.reasons.end(), reason) !=
              snapshot.reasons.end()) {
        continue;
      }
      snapshot.reasons.push_back(std::move(reason));
    }
  }
  snapshot.name = textOf(find("printer-name"), 0);
  snapshot.info = textOf(find("printer-info"), 0);

  const ipp::Attribute* names = find("marker-names");
  const ipp::Attribute* colours = find("marker-colors");
  const ipp::Attribute* levels = find("marker-levels");
  const ipp::Attribute* lowLevels = find("marker-low-levels");
  const ipp::Attribute* types = find("marker-types");
  size_t markers = std::max({countOf(names), countOf(colours), countOf(levels),
                             countOf(lowLevels), countOf(types)});
  for (size_t i = 0; i < markers; ++i) {
    Marker marker;
    marker.name = textOf(names, i);
    marker.colour = textOf(colours, i);
    marker.type = textOf(types, i);
    marker.level = levelOf(levels, i);
    marker.lowLevel = levelOf(lowLevels, i);
    snapshot.markers.push_back(std::move(marker));
  }

  const ipp::Attribute* supplies = find("printer-supply");
  const ipp::Attribute* descriptions = find("printer-supply-description");
  for (size_t i = 0; i < countOf(supplies); ++i) {
    Supply supply = parseSupply(supplies->values[i].text());
    supply.description = textOf(descriptions, i);
    snapshot.supplies.push_back(std::move(supply));
  }
  return snapshot;
}

namespace {

JobSnapshot readJobGroup(const ipp::AttributeGroup& group) {
  JobSnapshot job;
  if (const ipp::Attribute* id = group.find("job-id")) {
    if (!id->values.empty()) job.id = id->values[0].integer().value_or(0);
  }
  if (const ipp::Attribute* state = group.find("job-state")) {
    std::optional<int32_t> value = state->values.empty() ? std::nullopt
                                                         : state->values[0].integer();
    if (value && *value >= 3 && *value <= 9) job.state = static_cast<JobState>(*value);
  }
  if (const ipp::Attribute* reasons = group.find("job-state-reasons")) {
    for (const ipp::Value& value : reasons->values) job.reasons.emplace_back(value.text());
  }
  job.name = textOf(group.find("job-name"), 0);
  return job;
}

}  // namespace

JobSnapshot readJobSnapshot(const ipp::Response& response) {
  for (const ipp::AttributeGroup& group : response.groups) {
    if (group.tag == ipp::kJobAttributesTag) return readJobGroup(group);
  }
  return {};
}

std::vector<JobSnapshot> readJobs(const ipp::Response& response) {
  std::vector<JobSnapshot> jobs;
  for (const ipp::AttributeGroup& group : response.groups) {
    if (group.tag == ipp::kJobAttributesTag) jobs.push_back(readJobGroup(group));
  }
  return jobs;
}

std::optional<int32_t> oldestJobNotCompleted(const std::vector<JobSnapshot>& jobs) {
  std::optional<int32_t> oldest;
  for (const JobSnapshot& job : jobs) {
    // Job ids grow with each job a printer accepts.
    if (job.id <= 0 || isFinal(job.state)) continue;
    if (!oldest || job.id < *oldest) oldest = job.id;
  }
  return oldest;
}

StatusChoice chooseStatusCode(const PrinterSnapshot& printer, JobState jobState,
                              const std::vector<ColourSet>& lowInkSent) {
  StatusChoice choice;
  int best = -1;
  for (const std::string& reason : printer.reasons) {
    int row = rowOf(reason);
    if (row < 0) {
      choice.unmatched.push_back(reason);
    } else if (best < 0 || row < best) {
      best = row;
      choice.reason = reason;
    }
  }
  if (best >= 0) {
    const ReasonRow& row = kReasonTable[best];
    if (row.kind == RowKind::kFixed) {
      choice.code = row.code;
      return choice;
    }
    choice.colours = coloursConcerned(inkLevels(printer), row.kind);
    if (row.kind == RowKind::kInkLow && contains(lowInkSent, choice.colours)) {
      // The user has seen (and maybe closed) this one: as if it were not there.
      choice.lowInkAlreadySent = true;
    } else {
      choice.code = inkCode(row.kind, choice.colours);
      return choice;
    }
  }
  if (jobState == JobState::kProcessing) {
    choice.code = kPrintingCode;
    if (!choice.lowInkAlreadySent) choice.reason.clear();
  }
  return choice;
}

void JobStatusMemory::reset() {
  lowInkSent_.clear();
  lastSent_.reset();
  lastLowColours_.reset();
  lastChoice_ = StatusChoice();
}

std::optional<uint32_t> JobStatusMemory::update(const PrinterSnapshot& printer,
                                                JobState jobState) {
  // The low-ink alert sent last may still be on screen: choosing it again
  // must keep it (nothing sent), not dismiss it with "Printing".
  std::vector<ColourSet> suppressed = lowInkSent_;
  if (lastLowColours_) {
    suppressed.erase(std::remove(suppressed.begin(), suppressed.end(), *lastLowColours_),
                     suppressed.end());
  }
  lastChoice_ = chooseStatusCode(printer, jobState, suppressed);
  StatusChoice& choice = lastChoice_;
  // Nothing applies while the job waits, yet an alert was the last thing
  // sent: its condition cleared, and the user expects the alert to go now,
  // not when the job prints or ends. "Ready" is then the last code sent, so
  // it goes once. The low-ink alert sent last is still chosen above (not
  // suppressed), so it stays; an earlier low-ink set counts as shown.
  if (!choice.code && isWaiting(jobState) && lastSent_ && isAlert(*lastSent_)) {
    choice.code = kReadyCode;
  }
  if (!choice.code || choice.code == lastSent_) return std::nullopt;
  lastSent_ = choice.code;
  if (isLowInkCode(*choice.code)) {
    lastLowColours_ = choice.colours;
    if (!contains(lowInkSent_, choice.colours)) lowInkSent_.push_back(choice.colours);
  } else {
    lastLowColours_.reset();
  }
  return choice.code;
}

}  // namespace bridge
