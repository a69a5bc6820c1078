// A controller module's files as the HTTP interface shows them: a folder's entries and a
// file's bytes, reached by a module path inside the module's root exactly as a host's service
// calls reach them (no way above the root, no symbolic link followed).
#pragma once

#include <cstdint>
#include <string>

#include "http/api_reply.h"

namespace racksim {

// The most of a file the interface gives in one reply.
inline constexpr uint64_t kMaxFileReply = 16u << 20;
// The most entries of one folder listed.
inline constexpr size_t kMaxFolderEntries = 10000;

// {"path": ..., "entries": [{"name", "folder", "size", "modified"}], "truncated"}: files and
// folders by name (symbolic links and other kinds left out, as a module's searches leave them),
// "modified" in seconds since 1970. Throws a Refusal: 400 for a path a module refuses, 403 for
// one through a link, 404 for a missing folder.
OrderedJson list_module_folder(const std::string& root, const std::string& path);

// The bytes of a file. Throws a Refusal as list_module_folder does, 404 also for a folder, and
// 413 for a file over kMaxFileReply.
std::string read_module_file(const std::string& root, const std::string& path);

}  // namespace racksim
