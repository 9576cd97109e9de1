// A folder of its own in the temporary folder, for tests that need files on
// disk (language maps, strings files, copies of the program); removed with
// everything written into it.
#ifndef PLATFORM_TEST_SUPPORT_TEMP_DIR_H_
#define PLATFORM_TEST_SUPPORT_TEMP_DIR_H_

#include <string>
#include <vector>

namespace testsupport {

class TempDir {
 public:
  // Makes the folder; a folder the system refuses fails the test.
  TempDir();
  // Removes what was written, copied or made in it, then the folder.
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder's full path, without a trailing backslash.
  const std::string& path() const { return path_; }
  // Writes the file at `relative` (folders separated by '\', made as needed)
  // with exactly these bytes and answers its full path. A file that is not
  // there afterwards with all its bytes fails the test.
  std::string write(const std::string& relative, const std::string& content);
  // Copies the file `from` to `relative` and answers its full path; a copy
  // that fails fails the test.
  std::string copy(const std::string& from, const std::string& relative);
  // Makes the folder `relative` and answers its full path.
  std::string folder(const std::string& relative);

 private:
  void makeFolders(const std::string& relative);

  std::string path_;
  std::vector<std::string> created_;  // files and folders, in the order made
};

}  // namespace testsupport

#endif  // PLATFORM_TEST_SUPPORT_TEMP_DIR_H_
