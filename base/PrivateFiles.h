// Folders and files only their user may read: the program's data holds who sent whom what.
#pragma once

#include <string>
#include <system_error>

namespace qm {

// Creates `dir` and whichever of its parents are missing, each only for the user (0700);
// folders that exist keep their mode. On Windows the parents' permissions are inherited.
void MakePrivateFolders(const std::string& dir, std::error_code& ec);

// Creates `path` empty and only for the user (0600) when it is missing, so that a library
// that opens it afterwards keeps that mode. False with errno set when it can be made neither.
bool CreatePrivateFile(const std::string& path);

}  // namespace qm
