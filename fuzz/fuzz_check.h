#pragma once
/// What every target of this folder shares: a failed property aborts, so that libFuzzer keeps
/// the input and reports it; the text says which property failed and shows the value.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#define FUZZ_REQUIRE(condition, shown)                                                         \
  do {                                                                                         \
    if (!(condition)) {                                                                        \
      const auto& shown_ = (shown);                                                            \
      std::string_view text_(shown_);                                                          \
      std::fprintf(stderr, "property failed: %s\n  with: %.*s\n", #condition,                  \
                   static_cast<int>(text_.size() > 2000 ? 2000 : text_.size()), text_.data()); \
      std::abort();                                                                            \
    }                                                                                          \
  } while (false)
