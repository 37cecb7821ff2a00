// The whole pipeline in one pass, because normalisation runs on every call and
// dominates its cost. It is built from the stages' own per-character rules; only the
// two stages that look at neighbours (collapse, separators) are restated here, as
// streaming state. normalize_by_stages() is the definition; tests hold the two equal.
//
// Most text is ASCII prose, where every byte becomes one character with the identity
// entry (i, i + 1), and the 16 bytes of each entry are most of what is written. So:
// ASCII is taken 16 bytes at a time where the machine allows (blocks that collapse
// leaves alone; at level Basic long stretches of them go straight into the result);
// everything else goes first to small buffers that stay in the first-level cache and
// are appended to the result in bulk, so that the result is never zero-filled before
// it is written; characters of the BMP are looked up in one table of what the
// per-character stages make of them; and the result is sized by one byte and one entry
// per source byte until a character that grows (rare) calls for its exact bound.
//
// The parts: fused_tables (what the per-character stages make of each character),
// fused_writer.hpp (collapse and separators as streaming state), ascii_block.hpp and
// ascii_block_sse2.hpp (the ASCII kernels); here the loop over a piece that drives them.
#include "normalize/ascii_block.hpp"
#include "normalize/ascii_block_sse2.hpp"
#include "normalize/fused_writer.hpp"
#include "normalize/piece_normalizer.hpp"
#include "normalize/thorough.hpp"

namespace tarnwhisk {

namespace fused {
namespace {

template <bool kAggressive>
void Writer<kAggressive>::feed(std::string_view s, std::size_t base) {
  src_ = s;
  base_ = base;
  sized_ = bounded_ = false;
  const std::size_t n = s.size();
  for (std::size_t i = 0; i < n;) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) [[likely]] {
      i = push_ascii(i, n);
      continue;
    }
    const std::size_t len = utf8::char_len(s, i);
    const char32_t c = utf8::decode(s, i, len);  // U+FFFD for a stray byte
    const SourceRange e = entry(i, len);
    if (len != 1 && c < 0x10000 && kBmpResult[c] != 0) {
      room(1);
      push(kBmpResult[c], e, kBmpSymbol[c] ? kSymbolFirst | kSymbolLast : 0);
      i += len;
      continue;
    }
    room(kMaxFormLen);
    if (len == 1) grows_at(i);  // a stray byte becomes U+FFFD, three bytes
    if (!touched(c)) {
      push(c, e, 0);
    } else if (c >= 0x10000 || kBmp.has_form[c]) {
      if (c < 0x10000 && kBmp.removed[c]) {
        i += len;
        continue;
      }
      const nfkc::Form f = nfkc::form(c);
      if (f.len > len || f.bytes > len) grows_at(i);
      for (std::size_t j = 0; j < f.len; ++j) push(fold(f.chars[j]), e, symbol_flags(f.chars[j]));
    } else if (!kBmp.removed[c]) {
      push(fold(c), e, 0);
    }
    i += len;
  }
  finish();
}

}  // namespace
}  // namespace fused

struct PieceNormalizer::Impl {
  explicit Impl(NormalizationLevel level, NormalizedText& out)
      : level(level), out(out), basic(out), aggressive(out), thorough(out) {}
  NormalizationLevel level;
  NormalizedText& out;
  fused::Writer<false> basic;
  fused::Writer<true> aggressive;
  thorough::Writer thorough;
};

PieceNormalizer::PieceNormalizer(NormalizationLevel level, NormalizedText& out)
    : impl_(std::make_unique<Impl>(level, out)) {}
PieceNormalizer::~PieceNormalizer() = default;

void PieceNormalizer::feed(std::string_view piece, std::size_t base) {
  switch (impl_->level) {
    case NormalizationLevel::None: source_copy_append(piece, base, impl_->out); break;
    case NormalizationLevel::Basic: impl_->basic.feed(piece, base); break;
    case NormalizationLevel::Aggressive: impl_->aggressive.feed(piece, base); break;
    default: impl_->thorough.feed(piece, base); break;
  }
}

void PieceNormalizer::finish() {
  if (impl_->level == NormalizationLevel::Thorough) impl_->thorough.finish();
}

std::pair<std::size_t, std::size_t> PieceNormalizer::stable() const noexcept {
  switch (impl_->level) {
    case NormalizationLevel::None: return {impl_->out.offsets.size(), impl_->out.text.size()};
    case NormalizationLevel::Basic: return impl_->basic.stable();
    case NormalizationLevel::Aggressive: return impl_->aggressive.stable();
    default: return impl_->thorough.stable();
  }
}

void fused_pipeline_into(std::string_view text, bool aggressive, NormalizedText& out) {
  out.text.clear();
  out.offsets.clear();
  out.flags.clear();
  if (aggressive) {
    fused::Writer<true>(out).feed(text, 0);
  } else {
    fused::Writer<false>(out).feed(text, 0);
  }
}

}  // namespace tarnwhisk
