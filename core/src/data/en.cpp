// (placeholder rows until the real table is written)
#include "data/tables.hpp"

namespace tarnwhisk::tables {
namespace {
constexpr Category S = Category::Strong;
constexpr WordRow kBase[] = {
    {"enplaceholder", S, 2, false},
};
}  // namespace

std::span<const WordRow> en_base() noexcept { return kBase; }

}  // namespace tarnwhisk::tables

namespace tarnwhisk::tables {
namespace {
constexpr WordRow kOverrides[] = {
    {"damn", Category::Mild, 1, false},
};
}  // namespace

std::span<const WordRow> en_overrides() noexcept { return kOverrides; }

}  // namespace tarnwhisk::tables
