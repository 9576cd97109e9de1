#include "tools/job_script.h"

#include <cctype>
#include <cstdlib>

#include "channel/status_record.h"
#include "platform/text.h"

namespace jobscript {
namespace {

// One word of a line: either bare or a double-quoted text (then `quoted`),
// possibly behind a prefix such as str: or wstr:.
struct Word {
  std::string prefix;  // "str", "wstr", "u32", "zeros" or empty
  std::string text;
  bool quoted = false;
};

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Splits a line into words. '#' outside quotes starts a comment.
bool splitLine(std::string_view line, std::vector<Word>* words, std::string* error) {
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    if (c == '#') break;
    Word word;
    std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
           line[i] != '"') {
      ++i;
    }
    std::string_view head = line.substr(start, i - start);
    if (i < line.size() && line[i] == '"') {
      // A quoted text, possibly after "str:" and the like.
      if (!head.empty()) {
        if (head.back() != ':') {
          *error = "a quote may only follow a prefix such as str:";
          return false;
        }
        word.prefix = std::string(head.substr(0, head.size() - 1));
      }
      word.quoted = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char ch = line[i++];
        if (ch == '"') {
          closed = true;
          break;
        }
        if (ch != '\\') {
          word.text.push_back(ch);
          continue;
        }
        if (i >= line.size()) break;
        const char escaped = line[i++];
        switch (escaped) {
          case 'n':
            word.text.push_back('\n');
            break;
          case 't':
            word.text.push_back('\t');
            break;
          case 'r':
            word.text.push_back('\r');
            break;
          case '0':
            word.text.push_back('\0');
            break;
          case '\\':
            word.text.push_back('\\');
            break;
          case '"':
            word.text.push_back('"');
            break;
          case 'x': {
            const int high = i < line.size() ? hexDigit(line[i]) : -1;
            const int low = i + 1 < line.size() ? hexDigit(line[i + 1]) : -1;
            if (high < 0 || low < 0) {
              *error = "\\x needs two hex digits";
              return false;
            }
            word.text.push_back(static_cast<char>(high * 16 + low));
            i += 2;
            break;
          }
          default:
            *error = std::string("unknown escape \\") + escaped;
            return false;
        }
      }
      if (!closed) {
        *error = "text without its closing quote";
        return false;
      }
      if (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
        *error = "a space must follow a closing quote";
        return false;
      }
    } else {
      const std::size_t colon = head.find(':');
      // Only the value prefixes split a bare word; "LPT1:" stays one text.
      if (colon != std::string_view::npos && colon + 1 < head.size()) {
        const std::string_view prefix = head.substr(0, colon);
        if (prefix == "u32" || prefix == "zeros" || prefix == "str" || prefix == "wstr") {
          word.prefix = std::string(prefix);
          head = head.substr(colon + 1);
        }
      }
      word.text = std::string(head);
    }
    words->push_back(std::move(word));
  }
  return true;
}

// Decimal or 0x-hexadecimal, within 32 bits.
bool parseNumber(const std::string& text, std::uint32_t* value) {
  if (text.empty()) return false;
  std::uint64_t result = 0;
  std::size_t i = 0;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  for (; i < text.size(); ++i) {
    const int digit = hexDigit(text[i]);
    if (digit < 0 || digit >= base) return false;
    result = result * base + static_cast<unsigned>(digit);
    if (result > 0xFFFFFFFFu) return false;
  }
  *value = static_cast<std::uint32_t>(result);
  return true;
}

bool numberWord(const Word& word, const char* what, std::uint32_t* value, std::string* error) {
  if (word.quoted || !word.prefix.empty() || !parseNumber(word.text, value)) {
    *error = std::string("expected a number for ") + what + ", found \"" + word.text + "\"";
    return false;
  }
  return true;
}

// The number of bytes a value word stands for, counted without building
// them. Words that are not values count as their text; the building pass
// reports them.
std::uint64_t valueSize(const Word& word) {
  if (word.prefix == "u32") return 4;
  if (word.prefix == "zeros") {
    std::uint32_t count = 0;
    return parseNumber(word.text, &count) ? count : 0;
  }
  if (word.prefix == "str") return word.text.size() + 1;
  if (word.prefix == "wstr") {
    return 2 * (platform::wideToUtf16(platform::utf8ToWide(word.text)).size() + 1);
  }
  if (word.quoted) return word.text.size();
  return word.text.size() / 2;
}

// Appends the bytes of value words, at most `budget` of them: the sizes are
// added up first, so that a line asking for more builds nothing.
bool appendValues(const std::vector<Word>& words, std::size_t first, std::uint64_t budget,
                  std::vector<std::uint8_t>* out, std::string* error) {
  std::uint64_t size = 0;
  for (std::size_t i = first; i < words.size(); ++i) {
    if (words[i].prefix == "zeros") {
      std::uint32_t count = 0;
      if (parseNumber(words[i].text, &count) && count > kMaxScriptBytes) {
        *error = "zeros: is limited to " + std::to_string(kMaxScriptBytes) + " bytes";
        return false;
      }
    }
    size += valueSize(words[i]);
  }
  if (size > budget) {
    *error = "the script sends more than " + std::to_string(kMaxScriptBytes) + " bytes";
    return false;
  }
  static const std::uint8_t kZeros[4096] = {};
  std::vector<std::uint8_t>& bytes = *out;
  bytes.reserve(bytes.size() + static_cast<std::size_t>(size));
  for (std::size_t i = first; i < words.size(); ++i) {
    const Word& word = words[i];
    tarn::PayloadWriter writer;
    if (word.prefix == "u32") {
      std::uint32_t value = 0;
      if (!numberWord(Word{"", word.text, false}, "u32:", &value, error)) return false;
      writer.u32(value);
    } else if (word.prefix == "zeros") {
      std::uint32_t count = 0;
      if (!numberWord(Word{"", word.text, false}, "zeros:", &count, error)) return false;
      for (std::uint32_t left = count; left > 0;) {
        const std::uint32_t chunk = left < sizeof kZeros ? left : sizeof kZeros;
        bytes.insert(bytes.end(), kZeros, kZeros + chunk);
        left -= chunk;
      }
    } else if (word.prefix == "str") {
      writer.narrow(word.text);
    } else if (word.prefix == "wstr") {
      writer.wide(platform::utf8ToWide(word.text));
    } else if (word.quoted) {
      writer.bytes(word.text.data(), word.text.size());
    } else {
      if (word.text.size() % 2 != 0) {
        *error = "hex bytes come in pairs of digits: \"" + word.text + "\"";
        return false;
      }
      for (std::size_t k = 0; k < word.text.size(); k += 2) {
        const int high = hexDigit(word.text[k]);
        const int low = hexDigit(word.text[k + 1]);
        if (high < 0 || low < 0) {
          *error = "not a value: \"" + word.text + "\"";
          return false;
        }
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
      }
    }
    bytes.insert(bytes.end(), writer.data().begin(), writer.data().end());
  }
  return true;
}

bool textWord(const Word& word, const char* what, std::string* text, std::string* error) {
  if (!word.prefix.empty()) {
    *error = std::string("expected a text for ") + what;
    return false;
  }
  *text = word.text;
  return true;
}

bool expectCount(const std::vector<Word>& words, std::size_t count, const char* usage,
                 std::string* error) {
  if (words.size() == count) return true;
  *error = std::string("usage: ") + usage;
  return false;
}

// Reads "KEYWORD TARGET MILLISECONDS" of the two bounded waits.
bool parseWait(const std::vector<Word>& words, const char* usage, const char* target,
               Action* action, std::string* error) {
  if (!expectCount(words, 3, usage, error) || !textWord(words[1], target, &action->target, error) ||
      !numberWord(words[2], "MILLISECONDS", &action->milliseconds, error)) {
    return false;
  }
  if (action->target.empty()) {
    *error = std::string("usage: ") + usage;
    return false;
  }
  if (action->milliseconds > kMaxWaitMilliseconds) {
    *error = "a wait is limited to " + std::to_string(kMaxWaitMilliseconds) + " ms";
    return false;
  }
  return true;
}

// Builds the action of one line; a record may send at most `budget` bytes.
bool parseLine(const std::vector<Word>& words, std::uint64_t budget, Action* action,
               std::string* error) {
  const std::string& keyword = words[0].text;
  action->keyword = keyword;
  std::uint32_t a = 0, b = 0;
  std::string first, second;
  if (keyword == "printer" || keyword == "printer-wide") {
    if (!expectCount(words, 3, "printer[-wide] PORT PRINTER", error) ||
        !textWord(words[1], "PORT", &first, error) ||
        !textWord(words[2], "PRINTER", &second, error)) {
      return false;
    }
    action->bytes = keyword == "printer" ? tarn::encodePortNames(first, second)
                                         : tarn::encodePortNamesWide(platform::utf8ToWide(first),
                                                                     platform::utf8ToWide(second));
  } else if (keyword == "job" || keyword == "job-wide") {
    if (!expectCount(words, 3, "job[-wide] ID DOCUMENT", error) ||
        !numberWord(words[1], "ID", &a, error) || !textWord(words[2], "DOCUMENT", &first, error)) {
      return false;
    }
    action->bytes = keyword == "job" ? tarn::encodeJobStart(a, first)
                                     : tarn::encodeJobStartWide(a, platform::utf8ToWide(first));
  } else if (keyword == "end-job") {
    if (!expectCount(words, 2, "end-job ID", error) || !numberWord(words[1], "ID", &a, error)) {
      return false;
    }
    action->bytes = tarn::encodeJobEnd(a);
  } else if (keyword == "status") {
    // The old name of job-status: scripts that meant an alert used it and
    // showed none.
    *error =
        "there is no \"status\": use \"event CODE\" (class 2, what the program acts on) or "
        "\"job-status SEVERITY CODE\" (class 0 subcode 5)";
    return false;
  } else if (keyword == "job-status") {
    if (!expectCount(words, 3, "job-status SEVERITY CODE", error) ||
        !numberWord(words[1], "SEVERITY", &a, error) || !numberWord(words[2], "CODE", &b, error)) {
      return false;
    }
    action->bytes = tarn::encodeSeverityStatus(a, b);
  } else if (keyword == "event") {
    if (!expectCount(words, 2, "event CODE", error) || !numberWord(words[1], "CODE", &a, error)) {
      return false;
    }
    action->bytes = tarn::encodeStatus(a);
  } else if (keyword == "oem") {
    std::vector<std::uint8_t> block;
    if (!appendValues(words, 1, budget, &block, error)) return false;
    action->bytes = tarn::encodeOemBlock(block.data(), block.size());
  } else if (keyword == "record") {
    if (words.size() < 3) {
      *error = "usage: record CLASS SUBCODE VALUE...";
      return false;
    }
    std::vector<std::uint8_t> payload;
    if (!numberWord(words[1], "CLASS", &a, error) || !numberWord(words[2], "SUBCODE", &b, error) ||
        !appendValues(words, 3, budget, &payload, error)) {
      return false;
    }
    action->bytes = tarn::encodeRecord(a, b, payload);
  } else if (keyword == "raw") {
    if (!appendValues(words, 1, budget, &action->bytes, error)) return false;
  } else if (keyword == "empty-write") {
    if (!expectCount(words, 1, "empty-write", error)) return false;
    action->kind = Action::Kind::kEmptyWrite;
  } else if (keyword == "pause") {
    if (!expectCount(words, 2, "pause MILLISECONDS", error) ||
        !numberWord(words[1], "MILLISECONDS", &a, error)) {
      return false;
    }
    action->kind = Action::Kind::kPause;
    action->milliseconds = a;
  } else if (keyword == "wait-event" || keyword == "wait-file") {
    const bool event = keyword == "wait-event";
    if (!parseWait(words, event ? "wait-event NAME MILLISECONDS" : "wait-file PATH MILLISECONDS",
                   event ? "NAME" : "PATH", action, error)) {
      return false;
    }
    action->kind = event ? Action::Kind::kWaitEvent : Action::Kind::kWaitFile;
  } else if (keyword == "flush" || keyword == "close" || keyword == "cut" ||
             keyword == "close-requests" || keyword == "ignore-requests") {
    if (!expectCount(words, 1, keyword.c_str(), error)) return false;
    action->kind = keyword == "flush"            ? Action::Kind::kFlush
                   : keyword == "close"          ? Action::Kind::kClose
                   : keyword == "cut"            ? Action::Kind::kCut
                   : keyword == "close-requests" ? Action::Kind::kCloseRequests
                                                 : Action::Kind::kIgnoreRequests;
  } else {
    *error = "unknown keyword \"" + keyword + "\"";
    return false;
  }
  return true;
}

}  // namespace

bool parse(std::string_view text, std::vector<Action>* actions, std::string* error) {
  actions->clear();
  std::uint64_t total = 0;
  int number = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    ++number;
    std::vector<Word> words;
    std::string problem;
    if (!splitLine(text.substr(start, end - start), &words, &problem)) {
      *error = "line " + std::to_string(number) + ": " + problem;
      return false;
    }
    if (!words.empty()) {
      Action action;
      action.line = number;
      if (words[0].quoted || !words[0].prefix.empty() ||
          !parseLine(words, kMaxScriptBytes - total, &action, &problem)) {
        if (problem.empty()) problem = "a line starts with a keyword";
        *error = "line " + std::to_string(number) + ": " + problem;
        return false;
      }
      total += action.bytes.size();
      if (total > kMaxScriptBytes) {
        *error = "line " + std::to_string(number) + ": the script sends more than " +
                 std::to_string(kMaxScriptBytes) + " bytes";
        return false;
      }
      actions->push_back(std::move(action));
    }
    if (end == text.size()) break;
    start = end + 1;
  }
  return true;
}

}  // namespace jobscript
