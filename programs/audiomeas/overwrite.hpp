// Commands that write a set of files into a folder replace none that exists
// unless told to: all are checked before the first is written.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <system_error>

#include "status.hpp"

namespace audiomeas::cli {

inline constexpr const char* kForceFlag = "--force";
inline constexpr const char* kForceHelp = "replace files of the same names that exist already";

// Throws usageError naming the first of dir/names that exists (a dangling
// link counts: writing would follow it), unless force.
inline void refuseReplacing(const std::filesystem::path& dir, std::initializer_list<const char*> names,
                            bool force) {
  if (force) return;
  for (const char* name : names) {
    const std::filesystem::path file = dir / name;
    std::error_code ec;
    const std::filesystem::file_status st = std::filesystem::symlink_status(file, ec);
    if (!ec && st.type() != std::filesystem::file_type::not_found)
      throw host::usageError(file.string() + ": exists; give " + kForceFlag +
                             " to replace it (nothing was written)");
  }
}

}  // namespace audiomeas::cli
