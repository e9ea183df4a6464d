#pragma once
/// Table and column names as QuestDB treats them: compared without regard to ASCII case, and
/// refused when they hold characters that its storage or SQL cannot carry. Both endpoints use
/// these rules, so a name that CREATE TABLE refuses is refused on /write too.
#include <string>
#include <string_view>

namespace ixc::standin {

bool same_name(std::string_view a, std::string_view b);
std::string folded_name(std::string_view name);

/// Refuses the empty name, control bytes, ? , ' " \ / : ) ( + * % ~, a leading or trailing
/// dot and two dots in a row.
bool valid_table_name(std::string_view name);

/// Refuses what valid_table_name refuses, and also any dot or hyphen.
bool valid_column_name(std::string_view name);

}  // namespace ixc::standin
