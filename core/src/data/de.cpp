// (placeholder rows until the real table is written)
#include "data/tables.hpp"

namespace tarnwhisk::tables {
namespace {
constexpr Category S = Category::Strong;
constexpr WordRow kBase[] = {
    {"deplaceholder", S, 2, false},
};
}  // namespace

std::span<const WordRow> de_base() noexcept { return kBase; }

}  // namespace tarnwhisk::tables
