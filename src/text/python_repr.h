#pragma once

#include <concepts>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "text/printable.h"

/// Python's repr() of the values that the debug report and the console messages show, as the
/// earlier collector printed them.
///
/// Texts: in single quotes, or in double quotes when the text holds a single quote and no
/// double quote; `\\`, the enclosing quote, \n, \r and \t escaped; other characters that are
/// not printable (text/printable.h) as \xNN below U+0100, \uNNNN, or \UNNNNNNNN, with lowercase
/// hex; printable non-ASCII characters as themselves. Invalid UTF-8 reads as U+FFFD per
/// maximal bad subsequence (text/utf8_decode.h), which is printable and so written as itself.
///
/// JSON values (replies of the storage server): the decoded value at every level, dict
/// `{'k': v}` in member order, list `[a, b]`, integers in decimal, floats as float_repr,
/// True, False, None. Integers beyond 64 bits differ: nlohmann decodes them as floats, where
/// Python keeps them exact (the storage server sends none).
/// Raises std::invalid_argument for nlohmann's binary and discarded values, which no
/// decoded JSON text holds.
namespace ixc {

void append_str_repr(std::string& out, std::string_view utf8);
std::string str_repr(std::string_view utf8);

void append_int_repr(std::string& out, std::int64_t value);
// A double or a bool here is a mistake: Python would show 1.0 or True, not an integer.
template <typename T>
requires std::floating_point<T> || std::same_as<T, bool>
void append_int_repr(std::string& out, T value) = delete;

void append_python_repr(std::string& out, const nlohmann::ordered_json& value);
std::string python_repr(const nlohmann::ordered_json& value);

}  // namespace ixc
