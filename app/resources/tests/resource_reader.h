// Reads raw resources of a module in one given language and decodes the
// formats the tests check: string-table blocks and extended dialog
// templates. Every read is bounds-checked; a malformed resource decodes to
// nothing rather than reading past its end.
#ifndef APP_RESOURCES_TESTS_RESOURCE_READER_H_
#define APP_RESOURCES_TESTS_RESOURCE_READER_H_

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace resources_test {

// The bytes of the resource (type, id) stored in exactly this language, or
// nothing when the module holds no such resource in that language.
std::optional<std::vector<uint8_t>> rawResource(HMODULE module, LPCWSTR type, WORD id,
                                                LANGID language);

// The languages in which the module stores the resource (type, id).
std::vector<LANGID> resourceLanguages(HMODULE module, LPCWSTR type, WORD id);

// The 16 strings of one string-table block, empty ones included.
std::optional<std::vector<std::wstring>> decodeStringBlock(const std::vector<uint8_t>& data);

// The text of one string id in the table of exactly this language, or nothing
// when that table does not define the id (missing block or empty string).
std::optional<std::wstring> tableString(HMODULE module, UINT id, LANGID language);

// A name or ordinal field of a dialog template.
struct NameOrOrdinal {
  bool isOrdinal = false;
  WORD ordinal = 0;
  std::wstring name;
};

struct DialogItem {
  DWORD helpId = 0;
  DWORD exStyle = 0;
  DWORD style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  DWORD id = 0;
  NameOrOrdinal windowClass;
  NameOrOrdinal text;
  WORD extraCount = 0;
};

struct DialogTemplate {
  WORD version = 0;
  WORD signature = 0;
  DWORD helpId = 0;
  DWORD exStyle = 0;
  DWORD style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  NameOrOrdinal menu;
  NameOrOrdinal windowClass;
  std::wstring title;
  WORD pointSize = 0;
  WORD weight = 0;
  BYTE italic = 0;
  BYTE charset = 0;
  std::wstring typeface;
  std::vector<DialogItem> items;
};

// Decodes an extended dialog template (version 1, signature 0xFFFF) with a
// font entry. Nothing for any other format or for truncated data.
std::optional<DialogTemplate> decodeDialogTemplate(const std::vector<uint8_t>& data);

}  // namespace resources_test

#endif  // APP_RESOURCES_TESTS_RESOURCE_READER_H_
