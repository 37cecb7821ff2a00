// The built-in tables, one source file per language.
#pragma once

#include <span>

#include "tarnwhisk/data.hpp"

namespace tarnwhisk::tables {

std::span<const WordRow> en_base() noexcept;
std::span<const WordRow> en_overrides() noexcept;
std::span<const WordRow> es_base() noexcept;
std::span<const WordRow> hi_base() noexcept;
std::span<const WordRow> fr_base() noexcept;
std::span<const WordRow> de_base() noexcept;

}  // namespace tarnwhisk::tables
