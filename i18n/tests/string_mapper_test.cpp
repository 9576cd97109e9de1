#include "i18n/string_mapper.h"

#include <windows.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/test_support/temp_dir.h"
#include "platform/text.h"

namespace {

// Answers the chooser's questions from fields the test sets.
class FakePlatform : public UiLanguageSource {
 public:
  uint16_t u = 0, s = 0, ul = 0, sl = 0;
  bool hasPreferred = false;
  std::wstring preferred;
  std::string program;

  uint16_t userDefaultUiLanguage() const override { return u; }
  uint16_t systemDefaultUiLanguage() const override { return s; }
  uint16_t userDefaultLangId() const override { return ul; }
  uint16_t systemDefaultLangId() const override { return sl; }
  bool preferredUiLanguages(std::wstring* list) const override {
    if (hasPreferred) *list = preferred;
    return hasPreferred;
  }
  std::string programPath() const override { return program; }

  void setAll(uint16_t id) { u = s = ul = sl = id; }
};

class TestMapper : public StringMapper {
 public:
  explicit TestMapper(const UiLanguageSource& platform) : StringMapper(platform) {}
  using StringMapper::chooseUiLanguage;
  using StringMapper::findStringsFile;
  using StringMapper::loadResourceModule;
  using StringMapper::loadXmlStrings;
  using StringMapper::primaryForLangId;
  using StringMapper::readForcedLanguage;
  using StringMapper::readLanguageMap;
  using StringMapper::selectLanguage;
};

using testsupport::TempDir;

std::string testProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder = path;
  return folder.substr(0, folder.find_last_of('\\'));
}

std::string testModulePath() {
  return testProgramFolder() + "\\i18n_test_strings.dll";
}

std::string language(const std::string& fields) {
  return "<language>" + fields + "</language>";
}

std::string languageMap(const std::string& languages) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><languages>" + languages + "</languages>";
}

std::string stringsFile(const std::string& strings) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><strings>" + strings + "</strings>";
}

std::string entry(const std::string& id, const std::string& value) {
  return "<string><id>" + id + "</id><value>" + value + "</value></string>";
}

// English, German, Slovenian and a default, each with a strings folder.
const std::string kFourLanguages = languageMap(
    language("<langId>1033</langId><primaryLangId>9</primaryLangId><abbr>en</abbr>") +
    language("<langId>0x0407</langId><primaryLangId>7</primaryLangId><abbr>de</abbr>") +
    language("<langId>0x0424</langId><primaryLangId>0x24</primaryLangId><abbr>sl</abbr>") +
    language("<langId>0</langId><primaryLangId>0</primaryLangId><abbr>default</abbr>"));

class StringMapperTest : public ::testing::Test {
 protected:
  // Writes the four-language map and one strings file per language whose
  // text 1 names the language.
  void writeFourLanguages() {
    dir_.write("map.xml", kFourLanguages);
    for (const char* abbr : {"en", "de", "sl", "default"}) {
      dir_.write(std::string(abbr) + "\\strings.xml", stringsFile(entry("1", abbr)));
    }
  }
  // The abbreviation of the language load() settles on.
  std::string loadedLanguage() {
    TestMapper mapper(platform_);
    mapper.load(dir_.path(), "map.xml");
    return mapper.getText(1);
  }

  FakePlatform platform_;
  TempDir dir_;
};

TEST(StringMapperJoinPath, JoinsWithOneBackslash) {
  struct Case {
    const char* first;
    const char* second;
    const char* joined;
  } cases[] = {
      {"C:\\a", "b", "C:\\a\\b"},
      {"C:\\a\\", "\\b", "C:\\a\\b"},
      {"C:/a", "b/c", "C:\\a\\b\\c"},
      {"C:\\a/", "/b", "C:\\a\\b"},
      {"", "b", ""},
      {"a", "", "a\\"},
      {"a", "\\\\b", "a\\\\b"},  // only one leading separator is dropped
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.first) + " + " + c.second);
    EXPECT_EQ(c.joined, StringMapper::joinPath(c.first, c.second));
  }
}

TEST_F(StringMapperTest, LanguageMapFieldsAndNumberForms) {
  dir_.write(
      "map.xml",
      languageMap(language("<langId>0x0409</langId><primaryLangId>9</primaryLangId>"
                           "<name>English</name><abbr>en</abbr><rtl>true</rtl>"
                           "<resource>en.xml</resource><resourceType>xmlstrings</resourceType>") +
                  language("<langId>1033</langId><rtl>TRUE</rtl>") +
                  language("<wrapper><langId>02011</langId></wrapper><rtl>1</rtl>")));
  TestMapper mapper(platform_);
  ASSERT_TRUE(mapper.readLanguageMap(dir_.path(), "map.xml"));
  ASSERT_EQ(3u, mapper.languages().size());
  for (const LanguageEntry& e : mapper.languages()) EXPECT_EQ(1033u, e.langId);
  const LanguageEntry& first = mapper.languages()[0];
  EXPECT_EQ(9u, first.primaryLangId);
  EXPECT_EQ("English", first.name);
  EXPECT_EQ("en", first.abbr);
  EXPECT_EQ("en.xml", first.resource);
  EXPECT_EQ("xmlstrings", first.resourceType);
  EXPECT_TRUE(first.rtl);
  EXPECT_FALSE(mapper.languages()[1].rtl);  // only "true" is true
  EXPECT_FALSE(mapper.languages()[2].rtl);
}

TEST_F(StringMapperTest, MissingFieldsCarryOverAndEmptyLanguagesAreSkipped) {
  dir_.write("map.xml",
             languageMap(language("<langId>1031</langId><primaryLangId>7</primaryLangId>"
                                  "<abbr>de</abbr><resourceType>resourcefile</resourceType>") +
                         "<language langId=\"5\"><note>nothing we read</note></language>" +
                         language("<langId>1036</langId><primaryLangId>12</primaryLangId>"
                                  "<abbr></abbr>")));
  TestMapper mapper(platform_);
  ASSERT_TRUE(mapper.readLanguageMap(dir_.path(), "map.xml"));
  ASSERT_EQ(2u, mapper.languages().size());
  const LanguageEntry& french = mapper.languages()[1];
  EXPECT_EQ(1036u, french.langId);
  EXPECT_EQ("resourcefile", french.resourceType);  // left over from German
  EXPECT_EQ("de", french.abbr);                    // an empty text sets nothing
  // Without an entry for primary language 0 no language is current yet.
  EXPECT_EQ(0u, mapper.currentLanguage().langId);
}

TEST_F(StringMapperTest, TheDefaultLanguageIsCurrentOnceTheMapIsRead) {
  dir_.write("langmap.xml", kFourLanguages);
  TestMapper mapper(platform_);
  ASSERT_TRUE(mapper.readLanguageMap(dir_.path() + "\\", ""));  // the default name
  EXPECT_EQ("default", mapper.currentLanguage().abbr);
}

TEST_F(StringMapperTest, UnreadableMapsAreRefused) {
  dir_.write("malformed.xml", "<languages><language>");
  dir_.write("nolist.xml", "<root><language><langId>7</langId></language></root>");
  dir_.folder("folder.xml");
  for (const char* name : {"absent.xml", "malformed.xml", "nolist.xml", "folder.xml"}) {
    SCOPED_TRACE(name);
    TestMapper mapper(platform_);
    EXPECT_FALSE(mapper.readLanguageMap(dir_.path(), name));
    EXPECT_TRUE(mapper.languages().empty());
  }
  TestMapper mapper(platform_);
  EXPECT_FALSE(mapper.readLanguageMap("", "nolist.xml"));
}

TEST_F(StringMapperTest, StringsFileRules) {
  const std::string path =
      dir_.write("strings.xml", stringsFile(entry("7198", "Ready") + entry("7199", "Printing") +
                                            entry("7198", "Second") + entry("215", "") +
                                            entry("", "no id") + entry("3001", "Help") + "<group>" +
                                            entry("218", "Nested") + "</group>"));
  TestMapper mapper(platform_);
  mapper.loadXmlStrings(path);
  EXPECT_EQ(path, mapper.stringsPath());
  EXPECT_EQ("Ready", mapper.getText(7198));  // the first of a repeated id
  EXPECT_EQ("Printing", mapper.getText(7199));
  EXPECT_EQ("Help", mapper.getText(3001));
  EXPECT_EQ("Nested", mapper.getText(218));
  EXPECT_EQ("", mapper.getText(215));  // empty values are not stored
  EXPECT_EQ("", mapper.getText(0));
  EXPECT_EQ("", mapper.getText(-7198));

  // A second load starts from nothing, even when it finds nothing.
  mapper.loadXmlStrings(dir_.path() + "\\absent.xml");
  EXPECT_EQ("", mapper.getText(7198));
  EXPECT_EQ("", mapper.stringsPath());
}

TEST_F(StringMapperTest, UnreadableStringsFilesGiveNoTexts) {
  const std::string malformed = dir_.write("bad.xml", "<strings><string><id>1</id>");
  const std::string other = dir_.write("other.xml", "<texts>" + entry("1", "x") + "</texts>");
  TestMapper mapper(platform_);
  mapper.loadXmlStrings(malformed);
  EXPECT_EQ("", mapper.stringsPath());
  mapper.loadXmlStrings(other);
  EXPECT_EQ(other, mapper.stringsPath());  // opened, but holds no strings
  EXPECT_EQ("", mapper.getText(1));
  mapper.loadXmlStrings("");
  EXPECT_EQ("", mapper.getText(1));
}

// A file padded with blanks before its last closing tag to exactly `size`
// bytes.
std::string paddedTo(const std::string& document, std::size_t size) {
  const std::size_t close = document.rfind("</");
  return document.substr(0, close) + std::string(size - document.size(), ' ') +
         document.substr(close);
}

TEST_F(StringMapperTest, LanguageFilesLargerThanTheLimitAreRefused) {
  constexpr std::size_t kLimit = StringMapper::kMaxLanguageFileBytes;
  const std::string strings = stringsFile(entry("1", "text"));
  const std::string atLimit = dir_.write("fits.xml", paddedTo(strings, kLimit));
  const std::string beyond = dir_.write("large.xml", paddedTo(strings, kLimit + 1));
  TestMapper mapper(platform_);
  mapper.loadXmlStrings(atLimit);
  EXPECT_EQ("text", mapper.getText(1));
  mapper.loadXmlStrings(beyond);
  EXPECT_EQ("", mapper.getText(1));
  EXPECT_EQ("", mapper.stringsPath());

  dir_.write("map.xml", paddedTo(kFourLanguages, kLimit + 1));
  EXPECT_FALSE(mapper.readLanguageMap(dir_.path(), "map.xml"));
  dir_.write("map.xml", paddedTo(kFourLanguages, kLimit));
  EXPECT_TRUE(mapper.readLanguageMap(dir_.path(), "map.xml"));

  platform_.program = dir_.path() + "\\monitor.exe";
  dir_.write("forceLang.xml", paddedTo("<forceLang><langId>0x0407</langId></forceLang>", kLimit + 1));
  EXPECT_EQ(0, mapper.readForcedLanguage());
}

TEST_F(StringMapperTest, FindStringsFileTriesFoldersInOrder) {
  LanguageEntry english;
  english.langId = 1033;
  english.primaryLangId = 9;
  english.name = "English";
  english.abbr = "en";
  const std::vector<std::string> candidates = {"en\\strings.xml", "English\\strings.xml",
                                               "1033\\strings.xml", "9\\strings.xml",
                                               "strings.xml"};
  for (size_t first = 0; first < candidates.size(); ++first) {
    SCOPED_TRACE(candidates[first]);
    TempDir dir;
    for (size_t i = first; i < candidates.size(); ++i) dir.write(candidates[i], "<strings/>");
    TestMapper mapper(platform_);
    EXPECT_EQ(dir.path() + "\\" + candidates[first], mapper.findStringsFile(dir.path(), english));
  }

  TestMapper mapper(platform_);
  EXPECT_EQ("", mapper.findStringsFile(dir_.path(), english));
  dir_.folder("en\\strings.xml");  // a folder is not a strings file
  EXPECT_EQ("", mapper.findStringsFile(dir_.path(), english));

  english.resource = "texts.xml";
  english.abbr.clear();
  const std::string own = dir_.write("texts.xml", "<strings/>");
  EXPECT_EQ(own, mapper.findStringsFile(dir_.path() + "/", english));
}

TEST_F(StringMapperTest, SelectLanguageMatchesWholeIdThenPrimaryLanguage) {
  dir_.write("map.xml",
             languageMap(language("<langId>1</langId><primaryLangId>9</primaryLangId>") +
                         language("<langId>2</langId><primaryLangId>0x0804</primaryLangId>") +
                         language("<langId>3</langId><primaryLangId>4</primaryLangId>") +
                         language("<langId>4</langId><primaryLangId>9</primaryLangId>") +
                         language("<langId>5</langId><primaryLangId>0x12345</primaryLangId>")));
  TestMapper mapper(platform_);
  ASSERT_TRUE(mapper.readLanguageMap(dir_.path(), "map.xml"));
  mapper.selectLanguage(0x0804);
  EXPECT_EQ(2u, mapper.currentLanguage().langId);
  mapper.selectLanguage(0x0404);
  EXPECT_EQ(3u, mapper.currentLanguage().langId);
  mapper.selectLanguage(0x0809);
  EXPECT_EQ(1u, mapper.currentLanguage().langId);  // the first of two
  mapper.selectLanguage(0x0410);
  EXPECT_EQ(1u, mapper.currentLanguage().langId);  // no match keeps the language

  EXPECT_EQ(0x0804, mapper.primaryForLangId(2));
  EXPECT_EQ(0x2345, mapper.primaryForLangId(5));  // low 16 bits
  EXPECT_EQ(0, mapper.primaryForLangId(6));
}

TEST_F(StringMapperTest, ForcedLanguageFileWins) {
  writeFourLanguages();
  platform_.program = dir_.path() + "\\monitor.exe";
  platform_.setAll(0x0409);
  platform_.hasPreferred = true;
  platform_.preferred = std::wstring(L"0409\0\0", 6);

  dir_.write("forceLang.xml", "<forceLang><langId>0x0407</langId></forceLang>");
  TestMapper mapper(platform_);
  EXPECT_EQ(0x0407, mapper.readForcedLanguage());
  EXPECT_EQ(0x0407, mapper.chooseUiLanguage());
  EXPECT_EQ("de", loadedLanguage());

  // The id may stand anywhere in the document, but the file must name itself.
  dir_.write("forceLang.xml", "<r><forceLang/><x><langId>1060</langId></x></r>");
  EXPECT_EQ(0x0424, mapper.readForcedLanguage());
  dir_.write("forceLang.xml", "<r><langId>0x0407</langId></r>");
  EXPECT_EQ(0, mapper.readForcedLanguage());
  dir_.write("forceLang.xml", "<forceLang><langId></langId></forceLang>");
  EXPECT_EQ(0, mapper.readForcedLanguage());
  dir_.write("forceLang.xml", "<forceLang><langId>0x0407");
  EXPECT_EQ(0, mapper.readForcedLanguage());
  EXPECT_EQ("en", loadedLanguage());  // the preferred list decides again

  // Without the program's folder (GetModuleFileNameA failed or reached its
  // limit) there is no forced file, even in the current folder.
  dir_.write("forceLang.xml", "<forceLang><langId>0x0407</langId></forceLang>");
  char previous[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(dir_.path().c_str()));
  platform_.program.clear();
  EXPECT_EQ(0, mapper.readForcedLanguage());
  platform_.program = "monitor.exe";
  EXPECT_EQ(0, mapper.readForcedLanguage());
  SetCurrentDirectoryA(previous);
}

TEST_F(StringMapperTest, FirstPreferredLanguageIsReadAsHexadecimal) {
  writeFourLanguages();
  platform_.setAll(0x0424);  // would choose Slovenian
  platform_.hasPreferred = true;
  platform_.preferred = std::wstring(
      L"0407\0"
      L"0409\0\0",
      11);
  TestMapper mapper(platform_);
  EXPECT_EQ(0x0407, mapper.chooseUiLanguage());
  EXPECT_EQ("de", loadedLanguage());

  platform_.preferred = std::wstring(L"c0a\0", 4);
  EXPECT_EQ(0x0C0A, mapper.chooseUiLanguage());
  platform_.preferred = std::wstring(L"10409;", 6);  // low 16 bits
  EXPECT_EQ(0x0409, mapper.chooseUiLanguage());
  // A list that reads as 0, or no list, leaves the choice to the settings.
  platform_.preferred = std::wstring(L"x0407\0", 6);
  EXPECT_EQ(0x0424, mapper.chooseUiLanguage());
  platform_.hasPreferred = false;
  EXPECT_EQ(0x0424, mapper.chooseUiLanguage());
}

TEST_F(StringMapperTest, LanguageSettingsRules) {
  dir_.write("map.xml", kFourLanguages);
  TestMapper mapper(platform_);
  ASSERT_TRUE(mapper.readLanguageMap(dir_.path(), "map.xml"));
  struct Case {
    uint16_t u, s, ul, sl;
    uint16_t chosen;
    const char* why;
  } cases[] = {
      {0x0409, 0x0407, 0x0407, 0x0407, 0x0409, "user UI differs from three agreeing settings"},
      {0x0407, 0x0424, 0x0424, 0x0424, 0x0407, "that rule comes before Slovenian"},
      {0x0424, 0x0424, 0x0424, 0x0424, 0x0424, "all Slovenian"},
      {0x0409, 0x0409, 0x0424, 0x0409, 0x0424, "Slovenian anywhere"},
      {0x041A, 0x0424, 0x0409, 0x0409, 0x0424, "Slovenian before Croatian"},
      {0x0409, 0x0421, 0x0409, 0x041A, 0x041A, "Croatian before Indonesian"},
      {0x0409, 0x0409, 0x0409, 0x0421, 0x0421, "Indonesian anywhere"},
      {0x0407, 0x0409, 0x0407, 0x0407, 7, "user settings agree: primary of the user UI"},
      {0x0407, 0x0409, 0x0409, 0x040C, 9, "otherwise primary of the system UI"},
      {0x0C0A, 0x0C0A, 0x0C0A, 0x0C0A, 0, "no entry for the language"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    platform_.u = c.u;
    platform_.s = c.s;
    platform_.ul = c.ul;
    platform_.sl = c.sl;
    EXPECT_EQ(c.chosen, mapper.chooseUiLanguage());
  }
}

TEST_F(StringMapperTest, ChosenLanguageSelectsItsEntry) {
  writeFourLanguages();
  platform_.u = 0x0409;
  platform_.s = platform_.ul = platform_.sl = 0x0407;
  EXPECT_EQ("en", loadedLanguage());
  platform_.setAll(0x0424);
  EXPECT_EQ("sl", loadedLanguage());
  platform_.setAll(0x0C0A);
  EXPECT_EQ("default", loadedLanguage());
}

// load() only names the map: the files are read at the first question, and
// a mapper that is never asked never reads them.
TEST_F(StringMapperTest, TheMapIsReadAtTheFirstQuestionNotAtLoad) {
  platform_.setAll(0x0407);
  TestMapper mapper(platform_);
  mapper.load(dir_.path(), "map.xml");  // nothing there yet
  writeFourLanguages();
  EXPECT_EQ("de", mapper.getText(1));
  EXPECT_EQ(0x0407u, mapper.currentLanguage().langId);
  // Once read, the texts stay what they were.
  dir_.write("de\\strings.xml", stringsFile(entry("1", "changed")));
  EXPECT_EQ("de", mapper.getText(1));

  // Every reader settles a pending load, and a second load names the map
  // the next question reads.
  TestMapper other(platform_);
  other.load(dir_.path(), "absent.xml");
  other.load(dir_.path(), "map.xml");
  EXPECT_EQ(4u, other.languages().size());
  EXPECT_NE(std::string::npos, other.stringsPath().find("de\\strings.xml")) << other.stringsPath();
  EXPECT_FALSE(other.hasResourceModule());

  TestMapper never(platform_);
  never.load("Q:\\no\\such\\folder", "map.xml");  // destroyed unasked
}

TEST_F(StringMapperTest, ResourceModuleAnswersFromItsStringTable) {
  dir_.copy(testModulePath(), "de\\strings.dll");
  dir_.write("map.xml", languageMap(language(
                            "<langId>1031</langId><primaryLangId>0</primaryLangId><abbr>de</abbr>"
                            "<resource>strings.dll</resource>"
                            "<resourceType>resourcefile</resourceType>")));
  TestMapper mapper(platform_);
  mapper.load(dir_.path(), "map.xml");
  ASSERT_TRUE(mapper.hasResourceModule());
  EXPECT_EQ("Schwarz fast leer", mapper.getText(7206));
  EXPECT_EQ(platform::wideToAnsi(L"Pr\u00eat"), mapper.getText(7198));
  EXPECT_EQ("", mapper.getText(215));   // its block exists, the string does not
  EXPECT_EQ("", mapper.getText(5000));  // no such block
  EXPECT_EQ("", mapper.stringsPath());

  mapper.loadResourceModule(dir_.path() + "\\absent.dll");
  EXPECT_FALSE(mapper.hasResourceModule());
  EXPECT_EQ("", mapper.getText(7206));
  mapper.loadResourceModule("");
  EXPECT_FALSE(mapper.hasResourceModule());
}

// The chooser's answers of a FakePlatform, given on other threads only when
// the test opens a gate; every question is counted by the thread that asked.
// Tests leave it alive (new, never deleted): a worker the test gave up on
// may still ask it after the test has ended.
class GatedPlatform : public FakePlatform {
 public:
  GatedPlatform()
      : asking_(GetCurrentThreadId()),
        gate_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        entered_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  bool preferredUiLanguages(std::wstring* list) const override {
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (GetCurrentThreadId() == asking_) {
        ++askedHere_;
      } else {
        ++askedElsewhere_;
      }
    }
    if (GetCurrentThreadId() != asking_) {
      SetEvent(entered_);
      WaitForSingleObject(gate_, INFINITE);
    }
    return FakePlatform::preferredUiLanguages(list);
  }

  void open() const { SetEvent(gate_); }
  bool waitUntilEntered(DWORD ms) const { return WaitForSingleObject(entered_, ms) == 0; }
  int askedHere() const {
    std::lock_guard<std::mutex> guard(lock_);
    return askedHere_;
  }
  int askedElsewhere() const {
    std::lock_guard<std::mutex> guard(lock_);
    return askedElsewhere_;
  }

 private:
  const DWORD asking_;
  const HANDLE gate_;
  const HANDLE entered_;
  mutable std::mutex lock_;
  mutable int askedHere_ = 0;
  mutable int askedElsewhere_ = 0;
};

// The worker reads both mappers' data, an XML strings file and a resource
// module, with the DOM on its own thread; the first question waits for it
// and takes its reading over instead of reading again.
TEST_F(StringMapperTest, ABackgroundReadingIsTakenOverByTheFirstQuestion) {
  writeFourLanguages();
  dir_.copy(testModulePath(), "module\\strings.dll");
  dir_.write("module.xml",
             languageMap(language("<langId>1031</langId><primaryLangId>0</primaryLangId>"
                                  "<abbr>module</abbr><resource>strings.dll</resource>"
                                  "<resourceType>resourcefile</resourceType>")));
  auto* platform = new GatedPlatform;
  platform->setAll(0x0407);
  TestMapper strings(*platform);
  TestMapper module(*platform);
  StringMapper::loadInBackground(
      {{&strings, dir_.path(), "map.xml"}, {&module, dir_.path(), "module.xml"}}, 30000);
  ASSERT_TRUE(platform->waitUntilEntered(30000)) << "the worker never asked for the language";
  // The worker goes on a while after the questions below have been asked.
  std::thread opener([platform] {
    Sleep(200);
    platform->open();
  });
  EXPECT_EQ("de", strings.getText(1));
  EXPECT_NE(std::string::npos, strings.stringsPath().find("de\\strings.xml"));
  EXPECT_TRUE(module.hasResourceModule());
  EXPECT_EQ("Schwarz fast leer", module.getText(7206));
  opener.join();
  EXPECT_EQ(0, platform->askedHere()) << "a mapper read its data again on the asking thread";
  EXPECT_EQ(2, platform->askedElsewhere());

  // A later load() names a map of its own again; the worker's reading is
  // not taken over.
  TestMapper reloaded(*platform);
  StringMapper::loadInBackground({{&reloaded, dir_.path(), "module.xml"}}, 30000);
  reloaded.load(dir_.path(), "map.xml");
  EXPECT_EQ("de", reloaded.getText(1));
  EXPECT_FALSE(reloaded.hasResourceModule());
}

// A worker that hangs is waited for once, for the given time; then each
// mapper reads its data on the asking thread and gives the same texts.
TEST_F(StringMapperTest, AWorkerThatHangsIsWaitedForOnceThenTheAskingThreadReads) {
  writeFourLanguages();
  auto* platform = new GatedPlatform;
  platform->setAll(0x0407);
  TestMapper first(*platform);
  TestMapper second(*platform);
  StringMapper::loadInBackground(
      {{&first, dir_.path(), "map.xml"}, {&second, dir_.path(), "map.xml"}}, 50);
  ASSERT_TRUE(platform->waitUntilEntered(30000)) << "the worker never asked for the language";
  EXPECT_EQ("de", first.getText(1));
  EXPECT_EQ("de", second.getText(1));
  EXPECT_EQ(0x0407u, second.currentLanguage().langId);
  EXPECT_EQ(2, platform->askedHere());
  // The worker's late reading goes nowhere.
  platform->open();
}

TEST_F(StringMapperTest, BrokenDataLeavesTheMapperEmptyWithoutThrowing) {
  struct Case {
    const char* map;
    const char* strings;
  } cases[] = {
      {nullptr, nullptr},
      {"<languages><language><primaryLangId>0</primaryLangId>", nullptr},
      {"<languages><language><primaryLangId>0</primaryLangId></language></languages>",
       "<strings><string><id>1</id><value>x</value>"},
      {"<languages><language><primaryLangId>0</primaryLangId></language></languages>",
       "\xFF\xFE<\0s\0"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n++);
    TempDir dir;
    if (c.map) dir.write("map.xml", c.map);
    if (c.strings) dir.write("strings.xml", c.strings);
    TestMapper mapper(platform_);
    EXPECT_NO_THROW(mapper.load(dir.path(), "map.xml"));
    EXPECT_EQ("", mapper.getText(1));
    EXPECT_FALSE(mapper.hasResourceModule());
  }
  // No language matches and there is no default: the language's own folder
  // is not searched.
  dir_.write("map.xml", languageMap(language("<langId>7</langId><primaryLangId>5</primaryLangId>"
                                             "<abbr>x</abbr>")));
  dir_.write("x\\strings.xml", stringsFile(entry("1", "x")));
  platform_.setAll(0x0409);
  TestMapper unmatched(platform_);
  unmatched.load(dir_.path(), "map.xml");
  EXPECT_EQ("", unmatched.getText(1));

  StringMapper mapper(platform_);
  EXPECT_NO_THROW(mapper.load("", ""));
  EXPECT_NO_THROW(mapper.load("Q:\\no\\such\\folder", "map.xml"));
  EXPECT_EQ("", mapper.getText(7198));
}

// Language files are files anyone can drop beside the program: a map or a
// strings file whose document type declares entities (one that reads a
// local file into a dialog text, one that expands without end) is refused,
// and the mapper answers nothing, so that the dialog shows its own texts.
TEST_F(StringMapperTest, FilesWhoseDocumentTypeDeclaresEntitiesAreRefused) {
  const std::string secret = dir_.write("secret.txt", "password");
  const std::string internal = "<!DOCTYPE strings [<!ENTITY name \"injected\">]>";
  const std::string external =
      "<!DOCTYPE strings [<!ENTITY name SYSTEM \"file:///" + secret + "\">]>";
  std::string laughs = "<!DOCTYPE strings [<!ENTITY a \"ha\">";
  for (char level = 'b'; level <= 'j'; ++level) {
    const std::string previous(1, static_cast<char>(level - 1));
    laughs += std::string("<!ENTITY ") + level + " \"";
    for (int i = 0; i < 10; ++i) laughs += "&" + previous + ";";
    laughs += "\">";
  }
  laughs += "]>";
  const struct {
    const char* name;
    std::string doctype;
    const char* reference;
  } cases[] = {
      {"internal entity", internal, "&name;"},
      {"local file", external, "&name;"},
      {"billion laughs", laughs, "&j;"},
  };
  dir_.write("map.xml", languageMap(language("<primaryLangId>0</primaryLangId>")));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dir_.write("strings.xml", "<?xml version=\"1.0\"?>" + c.doctype + "<strings>" +
                                  entry("1", c.reference) + entry("2", "plain") + "</strings>");
    TestMapper mapper(platform_);
    mapper.load(dir_.path(), "map.xml");
    EXPECT_EQ("", mapper.getText(1));
    EXPECT_EQ("", mapper.getText(2));
    EXPECT_EQ("", mapper.stringsPath());
  }
  // The same in a language map: no language at all.
  dir_.write("evil.xml", "<?xml version=\"1.0\"?>" + internal +
                             "<languages><language><abbr>&name;</abbr>"
                             "<primaryLangId>0</primaryLangId></language></languages>");
  TestMapper mapper(platform_);
  EXPECT_FALSE(mapper.readLanguageMap(dir_.path(), "evil.xml"));
  EXPECT_TRUE(mapper.languages().empty());
}

// The data the build copies beside the program: every language gives its
// texts, including leading blanks and line breaks.
TEST(InstalledLanguageData, EveryLanguageGivesItsTexts) {
  struct Case {
    uint16_t language;
    const wchar_t* ready;
    const wchar_t* help;
  } cases[] = {
      {0x0409, L"Ready", L"Help"},
      {0x0407, L"Bereit", L"Hilfe"},
      {0x040C, L"Pr\u00eat", L"Aide"},
      {0x0C0A, L"Preparada", L"Ayuda"},
      {0x0804, L"\u5c31\u7eea", L"\u5e2e\u52a9"},
  };
  for (const char* map : {"qmx_Kestrel_DialogLangMap.xml", "qmx_Kestrel_ErrorLangMap.xml"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(map) + " " + std::to_string(c.language));
      FakePlatform platform;
      platform.setAll(c.language);
      StringMapper mapper(platform);
      mapper.load(testProgramFolder(), map);
      EXPECT_EQ(platform::wideToAnsi(c.ready), mapper.getText(7198));
      EXPECT_EQ(platform::wideToAnsi(c.help), mapper.getText(3001));
      EXPECT_EQ(c.language, mapper.currentLanguage().langId);
    }
  }
  FakePlatform english;
  english.setAll(0x0409);
  StringMapper mapper(english);
  mapper.load(testProgramFolder(), "qmx_Kestrel_DialogLangMap.xml");
  EXPECT_EQ(" Do not show low ink alerts for 24 hours", mapper.getText(216));
  const std::string steps = mapper.getText(7269);
  EXPECT_NE(std::string::npos, steps.find(".\n\n1. Raise")) << steps;

  // A language the data does not carry reads the data's default language,
  // English, throughout: the program's tables would answer it partly in
  // German (see the Italian end-to-end test).
  FakePlatform italian;
  italian.setAll(0x0410);
  StringMapper other(italian);
  other.load(testProgramFolder(), "qmx_Kestrel_DialogLangMap.xml");
  EXPECT_EQ("Ready", other.getText(7198));
  EXPECT_EQ("more...", other.getText(215));
}

// Runs once per locale (see CMakeLists.txt): texts from a strings file must
// reach the dialog in the process code page, as the string tables' do.
TEST(ProcessCodePage, StringsFileTextsMatchStringTableTexts) {
  const char* expected = std::getenv("MONITOR_EXPECTED_LOCALE");
  const std::string locale = expected ? expected : "";
  if (locale == "zh_CN") {
    ASSERT_EQ(936u, GetACP());
  } else if (!locale.empty()) {
    ASSERT_EQ(1252u, GetACP());
  }

  TempDir dir;
  dir.write("map.xml", languageMap(language("<primaryLangId>0</primaryLangId>")));
  dir.write(
      "strings.xml",
      stringsFile(entry("7198", "Pr\xC3\xAAt") + entry("7206", "Schwarz fast leer") +
                  entry("216",
                        "24 Stunden lang keine Warnung f\xC3\xBCr fast leere "
                        "Druckerfarbe anzeigen") +
                  entry("3008", "\xE6\x89\x93\xE5\x8D\xB0\xE6\x9C\xBA\xE6\x8F\x90\xE9\x86\x92")));
  FakePlatform platform;
  StringMapper mapper(platform);
  mapper.load(dir.path(), "map.xml");

  HMODULE tables = LoadLibraryExA(testModulePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, tables);
  for (int id : {7198, 7206, 216, 3008}) {
    SCOPED_TRACE(id);
    char text[4096];
    const int length = LoadStringA(tables, static_cast<UINT>(id), text, sizeof text);
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::string(text, static_cast<size_t>(length)), mapper.getText(id));
  }
  FreeLibrary(tables);

  if (GetACP() == 1252) {
    EXPECT_EQ("Pr\xEAt", mapper.getText(7198));
    EXPECT_NE(std::string::npos, mapper.getText(216).find("f\xFCr "));
  } else if (GetACP() == 936) {
    EXPECT_EQ("\xB4\xF2\xD3\xA1\xBB\xFA\xCC\xE1\xD0\xD1", mapper.getText(3008));
  }
}

}  // namespace

namespace {

// A program installed in a folder whose name has letters beyond ASCII, in
// the process code page (C:\Programme\Überwachung under 1252, a Chinese name
// under 936): the program's path comes in that code page, and the maps, the
// strings files and the forced-language file are all found from it.
TEST(ProcessCodePage, AProgramFolderWithNonAsciiLettersKeepsItsTranslations) {
  const std::wstring leaf =
      GetACP() == 936 ? L"\u76d1\u89c6\u7a0b\u5e8f" : L"Programme\\\u00dcberwachung";
  const std::string ansiLeaf = platform::wideToAnsi(leaf);
  if (platform::ansiToWide(ansiLeaf) != leaf) {
    GTEST_SKIP() << "code page " << GetACP() << " cannot spell the folder's name";
  }
  TempDir dir;
  const std::string folder = dir.folder(ansiLeaf);
  for (const char* file : {"qmx_Kestrel_DialogLangMap.xml", "qmx_Kestrel_ErrorLangMap.xml",
                           "de\\strings.xml", "fr\\strings.xml", "zh-CN\\strings.xml"}) {
    dir.copy(testProgramFolder() + "\\" + file, ansiLeaf + "\\" + file);
  }
  FakePlatform platform;
  platform.program = folder + "\\qmxMeadowMonitor.exe";
  platform.setAll(0x0407);
  {
    SCOPED_TRACE("the user's language");
    StringMapper mapper(platform);
    mapper.load(folder, "qmx_Kestrel_DialogLangMap.xml");
    EXPECT_EQ(0x0407u, mapper.currentLanguage().langId);
    EXPECT_EQ(folder + "\\de\\strings.xml", mapper.stringsPath());
    EXPECT_EQ("Bereit", mapper.getText(7198));
  }
  {
    SCOPED_TRACE("a forced language");
    dir.write(ansiLeaf + "\\forceLang.xml", "<forceLang><langId>0x0804</langId></forceLang>");
    StringMapper mapper(platform);
    mapper.load(folder, "qmx_Kestrel_ErrorLangMap.xml");
    EXPECT_EQ(0x0804u, mapper.currentLanguage().langId);
    EXPECT_EQ(folder + "\\zh-CN\\strings.xml", mapper.stringsPath());
    EXPECT_EQ(platform::wideToAnsi(L"\u5c31\u7eea"), mapper.getText(7198));
  }
}

// The running system's answers under the locale of the run choose the
// matching installed language.
TEST(ProcessCodePage, SystemSettingsChooseTheInstalledLanguage) {
  const UiLanguageSource& system = UiLanguageSource::system();
  const std::string program = system.programPath();
  EXPECT_NE(std::string::npos, program.find("i18n_tests.exe")) << program;

  const char* expected = std::getenv("MONITOR_EXPECTED_LOCALE");
  if (!expected) GTEST_SKIP() << "runs with a locale set";
  const std::string locale = expected;
  const uint16_t language = locale == "de_DE" ? 0x0407 : locale == "fr_FR" ? 0x040C : 0x0804;
  EXPECT_EQ(language, system.userDefaultUiLanguage());

  StringMapper mapper;
  mapper.load(testProgramFolder(), "qmx_Kestrel_DialogLangMap.xml");
  EXPECT_EQ(language, mapper.currentLanguage().langId);
  EXPECT_FALSE(mapper.getText(3008).empty());
}

}  // namespace
