#include "i18n/string_mapper.h"

#include <objbase.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "platform/text.h"
#include "xml/ms_xml_node.h"

namespace {

using Document = std::unique_ptr<ostra::IXmlNode>;

constexpr char kDefaultMapFile[] = "langmap.xml";
constexpr char kDefaultStringsFile[] = "strings.xml";
constexpr char kResourceModuleType[] = "resourcefile";
constexpr int kResourceTextBuffer = 4096;

void trace(const std::string& text) {
  OutputDebugStringA(("[StringMapper] " + text + "\n").c_str());
}

// The path names an existing file that is not a directory. Paths are in the
// ANSI code page from end to end: the program's own path comes from
// GetModuleFileNameA, and the loaders (the XML DOM, LoadLibraryExA) read
// them so.
bool isRegularFile(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The document in the file, or null (traced) when it cannot be loaded as XML
// or is larger than a language file may be.
Document openDocument(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA file{};
  if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &file)) {
    const std::uint64_t size =
        (static_cast<std::uint64_t>(file.nFileSizeHigh) << 32) | file.nFileSizeLow;
    if (size > StringMapper::kMaxLanguageFileBytes) {
      trace(path + ": refused, " + std::to_string(size) + " bytes are more than a language file " +
            "may have");
      return nullptr;
    }
  }
  try {
    return Document(ostra::MsXmlNode::FromFile(path));
  } catch (const std::exception& e) {
    trace(path + ": " + e.what());
  }
  return nullptr;
}

// Every element of that name below the context node, in document order.
ostra::XmlNodeList elementsBelow(ostra::IXmlNode* context, const char* name) {
  return context->selectNodes((std::string(".//") + name).c_str());
}

// The text of the first element of that name below the context node; empty
// when there is none.
std::string firstText(ostra::IXmlNode* context, const char* name) {
  ostra::XmlNodeList found = elementsBelow(context, name);
  if (found->empty()) return std::string();
  std::string text;
  return (*found)[0]->getText(&text) ? text : std::string();
}

// Decimal, 0x-prefixed hexadecimal or 0-prefixed octal, as strtoul reads them
// with base 0 where unsigned long has 32 bits.
uint32_t toNumber(const std::string& text) {
  return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 0));
}

// The leading hexadecimal digits of the text, in their low 16 bits.
uint16_t leadingHex(const std::wstring& text) {
  uint32_t value = 0;
  for (wchar_t c : text) {
    int digit;
    if (c >= L'0' && c <= L'9') {
      digit = c - L'0';
    } else if (c >= L'a' && c <= L'f') {
      digit = c - L'a' + 10;
    } else if (c >= L'A' && c <= L'F') {
      digit = c - L'A' + 10;
    } else {
      break;
    }
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  return static_cast<uint16_t>(value);
}

}  // namespace

// What a worker of loadInBackground() and its mappers share. The worker
// writes only `items[i].result` and then sets `done`; the asking thread reads
// them only after it has seen `done` set, and alone decides, once, whether
// it waits for them (`decided`, `usable`).
struct StringMapper::BackgroundRead {
  struct Item {
    std::string directory;
    std::string mapFileName;
    const UiLanguageSource* platform;      // not owned; outlives the worker
    std::unique_ptr<StringMapper> result;  // the worker's reading
  };

  explicit BackgroundRead(std::uint32_t wait)
      : waitMs(wait), done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~BackgroundRead() {
    if (done != nullptr) CloseHandle(done);
  }
  BackgroundRead(const BackgroundRead&) = delete;
  BackgroundRead& operator=(const BackgroundRead&) = delete;

  // Whether the worker's readings may be taken over: waits for it at most
  // waitMs, the first time it is asked.
  bool ready() {
    if (!decided) {
      decided = true;
      usable = done != nullptr && WaitForSingleObject(done, waitMs) == WAIT_OBJECT_0;
      if (!usable) {
        trace("the language data worker did not finish within " + std::to_string(waitMs) +
              " ms: reading on the asking thread");
      }
    }
    return usable;
  }

  const std::uint32_t waitMs;
  std::vector<Item> items;
  HANDLE done;  // owned; manual-reset, set by the worker when it has finished
  bool decided = false;
  bool usable = false;
};

DWORD WINAPI StringMapper::runBackgroundRead(LPVOID parameter) {
  // The thread's own reference: the mappers may be gone before it ends.
  const std::unique_ptr<std::shared_ptr<BackgroundRead>> owner(
      static_cast<std::shared_ptr<BackgroundRead>*>(parameter));
  BackgroundRead& read = **owner;
  // The XML DOM is a COM class: this thread joins the multithreaded
  // apartment for as long as it uses it.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  for (BackgroundRead::Item& item : read.items) {
    try {
      auto mapper = std::make_unique<StringMapper>(*item.platform);
      mapper->loadNow(item.directory, item.mapFileName);
      item.result = std::move(mapper);
    } catch (...) {
      trace("the language data worker had no memory for " + item.mapFileName);
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  SetEvent(read.done);
  return 0;
}

void StringMapper::loadInBackground(std::initializer_list<BackgroundLoad> loads,
                                    std::uint32_t waitMs) {
  std::shared_ptr<BackgroundRead> read;
  try {
    for (const BackgroundLoad& load : loads) load.mapper->load(load.directory, load.mapFileName);
    if (loads.size() == 0) return;
    read = std::make_shared<BackgroundRead>(waitMs);
    if (read->done == nullptr) {
      trace("no event for the language data worker: reading at the first question");
      return;
    }
    for (const BackgroundLoad& load : loads) {
      read->items.push_back({load.directory, load.mapFileName, load.mapper->platform_, nullptr});
    }
  } catch (...) {
    trace("no memory for the language data worker: reading at the first question");
    return;
  }
  auto* reference = new (std::nothrow) std::shared_ptr<BackgroundRead>(read);
  HANDLE thread = reference != nullptr
                      ? CreateThread(nullptr, 0, runBackgroundRead, reference, 0, nullptr)
                      : nullptr;
  if (thread == nullptr) {
    delete reference;
    trace("the language data worker did not start: reading at the first question");
    return;
  }
  // Nobody joins the worker: it ends by itself, and with the process.
  CloseHandle(thread);
  std::size_t index = 0;
  for (const BackgroundLoad& load : loads) {
    load.mapper->background_ = read;
    load.mapper->backgroundIndex_ = index++;
  }
}

StringMapper::StringMapper() : StringMapper(UiLanguageSource::system()) {}

StringMapper::StringMapper(const UiLanguageSource& platform) : platform_(&platform) {}

StringMapper::~StringMapper() {
  freeResourceModule();
}

void StringMapper::load(const std::string& directory, const std::string& mapFileName) {
  background_.reset();
  try {
    pendingDirectory_ = directory;
    pendingMapFileName_ = mapFileName;
    pending_ = true;
  } catch (...) {
    // No memory for two paths: read at once, as far as that goes.
    loadNow(directory, mapFileName);
  }
}

void StringMapper::settle() const {
  if (!pending_) return;
  // load() is not callable on a const mapper, so one with a reading pending
  // is not a const object.
  auto* self = const_cast<StringMapper*>(this);
  self->pending_ = false;
  if (const std::shared_ptr<BackgroundRead> read = std::move(self->background_)) {
    BackgroundRead::Item& item = read->items[backgroundIndex_];
    if (read->ready() && item.result) {
      self->adopt(std::move(*item.result));
      self->pendingDirectory_.clear();
      self->pendingMapFileName_.clear();
      return;
    }
  }
  const std::string directory = std::move(self->pendingDirectory_);
  const std::string mapFileName = std::move(self->pendingMapFileName_);
  self->loadNow(directory, mapFileName);
}

void StringMapper::adopt(StringMapper&& other) {
  current_ = std::move(other.current_);
  languages_ = std::move(other.languages_);
  strings_ = std::move(other.strings_);
  stringsPath_ = std::move(other.stringsPath_);
  freeResourceModule();
  module_ = other.module_;
  other.module_ = nullptr;
}

void StringMapper::loadNow(const std::string& directory, const std::string& mapFileName) {
  pending_ = false;
  background_.reset();
  try {
    if (!readLanguageMap(directory, mapFileName)) {
      trace("no language map in " + directory + " named " + mapFileName);
      return;
    }
    selectLanguage(chooseUiLanguage());
    const std::string path = findStringsFile(directory, current_);
    if (current_.resourceType == kResourceModuleType) {
      loadResourceModule(path);
    } else {
      loadXmlStrings(path);
    }
  } catch (const std::exception& e) {
    trace(std::string("load failed: ") + e.what());
    strings_.clear();
    freeResourceModule();
  } catch (...) {
    trace("load failed");
    strings_.clear();
    freeResourceModule();
  }
}

std::string StringMapper::getText(int32_t id) const {
  settle();
  if (module_) {
    char buffer[kResourceTextBuffer];
    const int length = LoadStringA(module_, static_cast<UINT>(id), buffer, kResourceTextBuffer);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
  }
  const auto found = strings_.find(std::to_string(id));
  return found == strings_.end() ? std::string() : found->second;
}

std::string StringMapper::joinPath(const std::string& first, const std::string& second) {
  if (first.empty()) return std::string();
  std::string path = first;
  const char last = path.back();
  if (last != '\\' && last != '/') path += '\\';
  if (!second.empty() && (second.front() == '\\' || second.front() == '/')) {
    path.append(second, 1, std::string::npos);
  } else {
    path += second;
  }
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

bool StringMapper::readLanguageMap(const std::string& directory, const std::string& mapFileName) {
  const std::string path =
      joinPath(directory, mapFileName.empty() ? std::string(kDefaultMapFile) : mapFileName);
  if (!isRegularFile(path)) return false;
  Document document = openDocument(path);
  if (!document) return false;
  ostra::XmlNodeList lists = elementsBelow(document.get(), "languages");
  if (lists->empty()) return false;

  // One working entry for the whole map: a language that leaves a field out
  // keeps the value the previous language gave it.
  LanguageEntry working;
  ostra::XmlNodeList items = elementsBelow((*lists)[0].get(), "language");
  for (const ostra::XmlNodePtr& item : *items) {
    bool found = false;
    auto field = [&](const char* name) {
      std::string text = firstText(item.get(), name);
      if (!text.empty()) found = true;
      return text;
    };
    if (std::string text = field("langId"); !text.empty()) working.langId = toNumber(text);
    if (std::string text = field("primaryLangId"); !text.empty()) {
      working.primaryLangId = toNumber(text);
    }
    if (std::string text = field("name"); !text.empty()) working.name = std::move(text);
    if (std::string text = field("abbr"); !text.empty()) working.abbr = std::move(text);
    if (std::string text = field("rtl"); !text.empty()) working.rtl = text == "true";
    if (std::string text = field("resource"); !text.empty()) working.resource = std::move(text);
    if (std::string text = field("resourceType"); !text.empty()) {
      working.resourceType = std::move(text);
    }
    if (found) languages_.push_back(working);
  }
  selectLanguage(0);
  return true;
}

uint16_t StringMapper::chooseUiLanguage() const {
  if (const uint16_t forced = readForcedLanguage()) return forced;

  std::wstring preferred;
  if (platform_->preferredUiLanguages(&preferred)) {
    if (const uint16_t first = leadingHex(preferred)) return first;
  }

  const uint16_t u = platform_->userDefaultUiLanguage();
  const uint16_t s = platform_->systemDefaultUiLanguage();
  const uint16_t ul = platform_->userDefaultLangId();
  const uint16_t sl = platform_->systemDefaultLangId();
  auto anyIs = [&](uint16_t id) { return u == id || s == id || ul == id || sl == id; };
  if (s == ul && s == sl && u != s) return u;
  // Languages whose user and system settings are often mixed up; any mention
  // of them wins.
  for (uint16_t id : {0x0424, 0x041A, 0x0421}) {  // Slovenian, Croatian, Indonesian
    if (anyIs(id)) return id;
  }
  if (u == ul && u == sl) return primaryForLangId(u);
  return primaryForLangId(s);
}

uint16_t StringMapper::readForcedLanguage() const {
  std::string path = platform_->programPath();
  const size_t slash = path.find_last_of("\\/");
  // Without the program's folder (its path unknown or cut at the limit) the
  // file would be looked for in whatever the current folder is.
  if (slash == std::string::npos) return 0;
  path = path.substr(0, slash + 1) + "forceLang.xml";
  if (!isRegularFile(path)) return 0;
  Document document = openDocument(path);
  if (!document || elementsBelow(document.get(), "forceLang")->empty()) return 0;
  const std::string text = firstText(document.get(), "langId");
  return text.empty() ? 0 : static_cast<uint16_t>(toNumber(text));
}

void StringMapper::selectLanguage(uint16_t id) {
  for (const LanguageEntry& entry : languages_) {
    if (entry.primaryLangId == id) {
      current_ = entry;
      return;
    }
  }
  const uint32_t primary = id & 0x3FFu;
  for (const LanguageEntry& entry : languages_) {
    if (entry.primaryLangId == primary) {
      current_ = entry;
      return;
    }
  }
}

uint16_t StringMapper::primaryForLangId(uint16_t id) const {
  for (const LanguageEntry& entry : languages_) {
    if (entry.langId == id) return static_cast<uint16_t>(entry.primaryLangId);
  }
  return 0;
}

std::string StringMapper::findStringsFile(const std::string& directory,
                                          const LanguageEntry& language) const {
  const std::string file =
      language.resource.empty() ? std::string(kDefaultStringsFile) : language.resource;
  const std::string candidates[] = {
      joinPath(joinPath(directory, language.abbr), file),
      joinPath(joinPath(directory, language.name), file),
      joinPath(joinPath(directory, std::to_string(language.langId)), file),
      joinPath(joinPath(directory, std::to_string(language.primaryLangId)), file),
      joinPath(directory, file),
  };
  for (const std::string& candidate : candidates) {
    if (isRegularFile(candidate)) return candidate;
  }
  return std::string();
}

void StringMapper::loadXmlStrings(const std::string& path) {
  strings_.clear();
  stringsPath_.clear();
  if (!isRegularFile(path)) return;
  Document document = openDocument(path);
  if (!document) return;
  stringsPath_ = path;
  ostra::XmlNodeList lists = elementsBelow(document.get(), "strings");
  if (lists->empty()) return;

  ostra::XmlNodeList items = elementsBelow((*lists)[0].get(), "string");
  for (const ostra::XmlNodePtr& item : *items) {
    std::string id = firstText(item.get(), "id");
    if (id.empty()) continue;
    const std::string value = firstText(item.get(), "value");
    if (value.empty() || strings_.count(id)) continue;
    // The document's texts are UTF-8; dialogs show narrow texts in the
    // process code page, as the string tables give them.
    strings_.emplace(std::move(id), platform::wideToAnsi(platform::utf8ToWide(value)));
  }
}

void StringMapper::loadResourceModule(const std::string& path) {
  freeResourceModule();
  if (path.empty()) return;
  module_ = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module_) trace("cannot load " + path + " (error " + std::to_string(GetLastError()) + ")");
}

void StringMapper::freeResourceModule() {
  if (module_) FreeLibrary(module_);
  module_ = nullptr;
}
