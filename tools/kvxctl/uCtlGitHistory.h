#pragma once
// The history of a directory of backups in git, through the git program, so that the
// repository stays one plain git works with.
#include <string>
#include <vector>

class TGitHistory {
 public:
  explicit TGitHistory(std::string Dir) : FDir(std::move(Dir)) {}

  // Whether the directory is inside a git work tree. Raises TCtlError(ceUsage) with git's own
  // words when it is in one that git refuses (another user's repository, a broken one) or git
  // cannot be started: its history would be lost without a word.
  bool Tracked() const;
  // Commits Files (names in the directory) with Message; no commit when none of them changed.
  // Raises TCtlError(ceUsage) with git's own words when git fails.
  void Commit(const std::vector<std::string>& Files, const std::string& Message) const;

 private:
  std::string FDir;
};
