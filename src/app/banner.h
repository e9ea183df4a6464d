#pragma once
/// The version banner of the "version" mode: the rights notice, then the program path with every
/// "./" replaced by a blank, two blanks and VERSION. Returns the run's exit status (0).
#include <string>
#include <string_view>

namespace ixc {

int get_version(std::string_view program_path);

/// Line 2 of the banner, for `program_path`.
std::string banner_path_line(std::string_view program_path);

}  // namespace ixc
