#pragma once
/// An index from texts to numbers (a symbol's text to its index, an encoded upsert key to its
/// row), with open addressing in one flat array: emptying it frees one block, however many
/// entries it held. The texts are views that the caller keeps alive.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace ixc::standin {

struct TextIndex {
  struct Slot {
    std::string_view text;
    std::int64_t number = -1;  // -1: free
  };
  std::vector<Slot> slots;
  std::size_t used = 0;
};

std::optional<std::int64_t> find_text(const TextIndex& index, std::string_view text);

/// `number` must not be negative, and `text` not in the index yet.
void add_text(TextIndex& index, std::string_view text, std::int64_t number);

}  // namespace ixc::standin
