// Where the program's own files lie: beside the executable in a build folder, in the private
// library and data folders of an installed tree otherwise. Both are found from the executable
// itself, never from a search path or the working folder.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// The folder of the running program, from /proc/self/exe; empty when that cannot be read.
std::string executableDir();

// A folder code may be taken from: a directory of root's or this user's that neither its
// group nor others can write to, below folders likewise (a shared one with the sticky bit, as
// /tmp, may lie above), so nobody else can put a file there or swap the folder. The reason
// goes to why when it is not.
bool trustedFolder(const std::string& folder, std::string* why = nullptr);

// `name` beside the executable when it is there in a trusted folder; else the same name in
// `installedFolder` (relative to the executable's folder, or absolute).
std::string ownFile(const std::string& exeDir, std::string_view installedFolder,
                    std::string_view name);

// A library of ours (installed in the private library folder) for the running executable;
// empty when the folder it would come from is not trusted or the program's folder is unknown.
std::string privateLibrary(std::string_view name);
// A data file of ours (installed in the data folder) for the running executable.
std::string dataFile(std::string_view name);

// Code named from outside (an environment variable that sudo -E may pass to root) is loaded
// only from an absolute path to a regular file that root or this user owns and that neither
// its group nor others can write, in a folder likewise, below folders that only root or this
// user can change (a shared one with the sticky bit, as /tmp, may lie above). Returns the
// path to load, links resolved so that nobody can turn them elsewhere after the check; empty
// with the reason in why otherwise. A file that is missing is no danger where nobody else can
// create it: its path is returned, and loading it fails.
std::string trustedCodeFile(const std::string& path, std::string& why);

} // namespace corvane
