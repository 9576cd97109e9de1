// Job scripts of the port-monitor simulator.
//
// A job script is a readable text, one record or action per line, that the
// simulator plays on the status stream. The syntax is described in README.md
// ("Port-monitor simulator"); in short:
//
//   printer PORT PRINTER          class 0 subcode 0 (narrow texts)
//   printer-wide PORT PRINTER     class 0 subcode 1 (wide texts)
//   job ID DOCUMENT               class 0 subcode 2
//   job-wide ID DOCUMENT          class 0 subcode 3
//   end-job ID                    class 0 subcode 4
//   job-status SEVERITY CODE      class 0 subcode 5 (the program ignores it)
//   event CODE                    class 2 subcode 3 (what the program acts on)
//   oem VALUE...                  class 1, the values as the block
//   record CLASS SUBCODE VALUE... any header, the values as the payload
//   raw VALUE...                  the values' bytes as they are, no header
//   empty-write                   a zero-length write on the status stream
//   pause MILLISECONDS            waits
//   wait-event NAME MILLISECONDS  waits until the named event is set, or gives up
//   wait-file PATH MILLISECONDS   waits until the file exists, or gives up
//   flush                         waits until the monitor has read what was written
//   close                         closes the status stream once it is read
//   cut                           disconnects the status stream at once
//   close-requests                closes the request stream
//   ignore-requests               stops reading the request stream
//
// VALUEs: pairs of hex digits ("0a", "544152"), u32:N, "text" (its bytes),
// str:"text" (narrow, zero-terminated), wstr:"text" (UTF-16LE,
// zero-terminated), zeros:N. Numbers are decimal or 0x-hexadecimal.
#ifndef TOOLS_JOB_SCRIPT_H_
#define TOOLS_JOB_SCRIPT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace jobscript {

struct Action {
  enum class Kind {
    kSend,
    kEmptyWrite,
    kPause,
    kWaitEvent,
    kWaitFile,
    kFlush,
    kClose,
    kCut,
    kCloseRequests,
    kIgnoreRequests,
  };
  Kind kind = Kind::kSend;
  int line = 0;                     // 1-based line of the script
  std::string keyword;              // first word of the line
  std::vector<std::uint8_t> bytes;  // kSend: what goes on the stream
  std::string target;               // kWaitEvent: event name; kWaitFile: path (UTF-8)
  std::uint32_t milliseconds = 0;   // kPause, kWaitEvent, kWaitFile
};

// The longest a wait-event or wait-file may wait: every wait ends, since
// 0xFFFFFFFF would mean "for ever" to the system.
inline constexpr std::uint32_t kMaxWaitMilliseconds = 0xFFFFFFFEu;

// The largest zeros:N and the largest total a script may send, so that a
// typing mistake cannot exhaust the simulator's memory. Both are checked
// before the bytes of a line are built.
inline constexpr std::uint64_t kMaxScriptBytes = 256u * 1024u * 1024u;

// Parses a whole script. On failure returns false and writes
// "line N: what is wrong" to *error; *actions is then unspecified.
bool parse(std::string_view text, std::vector<Action>* actions, std::string* error);

}  // namespace jobscript

#endif  // TOOLS_JOB_SCRIPT_H_
