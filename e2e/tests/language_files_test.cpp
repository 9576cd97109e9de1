// Language data beside the program that is spoilt, hostile or absurd: the
// program and its language maps are copied into a folder of their own, one
// file is spoilt, and the real program shows an alert from there. Whatever
// the file holds, the alert shows (with the program's own texts where the
// file cannot be used), nothing crashes and the program ends with exit code
// 0 at the end of the job.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/resources/resource_ids.h"
#include "e2e/tests/monitor_run.h"
#include "platform/test_support/temp_dir.h"
#include "platform/text.h"
#include "tools/window_probe.h"

namespace {

using e2e::MonitorRun;

using e2e::kExitMs;
using e2e::kShowMs;

// The texts of the alert for status 40020: from the strings file the tests
// write (marked, so that they can be told apart), and the program's own.
const wchar_t kMarkedCaption[] = L"Printer Alert (strings file)";
const wchar_t kMarkedMessage[] = L"Rear Access Door Open (strings file)";
const wchar_t kOwnCaption[] = L"Printer Alert";
const wchar_t kOwnMessage[] = L"Rear Access Door Open";

const char kEnglishOnlyMap[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<languages><language><langId>0x0409</langId><primaryLangId>9</primaryLangId>"
    "<name>English</name><abbr>en</abbr><resource>strings.xml</resource>"
    "<resourceType>xmlstrings</resourceType></language></languages>\n";

std::string stringEntry(const std::string& id, const std::string& value) {
  return "<string><id>" + id + "</id><value>" + value + "</value></string>\n";
}

std::string stringsFile(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<strings xml:space=\"preserve\">\n" +
         entries + "</strings>\n";
}

const std::string& markedStrings() {
  static const std::string file =
      stringsFile(stringEntry("3008", "Printer Alert (strings file)") +
                  stringEntry("7267", "Rear Access Door Open (strings file)"));
  return file;
}

std::string readFile(const std::wstring& path) {
  std::ifstream in(platform::wideToUtf8(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A copy of the program with the two language maps and a marked English
// strings file, in a folder of its own that goes with the object.
class ProgramFolder {
 public:
  ProgramFolder() {
    dir_.copy(platform::wideToUtf8(e2e::builtFile("app/qmxMeadowMonitor.exe")),
              "qmxMeadowMonitor.exe");
    for (const char* map : {"qmx_Kestrel_DialogLangMap.xml", "qmx_Kestrel_ErrorLangMap.xml"}) {
      write(map, readFile(e2e::builtFile((std::string("app/") + map).c_str())));
    }
    write("en\\strings.xml", markedStrings());
  }
  ProgramFolder(const ProgramFolder&) = delete;
  ProgramFolder& operator=(const ProgramFolder&) = delete;

  std::wstring program() const {
    return platform::utf8ToWide(dir_.path()) + L"\\qmxMeadowMonitor.exe";
  }

  // Writes a file below the folder, making its folder; a file that could not
  // be written fails the test.
  void write(const std::string& relative, const std::string& bytes) const {
    dir_.write(relative, bytes);
  }
  void writeBothMaps(const std::string& bytes) const {
    write("qmx_Kestrel_DialogLangMap.xml", bytes);
    write("qmx_Kestrel_ErrorLangMap.xml", bytes);
  }
  void remove(const std::string& relative) const {
    DeleteFileA((dir_.path() + "\\" + relative).c_str());
  }

 private:
  mutable testsupport::TempDir dir_;  // written into by the spoilers of a const folder
};

struct Alert {
  std::wstring caption;
  std::wstring message;
  DWORD exitCode = 0xDEAD;
};

// Plays an alert for status 40020 to the program in the folder and reads it.
Alert showAlert(const ProgramFolder& folder) {
  e2e::RunOptions options;
  options.program = folder.program();
  MonitorRun run(
      "printer LPT1: \"Kestrel 100\"\njob 7 report.pdf\nevent 40020\n"
      "wait-event {ID}-read 60000\nend-job 7\npause 30000\n",
      options);
  Alert alert;
  if (!run.started()) return alert;
  probe::waitUntil(
      [&] {
        for (const probe::Dialog& dialog : probe::visibleDialogsOf(run.monitorId())) {
          alert.caption = dialog.caption;
          alert.message = dialog.text(IDC_MESSAGE);
          return true;
        }
        return run.ended();
      },
      kShowMs);
  run.signal("read");
  run.waitForExit(kExitMs, &alert.exitCode);
  return alert;
}

struct Case {
  const char* what;
  void (*spoil)(const ProgramFolder&);
  const wchar_t* caption;
  const wchar_t* message;
};

void expectAlert(const Case& c) {
  SCOPED_TRACE(c.what);
  ProgramFolder folder;
  c.spoil(folder);
  const Alert alert = showAlert(folder);
  EXPECT_EQ(probe::utf8(c.caption), probe::utf8(alert.caption));
  EXPECT_EQ(probe::utf8(c.message), probe::utf8(alert.message));
  EXPECT_EQ(0u, alert.exitCode);
}

std::string realMap() {
  return readFile(e2e::builtFile("app/qmx_Kestrel_DialogLangMap.xml"));
}

// Elements nested `depth` deep around the text.
std::string nested(int depth, const std::string& inside) {
  std::string text;
  text.reserve(static_cast<std::size_t>(depth) * 7 + inside.size());
  for (int i = 0; i < depth; ++i) text += "<a>";
  text += inside;
  for (int i = 0; i < depth; ++i) text += "</a>";
  return text;
}

TEST(LanguageFiles, UnusableLanguageMapsLeaveTheProgramsOwnTexts) {
  const Case cases[] = {
      {"the copy as it is: the strings file's texts",
       [](const ProgramFolder&) {}, kMarkedCaption, kMarkedMessage},
      {"empty maps", [](const ProgramFolder& f) { f.writeBothMaps(""); }, kOwnCaption,
       kOwnMessage},
      {"truncated maps",
       [](const ProgramFolder& f) { f.writeBothMaps(realMap().substr(0, 300)); }, kOwnCaption,
       kOwnMessage},
      {"maps that are not XML",
       [](const ProgramFolder& f) {
         f.writeBothMaps(std::string("MZ\x90\0\3\0\0\0\xff\xfe<<languages>>", 21) + realMap());
       },
       kOwnCaption, kOwnMessage},
      {"maps nested 100000 deep",
       [](const ProgramFolder& f) {
         f.writeBothMaps("<?xml version=\"1.0\"?>" + nested(100000, kEnglishOnlyMap + 39));
       },
       kOwnCaption, kOwnMessage},
      {"maps whose language has no strings file here",
       [](const ProgramFolder& f) { f.remove("en\\strings.xml"); }, kOwnCaption, kOwnMessage},
  };
  for (const Case& c : cases) expectAlert(c);
}

TEST(LanguageFiles, UnusableStringsFilesLeaveTheProgramsOwnTexts) {
  const Case cases[] = {
      {"an empty strings file", [](const ProgramFolder& f) { f.write("en\\strings.xml", ""); },
       kOwnCaption, kOwnMessage},
      {"a truncated strings file",
       [](const ProgramFolder& f) {
         f.write("en\\strings.xml", markedStrings().substr(0, markedStrings().size() - 40));
       },
       kOwnCaption, kOwnMessage},
      {"a strings file that is not XML",
       [](const ProgramFolder& f) { f.write("en\\strings.xml", std::string(4096, '\xff')); },
       kOwnCaption, kOwnMessage},
      {"a strings file nested 100000 deep",
       [](const ProgramFolder& f) {
         f.write("en\\strings.xml",
                 "<?xml version=\"1.0\"?>" + nested(100000, markedStrings().substr(39)));
       },
       kOwnCaption, kOwnMessage},
      {"a strings file with ids out of range",
       [](const ProgramFolder& f) {
         // Only the id exactly as the program writes it counts.
         std::string entries = stringEntry("3008", "Printer Alert (strings file)");
         for (const char* id : {"99999999999999999999", "-7267", "07267", " 7267",
                                "4294974563", "7267.0", "0x1C63"}) {
           entries += stringEntry(id, "wrong");
         }
         f.write("en\\strings.xml", stringsFile(entries));
       },
       kMarkedCaption, kOwnMessage},
      {"a strings file of 50 MB, well-formed: too large to be read",
       [](const ProgramFolder& f) {
         std::string entries;
         entries.reserve(52 * 1024 * 1024);
         entries += stringEntry("3008", "Printer Alert (strings file)");
         entries += stringEntry("7267", "Rear Access Door Open (strings file)");
         const std::string filler(1000, 'x');
         for (int id = 100000; entries.size() < 50u * 1024 * 1024; ++id) {
           entries += stringEntry(std::to_string(id), filler);
         }
         f.write("en\\strings.xml", stringsFile(entries));
       },
       kOwnCaption, kOwnMessage},
  };
  for (const Case& c : cases) expectAlert(c);
}

TEST(LanguageFiles, OddButWellFormedStringsFilesAreReadAsTheyStand) {
  const Case cases[] = {
      {"a strings file in UTF-16",
       [](const ProgramFolder& f) {
         std::string text = markedStrings();
         text.replace(text.find("UTF-8"), 5, "UTF-16");
         const std::u16string wide = platform::wideToUtf16(platform::utf8ToWide(text));
         std::string bytes = "\xff\xfe";
         for (char16_t unit : wide) {
           bytes += static_cast<char>(unit & 0xFF);
           bytes += static_cast<char>(unit >> 8);
         }
         f.write("en\\strings.xml", bytes);
       },
       kMarkedCaption, kMarkedMessage},
      {"a strings file with duplicate ids: the first counts",
       [](const ProgramFolder& f) {
         f.write("en\\strings.xml",
                 stringsFile(stringEntry("3008", "Printer Alert (strings file)") +
                             stringEntry("7267", "Rear Access Door Open (strings file)") +
                             stringEntry("7267", "second") + stringEntry("3008", "second")));
       },
       kMarkedCaption, kMarkedMessage},
  };
  for (const Case& c : cases) expectAlert(c);
}

// Texts the dialog composes: only "%s" is a placeholder (it takes the
// printer's series text), "%%" is "%", and every other "%" stays as it is; a
// text longer than a dialog text may be is cut.
TEST(LanguageFiles, HostileTextsAreShownAsTextsAndCutToTheDialogsLimit) {
  {
    SCOPED_TRACE("\"%\" sequences");
    ProgramFolder folder;
    folder.write("en\\strings.xml",
                 stringsFile(stringEntry("7267", "100% %s %d %n %x %% %p %1$s %99999999s %")));
    const Alert alert = showAlert(folder);
    EXPECT_EQ("100% Printer Series %d %n %x % %p %1$s %99999999s %", probe::utf8(alert.message));
    EXPECT_EQ(0u, alert.exitCode);
  }
  {
    SCOPED_TRACE("a text of 10000 characters");
    ProgramFolder folder;
    folder.write("en\\strings.xml", stringsFile(stringEntry("7267", std::string(10000, 'W'))));
    const Alert alert = showAlert(folder);
    EXPECT_FALSE(alert.message.empty());
    EXPECT_LE(alert.message.size(), 1023u);
    EXPECT_EQ(alert.message.find_first_not_of(L'W'), std::wstring::npos);
    EXPECT_EQ(0u, alert.exitCode);
  }
}

TEST(LanguageFiles, ForcedLanguagesWithoutFilesAndModulesThatAreNoDllsAreHandled) {
  const Case cases[] = {
      {"a forced language the maps list but whose files are missing",
       [](const ProgramFolder& f) {
         f.write("forceLang.xml", "<forceLang><langId>0x0407</langId></forceLang>");
       },
       kOwnCaption, kOwnMessage},
      {"a forced language the maps do not list: their default language",
       [](const ProgramFolder& f) {
         f.write("forceLang.xml", "<forceLang><langId>0x0411</langId></forceLang>");
       },
       kMarkedCaption, kMarkedMessage},
      {"a resource module that is a text",
       [](const ProgramFolder& f) {
         std::string map = kEnglishOnlyMap;
         map.replace(map.find("strings.xml"), 11, "strings.dll");
         map.replace(map.find("xmlstrings"), 10, "resourcefile");
         f.writeBothMaps(map);
         f.write("en\\strings.dll", markedStrings());
       },
       kOwnCaption, kOwnMessage},
      {"a resource module that is a cut-off program",
       [](const ProgramFolder& f) {
         std::string map = kEnglishOnlyMap;
         map.replace(map.find("strings.xml"), 11, "strings.dll");
         map.replace(map.find("xmlstrings"), 10, "resourcefile");
         f.writeBothMaps(map);
         f.write("en\\strings.dll",
                 readFile(e2e::builtFile("app/qmxMeadowMonitor.exe")).substr(0, 1024));
       },
       kOwnCaption, kOwnMessage},
  };
  for (const Case& c : cases) expectAlert(c);
}

}  // namespace
