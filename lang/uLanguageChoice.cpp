#include "lang/uLanguageChoice.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "support/uFileUtils.h"
#include "support/uLogUtils.h"
#include "support/uPaths.h"

namespace {

// Far more than any file name; a larger memory is not ours.
constexpr std::size_t kLongestName = 255;

}  // namespace

std::string RememberedLanguage() {
  std::ifstream in(LanguageChoiceFile(), std::ios::binary);
  std::string name;
  if (!std::getline(in, name) || name.size() > kLongestName) return {};
  return name;
}

void RememberLanguage(const std::string& FileName) {
  const std::string file = LanguageChoiceFile();
  const std::string dir = std::filesystem::path(file).parent_path().string();
  const std::string name = std::filesystem::path(FileName).filename().string();
  const int error = MakePrivateDir(dir) ? WriteWholeFile(file, name + "\n") : EACCES;
  if (error != 0) DebugLog("Language not remembered in " + file + ": " + std::strerror(error));
}
