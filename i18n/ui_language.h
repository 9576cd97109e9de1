// The questions the language chooser asks the platform about the user's
// languages, behind an interface so that tests can answer them.
#ifndef I18N_UI_LANGUAGE_H_
#define I18N_UI_LANGUAGE_H_

#include <cstdint>
#include <string>

class UiLanguageSource {
 public:
  virtual ~UiLanguageSource() = default;

  // The four language ids of the user and the system.
  virtual uint16_t userDefaultUiLanguage() const = 0;
  virtual uint16_t systemDefaultUiLanguage() const = 0;
  virtual uint16_t userDefaultLangId() const = 0;
  virtual uint16_t systemDefaultLangId() const = 0;

  // The user's preferred UI languages as the platform lists them: language
  // ids in hexadecimal, each ended by a null character. False when the
  // platform cannot tell (no such service, the call failed, or it reported an
  // empty list); *list is then left alone.
  virtual bool preferredUiLanguages(std::wstring* list) const = 0;

  // The path of the program file, in the ANSI code page; empty when unknown.
  virtual std::string programPath() const = 0;

  // The running system's answers. The object lives as long as the process.
  static const UiLanguageSource& system();
};

#endif  // I18N_UI_LANGUAGE_H_
