#pragma once
/// The made-up provider "Sertão Fibra" in Ceará: its branches, the cities it serves with their
/// districts, and the words that customer names and addresses are drawn from. Accents,
/// apostrophes (D'Ávila, Sant'Anna) and the odd character beyond the Basic Multilingual Plane
/// are there on purpose: the collector must carry them intact.
#include <span>
#include <string_view>

#include "erp_rows.h"

namespace demo {

std::span<const Branch> branches();
std::span<const City> cities();

struct NameWords {
  std::span<const std::string_view> given_male;
  std::span<const std::string_view> given_female;
  std::span<const std::string_view> surnames;
  std::span<const std::string_view> particles;    // surnames with theirs: "dos Santos" ...
  std::span<const std::string_view> businesses;   // "Mercearia", "Padaria" ...
  std::span<const std::string_view> trade_names;  // "São José", "do Zé" ...
  std::span<const std::string_view> legal_forms;  // " Ltda", " ME" ...
  std::span<const std::string_view> streets;
};

const NameWords& name_words();

/// Monthly plan prices in cents, for people and for companies.
std::span<const Cents> home_plans();
std::span<const Cents> business_plans();

}  // namespace demo
