// The thorough level as three readable stages, each a whole pass over the text: the
// definition that the one-pass writer (thorough_writer.cpp) must agree with, and what
// the tests compare it to.
#include <string>
#include <vector>

#include "normalize/stages.hpp"
#include "normalize/thorough.hpp"
#include "normalize/thorough_detail.hpp"
#include "utf8.hpp"

namespace tarnwhisk::thorough {

NormalizedText fold_stage(NormalizedText in) {
  NormalizedText out;
  out.text.reserve(in.text.size());
  out.offsets.reserve(in.offsets.size());
  out.flags.reserve(in.offsets.size());
  const std::string_view t = in.text;
  char32_t last = 0;  // the last character written
  for (std::size_t i = 0, k = 0; i < t.size(); ++k) {
    const std::size_t len = utf8::char_len(t, i);
    Unit units[kMaxUnits];
    const char32_t c = utf8::decode(t, i, len);
    const std::size_t n = fold(c, units);
    // A mark belongs to the letter before it (see Writer::mark).
    if (n == 0 && is_mark(c) && !out.offsets.empty() && takes_marks(last)) out.offsets.back().end = in.offsets[k].end;
    for (std::size_t j = 0; j < n; ++j) {
      utf8::encode(units[j].c, out.text);
      last = units[j].c;
      out.offsets.push_back(in.offsets[k]);
      out.flags.push_back(static_cast<std::uint8_t>((in.flags.empty() ? 0 : in.flags[k]) | units[j].flags));
    }
    i += len;
  }
  return out;
}

namespace {

struct Char {
  char32_t c;
  SourceRange entry;
  std::uint8_t flags;
};

std::vector<Char> chars_of(const NormalizedText& nt) {
  std::vector<Char> out;
  for (std::size_t i = 0, k = 0; i < nt.text.size(); ++k) {
    const std::size_t len = utf8::char_len(nt.text, i);
    out.push_back({utf8::decode(nt.text, i, len), nt.offsets[k], nt.flags.empty() ? std::uint8_t{0} : nt.flags[k]});
    i += len;
  }
  return out;
}

NormalizedText text_of(const std::vector<Char>& chars) {
  NormalizedText out;
  for (const Char& c : chars) {
    utf8::encode(c.c, out.text);
    out.offsets.push_back(c.entry);
    out.flags.push_back(c.flags);
  }
  return out;
}

}  // namespace

NormalizedText join_stage(NormalizedText in) {
  const std::vector<Char> c = chars_of(in);
  const std::size_t n = c.size();
  // Tokens: maximal runs of letters. A single letter is a token of one character: one
  // letter, or two letters of one character ("\u00df": ss, "\u0153": oe).
  auto letter_at = [&](std::size_t i) { return is_letter(c[i].c, c[i].flags); };
  auto token_end = [&](std::size_t i) {
    while (i < n && letter_at(i)) ++i;
    return i;
  };
  auto one_char = [&](std::size_t from, std::size_t to) {
    return to - from == 1 || (to - from == 2 && c[from].entry.start == c[from + 1].entry.start);
  };
  // A symbol that stands for a letter is a single letter where no letter touches it;
  // each of a run of them is one ("\u00a1$.h.i.t": the "\u00a1" stays apart, the "$"
  // starts the chain), and only separators join them.
  std::vector<bool> symbol(n, false);
  for (std::size_t i = 0; i < n; ++i)
    symbol[i] = symbol_letter(c[i].c, c[i].flags) && (i == 0 || !letter_at(i - 1)) && (i + 1 == n || !letter_at(i + 1));
  // The letters of the single letter that starts at i; 0 if none does.
  auto single_at = [&](std::size_t i) -> std::size_t {
    if (symbol[i]) return 1;
    if (!letter_at(i) || (i > 0 && letter_at(i - 1))) return 0;
    const std::size_t end = token_end(i);
    return one_char(i, end) ? end - i : 0;
  };
  // A letter right after a run of masks that ends a word of two letters or more ends
  // that word ("co**e a l"): no chain starts at it.
  auto masked_tail = [&](std::size_t i) {
    std::size_t k = i;
    while (k > 0 && c[k - 1].c == '*') --k;
    if (k == i || k == 0 || !letter_at(k - 1)) return false;
    std::size_t t = k - 1;
    while (t > 0 && letter_at(t - 1)) --t;
    return !one_char(t, k);
  };
  std::vector<bool> drop(n, false), joined(n, false);
  for (std::size_t i = 0; i < n;) {
    if (single_at(i) == 0 || masked_tail(i)) {
      ++i;
      continue;
    }
    // The chain from the single letter at i: singles separated by runs of separators,
    // all of them the same ("f u c k", "f..u..c..k"; in "f**k u" the mask and the space
    // differ, and nothing joins).
    std::vector<std::size_t> singles = {i};
    std::u32string first_run;
    std::size_t j = i;
    bool restart = true;  // a chain of two may start the next one (see blank_run())
    for (;;) {
      std::size_t k = j + single_at(j);
      std::u32string run;
      while (k < n && is_separator(c[k].c)) run += c[k++].c;
      if (run.empty() || k >= n || single_at(k) == 0) break;
      if (singles.size() == 1) {
        first_run = run;
      } else if (run != first_run) {
        restart = !blank_run(run) || blank_run(first_run);
        break;
      }
      singles.push_back(k);
      j = k;
    }
    if (singles.size() >= 3) {
      for (std::size_t s = 1; s < singles.size(); ++s) {
        for (std::size_t k = singles[s - 1] + single_at(singles[s - 1]); k < singles[s]; ++k) drop[k] = true;
        joined[singles[s]] = true;
      }
    }
    // A chain of two may be the start of the next one ("a s-h-i-t": the s), but for one
    // over blanks after one over something else ("o.f a b").
    i = singles.size() == 2 && restart ? j : j + single_at(j);
  }
  std::vector<Char> out;
  for (std::size_t i = 0; i < n; ++i) {
    if (drop[i]) continue;
    Char x = c[i];
    if (joined[i]) x.flags |= kJoined;
    out.push_back(x);
  }
  return text_of(out);
}

NormalizedText collapse_stage(NormalizedText in) {
  const std::vector<Char> c = chars_of(in);
  std::vector<Char> out;
  bool held = false;  // the run at i is symbols held apart from the one before
  for (std::size_t i = 0; i < c.size();) {
    std::size_t j = i + 1;
    char32_t run = c[i].c;
    // A symbol for i or l that would merge into the run ("helll!", "h3l1!") stays apart
    // with the characters equal to it, when what follows them does not go on with the
    // word: punctuation after it, or the word's last letter. A run that starts so is
    // those characters.
    const bool held_run = held;
    if (held) {
      while (j < c.size() && c[j].c == c[i].c) ++j;
      held = false;
      // After a stretched run, punctuation, which no word has and nothing merges into
      // (see Writer::punctuation()).
      if (out.back().flags & kStretched) run = '!';
    }
    // A repeated ligature ("\u0153\u0153\u0153": o and e of one character each time) is a
    // run of its two letters, both flagged as a run would be, with one entry; letters
    // equal to the second one then go on with its run, as they would after a letter.
    // (Its two letters are one character: their entries start together.)
    if (!held_run) {
      std::size_t q = i;
      while (q + 1 < c.size() && ligature_pair(c[q].c, c[q + 1].c) &&
             c[q].entry.start == c[q + 1].entry.start &&
             (q == i || (c[q].c == c[i].c && c[q + 1].c == c[i + 1].c)))
        q += 2;
      if (q - i >= 4) {
        Char x = c[i], y = c[i + 1];
        for (std::size_t k = i + 2; k < q; k += 2) {
          const std::uint8_t more = (x.flags & kDoubled) ? kStretched : 0;
          x.flags = static_cast<std::uint8_t>(merged_flags(x.flags, c[k].flags) | kDoubled | more);
          y.flags = static_cast<std::uint8_t>(merged_flags(y.flags, c[k + 1].flags) | kDoubled | more);
        }
        // (A mark after an e widened its entry only.)
        x.entry.end = c[q - 2].entry.end;
        y.entry.end = c[q - 1].entry.end;
        for (; q < c.size() && c[q].c == y.c; ++q) {
          y.entry.end = c[q].entry.end;
          y.flags = static_cast<std::uint8_t>(merged_flags(y.flags, c[q].flags) | kDoubled | kStretched);
        }
        out.push_back(x);
        out.push_back(y);
        i = q;
        continue;
      }
    }
    // (An equal character always merges, NUL too, whose merge_into() reads as none.)
    if (!held_run && i + 2 < c.size()) {
      if (const char32_t m = merge_three(c[i].c, c[i + 1].c, c[i + 2].c); m != 0) {
        run = m;
        j = i + 3;
      }
    }
    for (; j < c.size(); ++j) {
      const char32_t m = c[j].c == run ? run : merge_into(run, j - i >= 2, c[j].c);
      if (m == 0 && c[j].c != run) break;
      if ((c[j].flags & (kSymbolFirst | kJoined)) == kSymbolFirst && trails(c[j].c)) {
        std::size_t k = j + 1;
        while (k < c.size() && c[k].c == c[j].c) ++k;
        // (Separators that went before a letter of a chain decided as they came.)
        if (k == c.size() || !continues_word(c[k].c) || (c[k].flags & kJoined)) {
          held = true;
          break;
        }
      }
      run = m;
    }
    Char x = c[i];
    x.c = run;
    if (j - i >= 2) {
      x.entry.end = c[j - 1].entry.end;
      x.flags = static_cast<std::uint8_t>(merged_flags(c[i].flags, c[j - 1].flags) | kDoubled |
                                          (j - i >= 3 ? kStretched : 0));
    }
    out.push_back(x);
    i = j;
  }
  return text_of(out);
}

}  // namespace tarnwhisk::thorough
