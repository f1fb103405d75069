#pragma once
// Where the program lives and where the freedesktop base directories put its files.
// Every path the program uses is derived here.
#include <string>
#include <vector>

// The directory of the running program's file, with its trailing '/'; "./" when the
// system does not tell.
std::string GetExeDir();

// The user's base directories without a trailing '/': the variable when it holds an
// absolute path (relative ones are invalid and ignored), else the default below $HOME.
std::string XdgStateHome();   // $XDG_STATE_HOME, else ~/.local/state
std::string XdgDataHome();    // $XDG_DATA_HOME, else ~/.local/share
std::string XdgConfigHome();  // $XDG_CONFIG_HOME, else ~/.config
// $XDG_DATA_DIRS split at ':', absolute entries only, in order; /usr/local/share and
// /usr/share when unset or empty.
std::vector<std::string> XdgDataDirs();
// $XDG_RUNTIME_DIR when absolute, else empty: it has no default.
std::string XdgRuntimeDir();

// The subfolder of this program in a base directory: base + "/kvxsetup".
inline constexpr const char* kProgramDirName = "kvxsetup";
std::string ProgramSubdir(const std::string& base);

// The file that remembers the operator's language between runs:
// $XDG_CONFIG_HOME/kvxsetup/language.
std::string LanguageChoiceFile();

// Where an installed program keeps its shared files: <program directory>/../share/kvxsetup,
// so an installation under any prefix (or unpacked anywhere) finds its own.
std::string ProgramDataDir();

// Creates Path, and the missing folders above it, with mode 0700 when it does not exist.
// True when Path is then a directory (not a link) of the user's own that nobody else may
// write into; a folder that another user could have prepared is refused, never repaired.
bool MakePrivateDir(const std::string& Path);
// The same test without making anything.
bool IsPrivateDir(const std::string& Path);
