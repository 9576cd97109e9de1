// The string tables as stored (read per language, bypassing the platform's
// language fallback) and as the program reads them with LoadStringA under a
// given user-interface language.
//
// The LocaleStrings cases depend on the locale the process starts under.
// CTest runs them once per language with LANG and LC_ALL set and
// MONITOR_TEST_LOCALE naming the language; without that variable they skip.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/resources/tests/resource_reader.h"

namespace {

using resources_test::decodeStringBlock;
using resources_test::rawResource;
using resources_test::tableString;

HMODULE self() {
  return GetModuleHandleW(nullptr);
}

// Every id the program defines.
std::vector<UINT> allIds() {
  static const std::pair<UINT, UINT> ranges[] = {
      {215, 218},   {3000, 3003}, {3007, 3008}, {7020, 7020}, {7059, 7063}, {7198, 7200},
      {7205, 7221}, {7227, 7239}, {7265, 7265}, {7267, 7278}, {7280, 7281}, {7290, 7291},
      {7399, 7421}, {7438, 7438}, {7440, 7443}, {7450, 7457}, {7460, 7463}, {7507, 7507},
      {7514, 7514}, {7530, 7531}, {7567, 7568}, {7571, 7571}, {7574, 7574}, {7580, 7581},
      {7590, 7591}, {7699, 7700}, {7881, 7881}, {7890, 7893}, {7900, 7905}, {7907, 7907}};
  std::vector<UINT> ids;
  for (const auto& [first, last] : ranges) {
    for (UINT id = first; id <= last; ++id) ids.push_back(id);
  }
  return ids;
}

bool isDialogWord(UINT id) {
  return id < 7000;
}

struct Table {
  const char* name;
  LANGID language;
  UINT codePage;  // the narrow code page of the language
  bool (*carries)(UINT id);
};

const Table kTables[] = {
    {"German", 0x0007, 1252, [](UINT) { return true; }},
    {"English", 0x0009, 1252, isDialogWord},
    {"English (United States)", 0x0409, 1252, [](UINT id) { return !isDialogWord(id); }},
    {"Spanish", 0x000A, 1252, [](UINT) { return true; }},
    {"French", 0x000C, 1252, [](UINT) { return true; }},
    {"Chinese (Simplified)", 0x0804, 936, [](UINT) { return true; }},
};

// The table that holds the English text of an id.
LANGID englishTable(UINT id) {
  return isDialogWord(id) ? 0x0009 : 0x0409;
}

std::wstring fromUtf8(const std::string& s) {
  if (s.empty()) return {};
  std::wstring out(
      MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(),
                      static_cast<int>(out.size()));
  return out;
}

// Converts to a narrow code page; usedDefault tells whether any character had
// no representation there.
std::string toCodePage(const std::wstring& s, UINT codePage, bool* usedDefault = nullptr) {
  if (s.empty()) return {};
  BOOL lost = FALSE;
  const int n = WideCharToMultiByte(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(codePage, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr,
                      &lost);
  if (usedDefault) *usedDefault = lost != FALSE;
  return out;
}

std::vector<std::wstring> lines(const std::wstring& text) {
  std::vector<std::wstring> out(1);
  for (wchar_t c : text) {
    if (c == L'\n') {
      out.emplace_back();
    } else {
      out.back().push_back(c);
    }
  }
  return out;
}

// The "N." that begins a numbered step line, or an empty string.
std::wstring stepNumber(const std::wstring& line) {
  size_t digits = 0;
  while (digits < line.size() && iswdigit(line[digits])) ++digits;
  if (digits == 0 || digits >= line.size() || line[digits] != L'.') return {};
  return line.substr(0, digits + 1);
}

// Lengths of the runs of spaces that are at least 11 long.
std::vector<size_t> longSpaceRuns(const std::wstring& text) {
  std::vector<size_t> runs;
  size_t run = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] == L' ') {
      ++run;
    } else {
      if (run >= 11) runs.push_back(run);
      run = 0;
    }
  }
  return runs;
}

std::string loadA(UINT id) {
  char buffer[1024];
  buffer[0] = 'x';
  const int n = LoadStringA(self(), id, buffer, sizeof buffer);
  if (n == 0 && buffer[0] != '\0') return "<buffer untouched>";
  return std::string(buffer, n);
}

TEST(StringTables, DefinesTheProgramsIds) {
  const auto ids = allIds();
  EXPECT_EQ(ids.size(), 132u);
  EXPECT_EQ(std::count_if(ids.begin(), ids.end(), isDialogWord), 10);
}

// Each table holds exactly its ids: a missing one would fall back to another
// language, an extra one in a block another table also holds could shadow it.
TEST(StringTables, EveryTableCarriesExactlyItsIds) {
  const auto ids = allIds();
  const std::set<UINT> defined(ids.begin(), ids.end());
  std::set<WORD> blocks;
  for (UINT id : ids) blocks.insert(static_cast<WORD>(id / 16 + 1));

  for (const Table& table : kTables) {
    SCOPED_TRACE(table.name);
    for (WORD block : blocks) {
      const auto raw = rawResource(self(), RT_STRING, block, table.language);
      bool needed = false;
      for (UINT id = (block - 1) * 16u; id < block * 16u; ++id) {
        needed |= defined.count(id) && table.carries(id);
      }
      if (!raw) {
        EXPECT_FALSE(needed) << "block " << block << " missing";
        continue;
      }
      const auto strings = decodeStringBlock(*raw);
      ASSERT_TRUE(strings) << "block " << block << " malformed";
      for (UINT slot = 0; slot < 16; ++slot) {
        const UINT id = (block - 1) * 16 + slot;
        const bool expected = defined.count(id) && table.carries(id);
        EXPECT_EQ(!(*strings)[slot].empty(), expected) << "id " << id;
      }
    }
  }
}

// No string block exists in any language other than the six tables.
TEST(StringTables, StoredOnlyInTheSixTables) {
  std::vector<WORD> blocks;
  EnumResourceNamesW(
      self(), RT_STRING,
      [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) -> BOOL {
        if (IS_INTRESOURCE(name)) {
          reinterpret_cast<std::vector<WORD>*>(param)->push_back(
              static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)));
        }
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&blocks));
  ASSERT_FALSE(blocks.empty());
  std::set<LANGID> known;
  for (const Table& table : kTables) known.insert(table.language);
  for (WORD block : blocks) {
    for (LANGID language : resources_test::resourceLanguages(self(), RT_STRING, block)) {
      EXPECT_TRUE(known.count(language))
          << "block " << block << " language " << std::hex << language;
    }
  }
}

// Texts pass through wsprintfA and fixed 1024-byte buffers in their
// language's narrow code page.
TEST(StringTables, TextsAreSafeInTheirCodePage) {
  for (const Table& table : kTables) {
    SCOPED_TRACE(table.name);
    for (UINT id : allIds()) {
      if (!table.carries(id)) continue;
      SCOPED_TRACE(id);
      const auto text = tableString(self(), id, table.language);
      ASSERT_TRUE(text);
      EXPECT_EQ(text->find(L'%'), std::wstring::npos);
      EXPECT_EQ(text->find(L'\r'), std::wstring::npos);
      bool lost = false;
      const std::string narrow = toCodePage(*text, table.codePage, &lost);
      EXPECT_FALSE(lost) << "characters missing from code page " << table.codePage;
      EXPECT_LT(narrow.size(), 500u);
    }
  }
}

// The inline picture covers a run of exactly 11 spaces in the two duplex
// instructions; no other text may carry such a run.
TEST(StringTables, PicturePlaceholderOnlyWhereThePictureGoes) {
  for (const Table& table : kTables) {
    SCOPED_TRACE(table.name);
    for (UINT id : allIds()) {
      if (!table.carries(id)) continue;
      SCOPED_TRACE(id);
      const auto text = tableString(self(), id, table.language);
      ASSERT_TRUE(text);
      const auto runs = longSpaceRuns(*text);
      if (id == 7460 || id == 7462) {
        EXPECT_EQ(runs, std::vector<size_t>{11});
      } else {
        EXPECT_TRUE(runs.empty());
      }
    }
  }
}

// Translations keep the English line breaks, blank lines and step numbers.
TEST(StringTables, TranslationsKeepTheLineStructure) {
  for (const Table& table : kTables) {
    if (PRIMARYLANGID(table.language) == LANG_ENGLISH) continue;
    SCOPED_TRACE(table.name);
    for (UINT id : allIds()) {
      SCOPED_TRACE(id);
      const auto english = tableString(self(), id, englishTable(id));
      const auto translated = tableString(self(), id, table.language);
      ASSERT_TRUE(english && translated);
      const auto expected = lines(*english);
      const auto actual = lines(*translated);
      ASSERT_EQ(actual.size(), expected.size());
      for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i].empty(), expected[i].empty()) << "line " << i;
        EXPECT_EQ(stepNumber(actual[i]), stepNumber(expected[i])) << "line " << i;
      }
    }
  }
}

TEST(StringTables, EnglishTextsAsWritten) {
  const std::map<UINT, std::wstring> expected = {
      {215, L"more..."},
      {216, L" Do not show low ink alerts for 24 hours"},
      {217, L"Settings and Detailed Status (Toolbox Utility)"},
      {3000, L"OK"},
      {3007, L"Printer Series"},
      {3008, L"Printer Alert"},
      {7198, L"Ready"},
      {7269,
       L"Follow these instructions to print using the Manual Feed Tray.\n\n1. Raise the Manual "
       L"Feed Tray.\n\n2. Insert a page into the Manual Feed Tray."},
      {7405, L"Load Envelope #10 Paper"},
      {7460,
       L"One side of each page is printed first, after which the printer will pause.\nFollow "
       L"these instructions to print the other side of each page.\n\n1. Remove printout from the "
       L"output tray.\n\n2. Place printout into Tray 1, print up, as shown.\n\n3. Close Tray "
       L"1.\n\n4. Press the           button on the printer."},
      {7461,
       L"1. Remove print out from the output tray.2. Place print out into Tray 1 print up.3. "
       L"Press the check button on the printer front panel."},
      {7907, L"Please wait, cleaning the printhead."},
  };
  for (const auto& [id, text] : expected) {
    SCOPED_TRACE(id);
    EXPECT_EQ(tableString(self(), id, englishTable(id)).value_or(L"<missing>"), text);
  }
}

// Rows whose translations are fixed, per language, as UTF-8.
struct TellingRow {
  UINT id;
  const char* german;
  const char* spanish;
  const char* french;
  const char* chinese;
};

const TellingRow kTellingRows[] = {
    {215, "mehr...", "m\xC3\xA1s...", "plus...", "\xE6\x9B\xB4\xE5\xA4\x9A..."},
    {216, "24 Stunden lang keine Warnung f\xC3\xBCr fast leere Druckerfarbe anzeigen",
     "No mostrar alertas de tinta baja durante 24 horas",
     "Ne pas afficher les alertes de niveau d'encre faible pendant 24 heures",
     "\xE8\xAF\xB7\xE5\x8B\xBF\xE8\xAE\xA9\xE5\xA2\xA8\xE6\xB0\xB4\xE4\xB8\x8D\xE8\xB6\xB3\xE7"
     "\x9A\x84\xE6\x8F\x90\xE9\x86\x92\xE6\x98\xBE\xE7\xA4\xBA 24 \xE5\xB0\x8F\xE6\x97\xB6"},
    {3001, "Hilfe", "Ayuda", "Aide", "\xE5\xB8\xAE\xE5\x8A\xA9"},
    {3002, "Fortsetzen", "Continuar", "Continuer", "\xE7\xBB\xA7\xE7\xBB\xAD"},
    {3003, "Weiter", "Reanudar", "Reprendre", "\xE7\xBB\xA7\xE7\xBB\xAD"},
    {3007, "Druckerserie", "Serie impresora", "S\xC3\xA9rie d'imprimante",
     "\xE6\x89\x93\xE5\x8D\xB0\xE6\x9C\xBA\xE7\xB3\xBB\xE5\x88\x97"},
    {3008, "Druckerwarnung", "Alerta de impresora", "Alerte d'imprimante",
     "\xE6\x89\x93\xE5\x8D\xB0\xE6\x9C\xBA\xE6\x8F\x90\xE9\x86\x92"},
    {7198, "Bereit", "Preparada", "Pr\xC3\xAAt", "\xE5\xB0\xB1\xE7\xBB\xAA"},
    {7206, "Schwarz fast leer", "Tinta negra baja", "Niveau d'encre noire faible",
     "\xE9\xBB\x91\xE8\x89\xB2\xE5\xA2\xA8\xE6\xB0\xB4\xE4\xB8\x8D\xE8\xB6\xB3"},
    {7507, "Druckerfarbe muss bald ausgewechselt werden.", "Cambiar tinta pronto.",
     "Remplacer l'encre prochainement.",
     "\xE8\xAF\xB7\xE7\xAB\x8B\xE5\x8D\xB3\xE6\x9B\xB4\xE6\x8D\xA2\xE5\xA2\xA8\xE6\xB0\xB4\xE3"
     "\x80\x82"},
};

TEST(StringTables, TellingRowsInEveryLanguage) {
  for (const TellingRow& row : kTellingRows) {
    SCOPED_TRACE(row.id);
    EXPECT_EQ(tableString(self(), row.id, 0x0007).value_or(L""), fromUtf8(row.german));
    EXPECT_EQ(tableString(self(), row.id, 0x000A).value_or(L""), fromUtf8(row.spanish));
    EXPECT_EQ(tableString(self(), row.id, 0x000C).value_or(L""), fromUtf8(row.french));
    EXPECT_EQ(tableString(self(), row.id, 0x0804).value_or(L""), fromUtf8(row.chinese));
  }
}

TEST(StringTables, UndefinedIdsLoadEmpty) {
  for (UINT id : {0u, 7201u, 7544u, 7817u}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(loadA(id), "");
  }
}

// ---------------------------------------------------------------------------
// Under a given user-interface language.

struct Locale {
  const char* name;  // value of MONITOR_TEST_LOCALE
  WORD primaryLanguage;
  UINT codePage;
  const char* TellingRow::*column;  // null where no telling rows apply
};

const Locale kLocales[] = {
    {"en", LANG_ENGLISH, 1252, nullptr},
    {"de", LANG_GERMAN, 1252, &TellingRow::german},
    {"es", LANG_SPANISH, 1252, &TellingRow::spanish},
    {"fr", LANG_FRENCH, 1252, &TellingRow::french},
    {"zh", LANG_CHINESE, 936, &TellingRow::chinese},
    {"it", LANG_ITALIAN, 1252, nullptr},
};

// The locale this run was started for, after checking that the process
// really runs under it; null when the run is not a per-language one.
const Locale* currentLocale() {
  const char* wanted = std::getenv("MONITOR_TEST_LOCALE");
  if (!wanted) return nullptr;
  for (const Locale& locale : kLocales) {
    if (std::string(wanted) == locale.name) {
      EXPECT_EQ(PRIMARYLANGID(GetUserDefaultUILanguage()), locale.primaryLanguage)
          << "the locale of this run is not installed or not passed to the process";
      EXPECT_EQ(GetACP(), locale.codePage);
      return &locale;
    }
  }
  ADD_FAILURE() << "unknown MONITOR_TEST_LOCALE " << wanted;
  return nullptr;
}

#define REQUIRE_LOCALE(locale)               \
  const Locale* locale = currentLocale();    \
  if (::testing::Test::HasFailure()) return; \
  if (!locale) GTEST_SKIP() << "runs only with MONITOR_TEST_LOCALE set by CTest"

TEST(LocaleStrings, TellingRowsLoadInTheProcessCodePage) {
  REQUIRE_LOCALE(locale);
  if (!locale->column) GTEST_SKIP() << "no telling rows for " << locale->name;
  for (const TellingRow& row : kTellingRows) {
    SCOPED_TRACE(row.id);
    EXPECT_EQ(loadA(row.id), toCodePage(fromUtf8(row.*(locale->column)), CP_ACP));
  }
  if (locale->codePage == 936) {
    EXPECT_EQ(loadA(3001), "\xB0\xEF\xD6\xFA");  // GBK, not UTF-8
  } else if (locale->primaryLanguage == LANG_GERMAN) {
    EXPECT_EQ(loadA(216).substr(0, 32), "24 Stunden lang keine Warnung f\xFC");  // code page 1252
  }
}

TEST(LocaleStrings, UserInterfaceLanguageChoosesTheTable) {
  REQUIRE_LOCALE(locale);
  if (locale->primaryLanguage == LANG_ENGLISH) {
    // 215 lives in the table without sublanguage, 7198 in the US one.
    EXPECT_EQ(loadA(215), "more...");
    EXPECT_EQ(loadA(7198), "Ready");
    EXPECT_EQ(loadA(216), " Do not show low ink alerts for 24 hours");
  } else if (locale->primaryLanguage == LANG_GERMAN) {
    EXPECT_EQ(loadA(7198), "Bereit");
    EXPECT_EQ(loadA(3008), "Druckerwarnung");
  }
  for (UINT id : {0u, 7201u, 7544u, 7817u}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(loadA(id), "");
  }
}

// A language without a table still gets a text for every id, from whichever
// table the platform's fallback picks for the block.
TEST(LocaleStrings, LanguageWithoutTableFallsBack) {
  REQUIRE_LOCALE(locale);
  if (locale->primaryLanguage != LANG_ITALIAN) GTEST_SKIP() << "has a table of its own";
  for (UINT id : allIds()) {
    SCOPED_TRACE(id);
    const std::string loaded = loadA(id);
    EXPECT_FALSE(loaded.empty());
    bool fromSomeTable = false;
    for (const Table& table : kTables) {
      const auto text = tableString(self(), id, table.language);
      fromSomeTable |= text && toCodePage(*text, CP_ACP) == loaded;
    }
    EXPECT_TRUE(fromSomeTable) << loaded;
  }
}

}  // namespace
