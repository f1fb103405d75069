#pragma once
// Scratch directories and whole-file access for the language file tests.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

class TTempDir {
 public:
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kvx-lang-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = pattern + "/";
  }
  ~TTempDir() {
    std::error_code error;
    std::filesystem::remove_all(FPath, error);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  // The directory with its trailing '/'.
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& Name) const { return FPath + Name; }

 private:
  std::string FPath;
};

inline void WriteFile(const std::string& Path, const std::string& Bytes) {
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  out << Bytes;
  if (!out) throw std::runtime_error("cannot write " + Path);
}

inline std::string ReadFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + Path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A language file around the elements given for the window "fMain".
inline std::string MainFormFile(const std::string& Elements,
                                const std::string& Root = "<language name=\"t\" id=\"$1\">") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + Root + "<forms><fMain>" + Elements +
         "</fMain></forms></language>";
}
