// The thorough level: what each character becomes, and the two rules that look at
// neighbours (single letters joined across separators, runs of any length), as readable
// stages and as the one-pass writer that normalize() and long texts use.
//
// The thorough text is lower case but for codes: upper-case ASCII letters standing for a
// character that may be one of two letters (see kCodes), which the words' patterns
// accept for either. "*" stays a mask when it stands inside a word, and "|" (written J)
// stands for i or l; both also separate single letters ("f*u*c*k", "f|u|c|k").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "tarnwhisk/normalize.hpp"

namespace tarnwhisk::thorough {

// A character that may be one of two letters is written as its code. (Rarer pairs of
// the confusables data, such as long s or Greek capital nu, take the letter they look
// like: every code is a byte class more in the automaton's table.)
struct Code {
  char code;
  char first;
  char second;
};
inline constexpr Code kCodes[] = {
    {'A', 'a', 'o'},  // "@"
    {'G', 'b', 'g'},  // "6"
    {'I', 'i', 'l'},  // "1", "!" and capital-I look-alikes
    {'J', 'i', 'l'},  // "|", which may also separate single letters
    {'U', 'u', 'y'},  // Cyrillic u, Greek capital upsilon
};
// The code for the two letters a and b (in either order), or 0.
char code_for(char a, char b) noexcept;
// Bit 1 << (x - 'a') for each letter x that `code` stands for; 0 for any other byte.
std::uint32_t letters_of(unsigned char code) noexcept;

// One character of the text before the neighbour rules, with its flags.
struct Unit {
  char32_t c;
  std::uint8_t flags;
};
inline constexpr std::size_t kMaxUnits = 64;
// Writes to `out` (room for kMaxUnits) what the per-character rules make of c: nothing
// when c is invisible (every default-ignorable code point) or a nonspacing or enclosing
// mark; otherwise its NFKC form, each character of which is, if ASCII, case-folded and
// leetspeak-folded ("1", "!" and "|" stand for i or l, "@" for a or o, "6" for b or g,
// "$" for s, "+" for t, "2" for z; "#" and "%" are masks like "*"), else
// the letter it looks like or, failing that, its case fold with diacritics stripped
// (the ligatures "\u0153" and "\u00e6" as their two letters).
// Returns the number of units.
std::size_t fold(char32_t c, Unit* out) noexcept;

// Letters for the joining of single letters: ASCII letters and codes, but for J and for
// letters made of symbols ("$", "!", a look-alike that is punctuation), which may be
// punctuation next to a word ("¡b,a,d!").
constexpr bool is_letter(char32_t c, std::uint8_t flags = 0) noexcept {
  return ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z' && c != 'J')) && !(flags & kSymbolFirst);
}
// A letter made of a symbol ("$", "!", "@", "+", a look-alike that is punctuation) that
// stands alone between separators is a single letter of a chain too ("$.h.i.t",
// "d.!.c.k"); next to a letter it stays punctuation ("\u00a1b,a,d!"). "|" only separates.
constexpr bool symbol_letter(char32_t c, std::uint8_t flags) noexcept {
  return (flags & kSymbolFirst) && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z' && c != 'J'));
}
// What may stand between single letters: tab, space, * , - . / : ; \ _ ~ and "|" (J).
// (The middle dot and the bullet become ".", "#" and "%" become "*".)
constexpr bool is_separator(char32_t c) noexcept {
  switch (c) {
    case '\t': case ' ': case '*': case ',': case '-': case '.':
    case '/': case ':': case ';': case '\\': case '_': case '~': case 'J':
      return true;
    default:
      return false;
  }
}

// Whether a run of separators is spaces and tabs only: the run between words of prose.
// A chain of two single letters over another run ("o.f") ends a word spelled out, and
// its last letter starts no chain over such a run ("o.f a b.i.t.c.h" keeps "f a b" apart);
// the other way round it may ("a s-h-i-t": the s starts "s-h-i-t").
inline bool blank_run(std::u32string_view run) noexcept {
  for (const char32_t c : run)
    if (c != ' ' && c != '\t') return false;
  return true;
}

// The stages, in order; together they define the level.
// Each source character becomes fold()'s units, all with its entry; a mark that goes
// widens the entry of the letter or code before it (a hit covers its last letter's marks).
NormalizedText fold_stage(NormalizedText in);
// A chain of three or more single letters, each two separated by the same run of
// separators, loses those runs ("f u c k" -> "fuck"; "f**k u" stays); the letters after
// a dropped run are flagged kJoined. A single letter is one character: a letter, two
// letters of one character ("\u00df": ss), or a symbol for a letter that no letter touches
// ("$.h.i.t", and each of "\u00a1$"); a letter right after masks that end a longer word
// ends it ("co**e a l").
NormalizedText join_stage(NormalizedText in);
// Every run of two or more equal characters becomes one, flagged kDoubled; a stretched
// letter takes in the codes that may stand for it ("aaa@" reads a; "l1" stays two), and
// three characters that may all be one letter are one ("@4@", "4@@"). A "!" that would
// join the run before it stays apart where no letter follows ("helllll!", "lull!").
NormalizedText collapse_stage(NormalizedText in);

// The one-pass form of the three stages, for a source in pieces (see PieceNormalizer).
class Writer {
 public:
  explicit Writer(NormalizedText& out) noexcept : out_(out) {}
  Writer(const Writer&) = delete;  // it points into its own buffers
  Writer& operator=(const Writer&) = delete;
  // Normalises the next piece, which starts at source byte `base`.
  void feed(std::string_view src, std::size_t base);
  // The source has ended: settles what waited for what follows.
  void finish();
  // The characters and bytes at the front of the result that no later piece changes.
  std::pair<std::size_t, std::size_t> stable() const noexcept;

 private:
  struct Char {
    char32_t c;
    SourceRange entry;
    std::uint8_t flags;
  };
  // A single letter as it came: one character, which may be two letters ("ß": ss).
  struct Single {
    Char first;
    Char second;
    bool two;
  };
  // A place in the result, counted over everything written (the owner may erase from
  // the front): characters and bytes. A mark where a run of separators begins keeps the
  // character before it (a single letter) as it was then: the run may merge into it and
  // is taken back whole when it goes. If that character was symbols held apart, which
  // the run's first separator made punctuation, they are held again when the run goes.
  struct Mark {
    std::size_t chars;
    std::size_t bytes;
    Char before;
    bool held;
  };
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  static constexpr Mark kNoMark{kNone, kNone, {}, false};
  static constexpr char32_t kNoChar = 0xFFFFFFFF;  // last_ before the first character
  // Characters are staged here, in the first-level cache, and appended to the result in
  // bulk: when the buffers fill, before the result is read or cut, and when feed() ends.
  static constexpr std::size_t kStaging = 512;

  std::size_t ascii_chars(const char* src, std::size_t i, std::size_t stop, std::size_t base);
  std::size_t ascii_blocks(const char* src, std::size_t i, std::size_t n, std::size_t base);
  void put(char32_t c, std::uint8_t flags, SourceRange e);
  // (The entry comes as two numbers: a SourceRange argument is put together on the
  // stack from its two halves and read back whole, which stalls.)
  void unit(char32_t c, std::uint8_t flags, std::size_t start, std::size_t end);
  void append(char32_t c, std::uint8_t flags, SourceRange e);
  void merge(char32_t m, std::uint8_t flags, std::size_t end);
  void mark(std::size_t end);
  void settle(char32_t c, std::uint8_t flags);
  void punctuation();
  bool three(char32_t c, std::uint8_t flags, std::size_t end);
  enum class Meet { kApart, kMerged, kHold };
  Meet meet(char32_t c, std::uint8_t flags, std::size_t end);
  void token_ends();
  void chain_ends();
  void drop_runs(std::size_t count);
  void rewrite(const Single& s);
  void flush();
  void ligature_run();
  void room(std::size_t n) {
    if (static_cast<std::size_t>(obuf_ + kStaging - o_) < n) flush();
  }
  // The last character written, staged or not (there is one when last_ != kNoChar).
  SourceRange& last_entry() noexcept { return o_ != obuf_ ? o_[-1] : out_.offsets.back(); }
  std::uint8_t& last_flags() noexcept { return o_ != obuf_ ? fbuf_[o_ - obuf_ - 1] : out_.flags.back(); }
  // Whether the character before the last is a code (one ASCII byte), with which a
  // letter alone may still merge when the letter comes again (merge_three(): "@44").
  bool code_before_last() const noexcept {
    const auto staged = static_cast<std::size_t>(t_ - tbuf_);
    const std::size_t n = out_.text.size();
    if (staged >= 2) return is_upper_byte(t_[-2]);
    if (staged == 1) return n >= 1 && is_upper_byte(out_.text[n - 1]);
    return n >= 2 && is_upper_byte(out_.text[n - 2]);
  }
  static constexpr bool is_upper_byte(char b) noexcept { return b >= 'A' && b <= 'Z'; }
  // Takes back the last character written, which is one ASCII byte, staged or not.
  void drop_last() noexcept {
    if (o_ != obuf_) {
      --o_;
      --t_;
      return;
    }
    out_.text.pop_back();
    out_.offsets.pop_back();
    out_.flags.pop_back();
    --chars_;
    --bytes_;
  }
  // The place after the last character written, and that character.
  Mark here() noexcept {
    Mark m{chars_ + static_cast<std::size_t>(o_ - obuf_), bytes_ + static_cast<std::size_t>(t_ - tbuf_), {last_, {}, 0}, pending_};
    if (last_ != kNoChar) {
      m.before.entry = last_entry();
      m.before.flags = last_flags();
    }
    return m;
  }
  // Where a place lies in the result; only while nothing is staged.
  std::size_t index(std::size_t chars) const noexcept { return out_.offsets.size() - (chars_ - chars); }
  std::size_t byte_index(std::size_t bytes) const noexcept { return out_.text.size() - (bytes_ - bytes); }

  NormalizedText& out_;
  // Where the next character is staged. (The two pointers lie apart: a copy of both in
  // one load, which the compiler likes to make, waits for the stores to them to retire.)
  SourceRange* o_ = obuf_;
  char32_t last_ = kNoChar;  // the last character written
  std::size_t chars_ = 0;    // characters appended to the result in all (what the owner
  std::size_t bytes_ = 0;    // erased included); the staged ones come on top
  bool masked_ = false;            // the last run of masks came right after a word
  bool masked_tail_ = false;       // the token in progress came right after such a run
  bool symbol_token_ = false;      // the token in progress is one symbol (see unit())
  bool pending_ = false;          // the last character: symbols held apart (see append())
  std::size_t token_len_ = 0;     // letters of the token in progress (before collapse)
  bool after_single_ = false;     // a single-letter token ended and only separators came since
  Mark run_start_ = kNoMark;      // where the separators after the last token begin
  Mark gap_ = kNoMark;            // the run before the token in progress, if after a single
  std::size_t chain_ = 0;         // single-letter tokens in the chain so far
  std::size_t drops_ = 0;         // times drop_runs() took back runs
  Mark gap_last_ = kNoMark;       // the run before the chain's last single letter
  Mark gap_prev_ = kNoMark;       // the run before the one before
  Char token_first_{};            // the first letter of the token in progress, as it came
  Char token_second_{};           // the second, when the first character is two letters
  bool token_two_ = false;
  Single single_last_{};          // the last single letter, as it came
  Single single_prev_{};          // the one before
  std::u32string run_;            // the separators since the last token, as they came
  std::u32string gap_run_;        // ... before the token in progress
  std::u32string chain_run_;      // ... between the chain's first two single letters
  std::size_t ligature_e_ = kNone;  // where the e of the last ligature written is
  std::size_t ligature_end_ = 0;   // ... and its entry's end then (see ligature_run())
  char* t_ = tbuf_;
  SourceRange obuf_[kStaging];
  std::uint8_t fbuf_[kStaging];
  char tbuf_[4 * kStaging];
};

}  // namespace tarnwhisk::thorough
