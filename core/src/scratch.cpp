#include "scratch.hpp"

#include "tarnwhisk/config.hpp"

namespace tarnwhisk {

namespace {

// Texts up to this many bytes use the small buffers below; longer ones the large ones.
constexpr std::size_t kShortText = 4 * 1024;

}  // namespace

Scratch& Scratch::for_text(std::size_t bytes) {
  if (bytes <= kShortText) {
    // Short texts: up to 16 KiB of normalised text and 4096 offsets (64 KiB).
    thread_local Scratch small{{}, 16 * 1024, 4 * 1024};
    return small;
  }
  // Texts up to a piece long: room for two default pieces (~2 MiB of offsets), since the
  // buffers grow by doubling.
  constexpr std::size_t kPiece = TarnwhiskBuilder::kDefaultPieceBytes;
  thread_local Scratch large{{}, 4 * kPiece, 2 * kPiece};
  return large;
}

}  // namespace tarnwhisk
