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
// Why the reading is kept off the way to the status stream: the first XML
// document a process loads brings in the XML DOM with the libraries it binds
// files through (urlmon, wininet, shell32), and that binding makes a window,
// which under Wine starts the display driver and, when none runs, the
// desktop process (60 to 110 ms here); parsing a map and its strings file
// takes a few milliseconds more. loadInBackground() has a worker thread do
// all of it while the program opens its status stream and waits for the
// first record, so that the first alert of a job does not pay for it;
// load() alone puts it off until the first question.
//
//   StringMapper mapper;
//   mapper.load(programDirectory, "qmx_Kestrel_DialogLangMap.xml");
//   std::string caption = mapper.getText(3008);  // empty when unknown
//
// Threads: a mapper is created, loaded and read on one thread and takes no
// lock. A background reading fills mappers of the worker's own; the mapper
// takes their contents over at its first question, once the worker has
// signalled that it is done, so no text is read while the worker writes.
#ifndef I18N_STRING_MAPPER_H_
#define I18N_STRING_MAPPER_H_

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
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

  // One mapper of a background reading and the map it reads.
  struct BackgroundLoad {
    StringMapper* mapper;
    std::string directory;
    std::string mapFileName;
  };
  // The longest the first question waits for the worker; then the asking
  // thread reads the data itself, as after load(). About what that reading
  // costs the first alert under Wine, so that a worker that hangs delays
  // the alert by no more than the reading did before there was a worker.
  static constexpr std::uint32_t kBackgroundWaitMs = 100;
  // Names each mapper's map as load() does and starts one worker thread
  // that reads them all, in order, with COM initialised on that thread. The
  // first question to each mapper waits for the worker at most `waitMs`
  // (counted once for all of them, from the first question to any) and
  // then takes over what the worker read; after that time, or when the
  // worker could not start, the mapper reads on the asking thread instead
  // (traced) and whatever the worker reads later is dropped. The mappers
  // must not be loaded or read meanwhile on another thread.
  static void loadInBackground(std::initializer_list<BackgroundLoad> loads,
                               std::uint32_t waitMs = kBackgroundWaitMs);

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
  // What the worker of loadInBackground() shares with its mappers; defined
  // in the .cpp.
  struct BackgroundRead;
  static DWORD WINAPI runBackgroundRead(LPVOID read);

  void freeResourceModule();
  // Does the reading load() put off, once.
  void settle() const;
  // Takes over the other mapper's language, texts and module.
  void adopt(StringMapper&& other);

  // What load() named and has not been read yet.
  bool pending_ = false;
  std::string pendingDirectory_;
  std::string pendingMapFileName_;
  // The worker reading this mapper's data, and which of its mappers is
  // this one's; null when the data is read on the asking thread.
  std::shared_ptr<BackgroundRead> background_;
  std::size_t backgroundIndex_ = 0;

  const UiLanguageSource* platform_;  // not owned
  LanguageEntry current_;
  std::vector<LanguageEntry> languages_;
  std::map<std::string, std::string> strings_;  // id in decimal -> ANSI text
  std::string stringsPath_;
  HMODULE module_ = nullptr;  // owned; loaded as a data file
};

#endif  // I18N_STRING_MAPPER_H_
