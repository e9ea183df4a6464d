#include "questdb_standin/text_index.h"

#include <functional>
#include <utility>

namespace ixc::standin {
namespace {

std::size_t first_slot(const TextIndex& index, std::string_view text) {
  return std::hash<std::string_view>{}(text) & (index.slots.size() - 1);
}

void place(TextIndex& index, TextIndex::Slot slot) {
  std::size_t at = first_slot(index, slot.text);
  while (index.slots[at].number >= 0) at = (at + 1) & (index.slots.size() - 1);
  index.slots[at] = slot;
}

// Kept at most half full, so that a search ends soon at a free slot.
void grow(TextIndex& index) {
  std::vector<TextIndex::Slot> old = std::exchange(
      index.slots, std::vector<TextIndex::Slot>(index.slots.empty() ? 64 : 2 * index.slots.size()));
  for (const TextIndex::Slot& slot : old) {
    if (slot.number >= 0) place(index, slot);
  }
}

}  // namespace

std::optional<std::int64_t> find_text(const TextIndex& index, std::string_view text) {
  if (index.slots.empty()) return std::nullopt;
  for (std::size_t at = first_slot(index, text);; at = (at + 1) & (index.slots.size() - 1)) {
    const TextIndex::Slot& slot = index.slots[at];
    if (slot.number < 0) return std::nullopt;
    if (slot.text == text) return slot.number;
  }
}

void add_text(TextIndex& index, std::string_view text, std::int64_t number) {
  if (2 * (index.used + 1) > index.slots.size()) grow(index);
  place(index, {text, number});
  ++index.used;
}

}  // namespace ixc::standin
