// The one-pass writer of the thorough level (the stages of thorough_stages.cpp in one
// pass over a source in pieces). It writes every character at once and takes back what
// a later character decides against: a run of separators between single letters once
// the chain has three of them (the letters after it are written again, flagged), and a
// repeated character, which merges into the one before. Places in the result are counted over everything written,
// so that the owner may erase stable characters from the front between pieces.
//
// Most text is ASCII prose, in which a letter inside a word needs only its lower case and
// a doubled letter the merge. Such text is taken 16 bytes at a time where the machine
// has SSE2, while no single letter waits for company; the rest goes one character at a
// time. Characters are staged in small buffers that stay in the first-level cache and
// appended to the result in bulk.
#include <algorithm>
#include <cstring>

#include "normalize/stages.hpp"
#include "normalize/thorough.hpp"
#include "normalize/thorough_detail.hpp"
#include "simd.hpp"
#include "utf8.hpp"

#if TARNWHISK_SSE2
#include <emmintrin.h>
#endif

namespace tarnwhisk::thorough {

// Merges the character just come into the last one, which becomes m.
void Writer::merge(char32_t m, std::uint8_t flags, std::size_t end) {
  if (m != last_) (o_ != obuf_ ? t_[-1] : out_.text.back()) = static_cast<char>(m);  // a code gives way to its letter
  last_ = m;
  last_entry().end = end;
  std::uint8_t& f = last_flags();
  const std::uint8_t more = (f & kDoubled) ? kStretched : 0;
  f = static_cast<std::uint8_t>(merged_flags(f, flags) | kDoubled | more);
}

// Writes c, or merges it into the last character when they are equal (or a code meets
// the letter of a stretched run). A symbol that would merge into a run ("helll!",
// "h3l1!") is held apart while it may be punctuation after the word (see settle()); a
// letter of a chain written again (kJoined) is a letter.
inline void Writer::append(char32_t c, std::uint8_t flags, SourceRange e) {
  if (pending_ && c != last_) [[unlikely]] settle(c, flags);
  bool hold = false;
  if (c == last_) {
    hold = (flags & (kSymbolFirst | kJoined)) == kSymbolFirst && !pending_ && trails(c);
    if (!hold) {
      // A letter alone and a code alone for it, then one of them again ("4@@"), are one
      // letter (merge_three()).
      if (doubles_into_three(c) && !(last_flags() & kDoubled) && three(c, flags, e.end)) [[unlikely]]
        return;
      merge(c, flags, e.end);
      return;
    }
  } else if (last_ < 0x80 && c < 0x80 && (is_upper(c) || is_upper(last_))) [[unlikely]] {
    // A code meets a letter or another code (two letters never merge without one).
    const Meet m = meet(c, flags, e.end);
    if (m == Meet::kMerged) return;
    hold = m == Meet::kHold;
  }
  if (c < 0x80) [[likely]] {
    *t_++ = static_cast<char>(c);
  } else {
    t_ = put_utf8(c, t_);
  }
  fbuf_[o_ - obuf_] = flags;
  *o_++ = e;
  last_ = c;
  pending_ = hold;
}

void Writer::flush() {
  const auto staged = static_cast<std::size_t>(o_ - obuf_);
  const auto staged_bytes = static_cast<std::size_t>(t_ - tbuf_);
  out_.text.append(tbuf_, staged_bytes);
  out_.offsets.insert(out_.offsets.end(), obuf_, o_);
  out_.flags.insert(out_.flags.end(), fbuf_, fbuf_ + staged);
  chars_ += staged;
  bytes_ += staged_bytes;
  t_ = tbuf_;
  o_ = obuf_;
}

void Writer::feed(std::string_view src, std::size_t base) {
  out_.text.reserve(out_.text.size() + src.size());
  out_.offsets.reserve(out_.offsets.size() + src.size());
  out_.flags.reserve(out_.flags.size() + src.size());
  const char* const s = src.data();
  const std::size_t n = src.size();
  for (std::size_t i = 0; i < n;) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
#if TARNWHISK_SSE2
      if (i + 16 <= n && _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i))) == 0)
        i = ascii_blocks(s, i, n, base);
#endif
      room(16);
      i = ascii_chars(s, i, std::min(n, i + 16), base);
      continue;
    }
    room(kMaxUnits);
    const std::size_t len = utf8::char_len(src, i);
    const char32_t c = utf8::decode(src, i, len);
    const SourceRange e{base + i, base + i + len};
    i += len;
    if (len != 1 && c < 0x10000) {
      const char16_t r = block(c).r[c & 0xFF];
      if (r == 1) continue;
      if (r == 2) {
        mark(e.end);
        continue;
      }
      if (r != 0) {
        put(r, 0, e);
        continue;
      }
    }
    Unit units[kMaxUnits];
    const std::size_t k = fold(c, units);
    if (k == 0 && is_mark(c)) mark(e.end);
    for (std::size_t j = 0; j < k; ++j) put(units[j].c, units[j].flags, e);
    if (k == 2 && ligature_pair(units[0].c, units[1].c)) [[unlikely]]
      ligature_run();
  }
  flush();
}

// The two letters of a ligature just written, right after the same two of the same
// ligature (two letters whose entries start together, which may be a run already):
// they merge into those, as a letter into a run
// of it (see collapse_stage()). Both letters before stay open in stable().
void Writer::ligature_run() {
  flush();
  const std::size_t n = out_.offsets.size();
  const std::string& t = out_.text;
  std::vector<SourceRange>& off = out_.offsets;
  std::vector<std::uint8_t>& f = out_.flags;
  const std::size_t b = t.size();
  // The e before is a ligature's, as written (nothing merged into it since: its entry
  // is as it was then, but for marks).
  const bool after_one = n >= 4 && ligature_e_ != kNone && ligature_e_ + 3 == chars_ && off[n - 3].end == ligature_end_ &&
                         t[b - 4] == t[b - 2] && t[b - 3] == t[b - 1] && off[n - 4].start == off[n - 3].start &&
                         off[n - 2].start == off[n - 1].start;
  ligature_e_ = chars_ - 1;
  ligature_end_ = off[n - 1].end;
  if (!after_one) return;
  const std::uint8_t more = (f[n - 4] & kDoubled) ? kStretched : 0;
  f[n - 4] = static_cast<std::uint8_t>(merged_flags(f[n - 4], f[n - 2]) | kDoubled | more);
  f[n - 3] = static_cast<std::uint8_t>(merged_flags(f[n - 3], f[n - 1]) | kDoubled | more);
  // (A mark after the e widened its entry only.)
  off[n - 4].end = off[n - 2].end;
  off[n - 3].end = off[n - 1].end;
  out_.text.resize(b - 2);
  off.resize(n - 2);
  f.resize(n - 2);
  chars_ -= 2;
  bytes_ -= 2;
  ligature_e_ = chars_ - 1;
}

// A letter inside a word, and what follows a word while no single letter waits for
// company, need nothing of the joining of single letters; the rest goes to unit().
inline void Writer::put(char32_t c, std::uint8_t flags, SourceRange e) {
  const bool letter = is_letter(c, flags);
  if ((letter ? token_len_ >= 2 : (token_len_ != 1 && !after_single_)) && c != '*' &&
      !(token_len_ == 0 && (flags & kSymbolFirst))) {
    if (!letter) token_len_ = 0;
    append(c, flags, e);
  } else {
    unit(c, flags, e.start, e.end);
  }
}

// src[i, stop) one character at a time, up to the first byte that is not ASCII; the
// staging buffers have room for them all. A letter inside a word, and what follows a
// word while no single letter waits for company, need nothing of the joining of single
// letters: they take the first branch, with the state in locals (a store of text may
// alias anything).
std::size_t Writer::ascii_chars(const char* src, std::size_t i, std::size_t stop, std::size_t base) {
  char* t = t_;
  SourceRange* o = o_;
  char32_t last = last_;
  std::size_t tok = token_len_;
  bool after_single = after_single_;
  for (; i < stop; ++i) {
    const auto b = static_cast<unsigned char>(src[i]);
    if (b >= 0x80) break;
    const Unit u = kAscii[b];
    const bool letter = is_letter(u.c, u.flags);
    const bool quiet = letter ? tok >= 2 : (tok != 1 && !after_single);
    if (quiet && u.c != last && !is_upper(u.c) && !is_upper(last) && u.c != '*' && !(tok == 0 && u.flags != 0)) [[likely]] {
      if (!letter) tok = 0;
      *t++ = static_cast<char>(u.c);
      fbuf_[o - obuf_] = u.flags;
      *o++ = {base + i, base + i + 1};
      last = u.c;
      continue;
    }
    t_ = t, o_ = o, last_ = last, token_len_ = tok, after_single_ = after_single;
    put(u.c, u.flags, {base + i, base + i + 1});
    t = t_, o = o_, last = last_, tok = token_len_, after_single = after_single_;
  }
  t_ = t, o_ = o, last_ = last, token_len_ = tok, after_single_ = after_single;
  return i;
}
// A mark belongs to the letter before it, whose entry takes it in: a hit that ends with
// the letter covers its marks ("s\u0301h\u0301i\u0301t\u0301" is masked whole). A mark
// after anything else stays outside.
void Writer::mark(std::size_t end) {
  if (last_ == kNoChar || !takes_marks(last_)) return;
  last_entry().end = end;
  if (ligature_e_ != kNone && ligature_e_ + 1 == chars_ + static_cast<std::size_t>(o_ - obuf_)) ligature_end_ = end;
  if (token_len_ == 1) (token_two_ ? token_second_ : token_first_).entry.end = end;  // written again if it joins
}

void Writer::finish() {
  symbol_token_ = false;
  if (token_len_ > 0) token_ends();
  chain_ends();
  // Symbols still held apart (a chain that ended may have held them again) are
  // punctuation at the end.
  if (pending_) {
    pending_ = false;
    punctuation();
  }
  flush();
}

void Writer::unit(char32_t c, std::uint8_t flags, std::size_t start, std::size_t end) {
  const SourceRange e{start, end};
  // Symbols held apart are decided before anything here keeps the character before a
  // run as it is (here()), as append() would decide them.
  bool held = false;
  if (pending_ && c != last_) {
    held = true;
    settle(c, flags);
  }
  const bool letter = is_letter(c, flags);
  if (!letter && symbol_token_ && token_len_ == 1 && symbol_letter(c, flags)) {
    // A symbol right after one that stood alone ("\u00a1$.h.i.t"): that one was a
    // single letter, and this one starts a token of its own.
    token_ends();
    token_len_ = 0;
    symbol_token_ = false;
  }
  if (letter && symbol_token_) {
    // The symbol before was punctuation before a word ("\u00a1bad"), not a letter: back to
    // what a character that is neither letter nor separator leaves.
    symbol_token_ = false;
    token_len_ = 0;
    gap_ = kNoMark;
    run_start_ = kNoMark;
    after_single_ = false;
    masked_tail_ = false;
    chain_ends();
  }
  if (letter || (token_len_ == 0 && symbol_letter(c, flags))) {
    if (token_len_ == 0) {
      symbol_token_ = !letter;
      // A token starts. The separators before it may go if it and the letter before them
      // are single letters; otherwise they stay.
      gap_ = after_single_ ? run_start_ : kNoMark;
      if (gap_.chars == kNone) {
        chain_ends();
      } else {
        gap_run_ = run_;
      }
      after_single_ = false;
      run_start_ = kNoMark;
      token_first_ = {c, e, flags};
      token_two_ = false;
      masked_tail_ = masked_ && last_ == '*';
    } else if (token_len_ == 1 && !token_two_ && e.start == token_first_.entry.start) {
      // The second letter of one character ("ß": ss, "œ": oe): still a single letter.
      token_second_ = {c, e, flags};
      token_two_ = true;
      append(c, flags, e);
      return;
    }
    if (++token_len_ == 2) {
      // Not a single letter: the chain before it ends, and the run before it stays.
      gap_ = kNoMark;
      chain_ends();
    }
    append(c, flags, e);
    return;
  }
  if (c == '*') {
    // Masks right after a word of two letters or more: the letter after them ends that
    // word ("co**e"), whatever follows.
    if (token_len_ > 0) {
      masked_ = token_len_ >= 2;
    } else if (last_ != '*') {
      masked_ = false;
    }
  }
  if (token_len_ > 0) {
    const std::size_t drops = drops_;
    token_ends();
    // (A chain that took back its runs took back the symbols just decided too.)
    if (drops_ != drops) held = false;
    token_len_ = 0;
    symbol_token_ = false;
  }
  if (is_separator(c)) {
    // Only a run after a single letter may go; only then is it kept track of.
    if (after_single_) {
      if (run_start_.chars == kNone) {
        run_start_ = here();
        if (held) {
          run_start_.before.c = 'I';  // as it was before the separator decided it
          run_start_.held = true;
        }
        run_.clear();
      }
      run_ += c;
    }
  } else {
    run_start_ = kNoMark;
    after_single_ = false;
    chain_ends();
  }
  append(c, flags, e);
}

// The token in progress ended after one letter or more.
void Writer::token_ends() {
  if (token_len_ != 1 || masked_tail_) {
    // A word, or the end of a masked one ("co**e a l" is no chain "e a l"): no chain
    // starts here.
    if (masked_tail_) chain_ends();
    masked_tail_ = false;
    after_single_ = false;
    return;
  }
  after_single_ = true;
  single_prev_ = single_last_;
  single_last_ = {token_first_, token_second_, token_two_};
  if (gap_.chars == kNone) {
    chain_ends();
    chain_ = 1;
    return;
  }
  // The chain goes on only over the same run of separators as before. Where another
  // run follows a chain of two, a new chain starts at its second letter ("a s-h-i-t"),
  // but for a run of blanks after another run ("o.f a b": see blank_run()).
  if (chain_ == 1) {
    chain_run_ = gap_run_;
  } else if (gap_run_ != chain_run_) {
    const bool two = chain_ == 2 && (!blank_run(gap_run_) || blank_run(chain_run_));
    chain_ends();
    chain_ = 1;
    if (two) {
      chain_ = 2;
      chain_run_ = gap_run_;
      gap_last_ = gap_;
    }
    gap_ = kNoMark;
    return;
  }
  ++chain_;
  gap_prev_ = gap_last_;
  gap_last_ = gap_;
  gap_ = kNoMark;
  if (chain_ == 3) {
    drop_runs(2);
  } else if (chain_ > 3) {
    drop_runs(1);
  }
}

// Takes back everything from the run before the chain's second-to-last single letter
// (count 2) or before its last (count 1), puts the letter before that run back as it
// was before the run (a run of "|" merges into a stretched i), and writes the single
// letters again as they came, flagged kJoined.
void Writer::drop_runs(std::size_t count) {
  flush();
  ++drops_;
  const Mark at = count == 2 ? gap_prev_ : gap_last_;
  const std::size_t keep_chars = index(at.chars), keep_bytes = byte_index(at.bytes);
  out_.text.resize(keep_bytes);
  out_.offsets.resize(keep_chars);
  out_.flags.resize(keep_chars);
  chars_ = at.chars;
  bytes_ = at.bytes;
  // The letter before the run (ASCII, one byte) is open: stable() leaves it to us.
  out_.text.back() = static_cast<char>(at.before.c);
  out_.offsets.back() = at.before.entry;
  out_.flags.back() = at.before.flags;
  last_ = at.before.c;
  // Symbols held apart before the run are held again: what follows the run's letters
  // decides them. Those after it were the chain's last letter, taken back.
  pending_ = at.held;
  // The letter before the run may be the e of a ligature, which the ligatures written
  // again go on with ("\u0153 \u0153 \u0153").
  const std::size_t n = out_.offsets.size();
  ligature_e_ = kNone;
  if (n >= 2 && at.before.c == 'e' && ligature_pair(static_cast<unsigned char>(out_.text[out_.text.size() - 2]), 'e') &&
      out_.offsets[n - 2].start == at.before.entry.start) {
    ligature_e_ = chars_ - 1;
    ligature_end_ = at.before.entry.end;
  }
  if (count == 2) rewrite(single_prev_);
  rewrite(single_last_);
  gap_prev_ = gap_last_ = kNoMark;
}

// Writes a single letter of a chain again, flagged kJoined (its first letter).
void Writer::rewrite(const Single& s) {
  append(s.first.c, static_cast<std::uint8_t>(s.first.flags | kJoined), s.first.entry);
  if (s.two) {
    append(s.second.c, s.second.flags, s.second.entry);
    if (ligature_pair(s.first.c, s.second.c)) ligature_run();
  }
}

// The chain of single letters can grow no more: runs in it that were kept stay.
void Writer::chain_ends() {
  if (chain_ == 0) return;
  chain_ = 0;
  gap_prev_ = gap_last_ = kNoMark;
}

std::pair<std::size_t, std::size_t> Writer::stable() const noexcept {
  // (Called between pieces, when nothing is staged.) The last character may merge with
  // the next one; a run of separators after a single letter may go, until what follows
  // it is known, and then the letters after it may merge with the single letter before
  // it ("a a a" is one stretched a), or that letter be put back as it was before the
  // run: that letter (ASCII, one byte) stays open too.
  Mark open{chars_, bytes_, {}, false};
  if (chars_ > 0) {
    std::size_t b = out_.text.size() - 1;
    while (b > 0 && utf8::is_continuation(static_cast<unsigned char>(out_.text[b]))) --b;
    open = {chars_ - 1, bytes_ - (out_.text.size() - b), {}, false};
  }
  const Mark& after_single = after_single_ ? run_start_ : kNoMark;
  for (const Mark* m : {&gap_last_, &gap_prev_, &gap_, &after_single})
    if (m->chars != kNone && m->chars - 1 < open.chars) open = {m->chars - 1, m->bytes - 1, {}, false};
  // And the character before all that: symbols held apart may still go back into the run
  // before them, and a letter alone may still merge with the one before it and the next
  // (merge_three()), also where a chain writes its letters again.
  std::size_t chars = index(open.chars), bytes = byte_index(open.bytes);
  if (chars > 0 && bytes > 0) {
    --chars;
    --bytes;
    while (bytes > 0 && utf8::is_continuation(static_cast<unsigned char>(out_.text[bytes]))) --bytes;
  }
  return {chars, bytes};
}

}  // namespace tarnwhisk::thorough
