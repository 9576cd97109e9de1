// The printer's status codes this monitor knows, and what each one means to
// the user: whether a dialog is shown, which template, how grave, which text
// and which picture of the printer.
//
// The table is constant data compiled into the program; it is shared by all
// threads without locking, and row pointers stay valid for the whole run.
#ifndef APP_STATUS_CODE_TABLE_H_
#define APP_STATUS_CODE_TABLE_H_

#include <cstddef>
#include <cstdint>

// What the listener does when a status arrives.
enum StatusDialogKind : std::uint32_t {
  kStatusNoAction = 0,           // neither shows nor dismisses anything
  kStatusBackToNormal = 1,       // dismisses every open status dialog
  kStatusShowNotification = 2,   // shows the small notification (template 501)
  kStatusShowDetails = 3,        // shows the detailed alert (template 115)
  kStatusShowInlinePicture = 4,  // shows the alert with an inline picture (template 504)
};

// How grave a status is (StatusCodeEntry::severity, compared as signed).
enum StatusSeverity : std::int32_t {
  kSeverityNone = 0,     // a working state
  kSeverityNotice = 1,   // closes at the end of the job
  kSeverityWarning = 2,  // closes at the end of the job
  kSeverityError = 3,    // stays after the job until the user closes it
};

struct StatusCodeEntry {
  std::uint32_t code;            // the status code; key of the table
  std::uint32_t category;        // 1 printer, 2 ink tanks and printhead
  std::uint32_t dialogKind;      // StatusDialogKind; other values act as 0
  std::uint32_t severity;        // 0..3, compared as signed
  std::uint32_t level;           // 50 for the working states, 75 otherwise
  std::uint32_t textId;          // string id of the message
  std::uint32_t detailTextId;    // string id of the explanation, or 0
  std::uint32_t printerImageId;  // bitmap id of the printer picture, or 0
};

inline constexpr std::size_t kStatusCodeCount = 160;

// The rows in their stored order.
extern const StatusCodeEntry kStatusCodeTable[kStatusCodeCount];

// The first row whose code equals `code`, or null when none does.
const StatusCodeEntry* findStatusEntry(std::uint32_t code);

// Whether some row has `code`.
bool isKnownStatus(std::uint32_t code);

#endif  // APP_STATUS_CODE_TABLE_H_
