#include "app/resources/tests/resource_reader.h"

#include <algorithm>

namespace resources_test {
namespace {

// Little-endian reads over a byte span; a failed read leaves the cursor
// unusable and every later read fails too.
class Cursor {
 public:
  explicit Cursor(const std::vector<uint8_t>& data) : data_(data) {}

  bool ok() const { return ok_; }
  size_t offset() const { return offset_; }
  bool atEnd() const { return offset_ == data_.size(); }

  bool word(WORD& out) {
    if (!need(2)) return false;
    out = static_cast<WORD>(data_[offset_] | (data_[offset_ + 1] << 8));
    offset_ += 2;
    return true;
  }
  bool dword(DWORD& out) {
    WORD low = 0, high = 0;
    if (!word(low) || !word(high)) return false;
    out = static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16);
    return true;
  }
  bool shortValue(short& out) {
    WORD w = 0;
    if (!word(w)) return false;
    out = static_cast<short>(w);
    return true;
  }
  bool byte(BYTE& out) {
    if (!need(1)) return false;
    out = data_[offset_++];
    return true;
  }
  // A zero-terminated UTF-16 string.
  bool text(std::wstring& out) {
    out.clear();
    for (;;) {
      WORD c = 0;
      if (!word(c)) return false;
      if (c == 0) return true;
      out.push_back(static_cast<wchar_t>(c));
    }
  }
  // A string, or 0xFFFF followed by an ordinal.
  bool nameOrOrdinal(NameOrOrdinal& out) {
    WORD first = 0;
    if (!word(first)) return false;
    if (first == 0xFFFF) {
      out.isOrdinal = true;
      return word(out.ordinal);
    }
    out.isOrdinal = false;
    out.name.clear();
    if (first == 0) return true;
    out.name.push_back(static_cast<wchar_t>(first));
    std::wstring rest;
    if (!text(rest)) return false;
    out.name += rest;
    return true;
  }
  bool alignTo(size_t boundary) {
    const size_t aligned = (offset_ + boundary - 1) / boundary * boundary;
    if (aligned > data_.size()) return fail();
    offset_ = aligned;
    return true;
  }
  bool skip(size_t count) {
    if (!need(count)) return false;
    offset_ += count;
    return true;
  }

 private:
  bool need(size_t count) {
    if (!ok_ || data_.size() - offset_ < count) return fail();
    return true;
  }
  bool fail() {
    ok_ = false;
    return false;
  }

  const std::vector<uint8_t>& data_;
  size_t offset_ = 0;
  bool ok_ = true;
};

BOOL CALLBACK collectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  reinterpret_cast<std::vector<LANGID>*>(param)->push_back(language);
  return TRUE;
}

}  // namespace

std::optional<std::vector<uint8_t>> rawResource(HMODULE module, LPCWSTR type, WORD id,
                                                LANGID language) {
  HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(id), language);
  if (!found) return std::nullopt;
  // FindResourceEx falls back to other languages on some systems; only an
  // exact match counts here.
  const std::vector<LANGID> languages = resourceLanguages(module, type, id);
  if (std::find(languages.begin(), languages.end(), language) == languages.end()) {
    return std::nullopt;
  }
  HGLOBAL loaded = LoadResource(module, found);
  const DWORD size = SizeofResource(module, found);
  const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
  if (!bytes) return std::nullopt;
  return std::vector<uint8_t>(bytes, bytes + size);
}

std::vector<LANGID> resourceLanguages(HMODULE module, LPCWSTR type, WORD id) {
  std::vector<LANGID> languages;
  EnumResourceLanguagesW(module, type, MAKEINTRESOURCEW(id), collectLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  return languages;
}

std::optional<std::vector<std::wstring>> decodeStringBlock(const std::vector<uint8_t>& data) {
  Cursor in(data);
  std::vector<std::wstring> strings(16);
  for (auto& s : strings) {
    WORD length = 0;
    if (!in.word(length)) return std::nullopt;
    for (WORD i = 0; i < length; ++i) {
      WORD c = 0;
      if (!in.word(c)) return std::nullopt;
      s.push_back(static_cast<wchar_t>(c));
    }
  }
  return strings;
}

std::optional<std::wstring> tableString(HMODULE module, UINT id, LANGID language) {
  const auto raw = rawResource(module, RT_STRING, static_cast<WORD>(id / 16 + 1), language);
  if (!raw) return std::nullopt;
  const auto block = decodeStringBlock(*raw);
  if (!block || (*block)[id % 16].empty()) return std::nullopt;
  return (*block)[id % 16];
}

std::optional<DialogTemplate> decodeDialogTemplate(const std::vector<uint8_t>& data) {
  Cursor in(data);
  DialogTemplate t;
  WORD count = 0;
  if (!in.word(t.version) || !in.word(t.signature) || t.version != 1 || t.signature != 0xFFFF ||
      !in.dword(t.helpId) || !in.dword(t.exStyle) || !in.dword(t.style) || !in.word(count) ||
      !in.shortValue(t.x) || !in.shortValue(t.y) || !in.shortValue(t.cx) || !in.shortValue(t.cy) ||
      !in.nameOrOrdinal(t.menu) || !in.nameOrOrdinal(t.windowClass) || !in.text(t.title)) {
    return std::nullopt;
  }
  if (!(t.style & DS_SETFONT)) return std::nullopt;
  if (!in.word(t.pointSize) || !in.word(t.weight) || !in.byte(t.italic) || !in.byte(t.charset) ||
      !in.text(t.typeface)) {
    return std::nullopt;
  }
  for (WORD i = 0; i < count; ++i) {
    DialogItem item;
    if (!in.alignTo(4) || !in.dword(item.helpId) || !in.dword(item.exStyle) ||
        !in.dword(item.style) || !in.shortValue(item.x) || !in.shortValue(item.y) ||
        !in.shortValue(item.cx) || !in.shortValue(item.cy) || !in.dword(item.id) ||
        !in.nameOrOrdinal(item.windowClass) || !in.nameOrOrdinal(item.text) ||
        !in.word(item.extraCount) || !in.skip(item.extraCount)) {
      return std::nullopt;
    }
    t.items.push_back(std::move(item));
  }
  return t;
}

}  // namespace resources_test
