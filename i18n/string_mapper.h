// String ids to texts in the user's language, from the language data
// installed beside the program.
//
// A language map (an XML file) lists the languages the product is translated
// into and where each one's texts are: an XML strings file or the string
// tables of a resource module. load() names the map; the first question to
// the mapper (getText() and the other public readers) reads it, chooses the
// user's language and loads its texts; getText() then answers by string id.
// Every failure leaves the mapper without texts, so that callers fall back to
// the program's own string tables.
//
// Why the reading waits for the first question: the first XML document a
// process loads brings in the XML DOM with the libraries it binds files
// through (urlmon, wininet, shell32), and that binding makes a window, which
// under Wine starts the display driver and, when none runs, the desktop
// process; parsing a map and its strings file takes a few milliseconds. The
// monitor makes its mappers before it opens the status stream, and in most
// print jobs shows no dialog at all, so none of this stays on its way to
// reading the printer's status.
//
//   StringMapper mapper;
//   mapper.load(programDirectory, "qmx_Kestrel_DialogLangMap.xml");
//   std::string caption = mapper.getText(3008);  // empty when unknown
//
// Created, loaded and read on one thread; takes no lock.
#ifndef I18N_STRING_MAPPER_H_
#define I18N_STRING_MAPPER_H_

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "i18n/ui_language.h"

// One language of a language map.
struct LanguageEntry {
  uint32_t langId = 0;         // full language identifier, e.g. 1033
  uint32_t primaryLangId = 0;  // primary language number, e.g. 9; 0 marks the default
  bool rtl = false;            // right-to-left; kept, not consulted
  std::string name;            // a directory name for the language's files
  std::string abbr;            // a second directory name for them
  std::string resource;        // file name of the strings source; empty means "strings.xml"
  std::string resourceType;    // "resourcefile" for a resource module, else an XML file

  void clear() { *this = LanguageEntry(); }
};

class StringMapper {
 public:
  // The largest language map, strings file or forced-language file that is
  // read; a larger one is refused (traced) like one that is not XML. The
  // installed files hold some 15 KB each, and the XML DOM needs seconds for
  // a file of a few megabytes (minutes for 50 MB under Wine), during which
  // the program would read no status and show nothing.
  static constexpr std::uint64_t kMaxLanguageFileBytes = 1024 * 1024;

  // Asks the running system about the user's languages.
  StringMapper();
  // Asks the given source instead; it must outlive the mapper.
  explicit StringMapper(const UiLanguageSource& platform);
  ~StringMapper();
  StringMapper(const StringMapper&) = delete;
  StringMapper& operator=(const StringMapper&) = delete;

  // Names the language map (an empty name means "langmap.xml") in the
  // directory; the first question to the mapper reads it, chooses the
  // language and loads its texts, as loadNow() does. Never throws; any
  // failure leaves the mapper without texts. The directory, like every path
  // the mapper uses, is in the ANSI code page, as GetModuleFileNameA gives
  // the program's path. A map or strings file whose document type declares
  // entities, or that is larger than kMaxLanguageFileBytes, is refused.
  void load(const std::string& directory, const std::string& mapFileName);
  // Reads the language map now, chooses the language and loads its texts.
  void loadNow(const std::string& directory, const std::string& mapFileName);

  // The text for the id in the chosen language, in the process ANSI code page
  // whichever source it came from; empty when there is none.
  std::string getText(int32_t id) const;

  // first + "\" + second, with one separator between them and every slash made
  // a backslash; empty when first is empty.
  static std::string joinPath(const std::string& first, const std::string& second);

  const LanguageEntry& currentLanguage() const {
    settle();
    return current_;
  }
  const std::vector<LanguageEntry>& languages() const {
    settle();
    return languages_;
  }
  // The XML strings file last loaded; empty when none.
  const std::string& stringsPath() const {
    settle();
    return stringsPath_;
  }
  bool hasResourceModule() const {
    settle();
    return module_ != nullptr;
  }

 protected:
  // The steps of load(), each usable on its own.
  bool readLanguageMap(const std::string& directory, const std::string& mapFileName);
  uint16_t chooseUiLanguage() const;
  uint16_t readForcedLanguage() const;
  void selectLanguage(uint16_t id);
  uint16_t primaryForLangId(uint16_t id) const;
  std::string findStringsFile(const std::string& directory, const LanguageEntry& language) const;
  void loadXmlStrings(const std::string& path);
  void loadResourceModule(const std::string& path);

 private:
  void freeResourceModule();
  // Does the reading load() put off, once.
  void settle() const;

  // What load() named and has not been read yet.
  bool pending_ = false;
  std::string pendingDirectory_;
  std::string pendingMapFileName_;

  const UiLanguageSource* platform_;  // not owned
  LanguageEntry current_;
  std::vector<LanguageEntry> languages_;
  std::map<std::string, std::string> strings_;  // id in decimal -> ANSI text
  std::string stringsPath_;
  HMODULE module_ = nullptr;  // owned; loaded as a data file
};

#endif  // I18N_STRING_MAPPER_H_
