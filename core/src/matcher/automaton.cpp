// Construction of the leftmost-longest automaton: trie, leftmost failure links resolved
// into a dense table, and a renumbering that puts the states the search loop must notice
// below one threshold.
#include "matcher/automaton.hpp"

#include <algorithm>
#include <limits>

namespace tarnwhisk {

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
// Working ids during construction (plain indexes, not pre-multiplied).
constexpr std::uint32_t kDeadTmp = 0;
constexpr std::uint32_t kStartTmp = 1;

}  // namespace

bool Automaton::patterns_within(const std::vector<std::string>& patterns, const Limits& limits,
                                std::string& error) {
  const std::size_t max_patterns =
      std::min<std::size_t>(limits.max_patterns, std::numeric_limits<std::uint32_t>::max());
  if (patterns.size() > max_patterns) {
    error = std::to_string(patterns.size()) + " patterns given, more than the limit of " +
            std::to_string(max_patterns) + " patterns";
    return false;
  }
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    if (patterns[i].size() > limits.max_pattern_len) {
      error = "pattern " + std::to_string(i) + " is " + std::to_string(patterns[i].size()) +
              " bytes long, longer than the limit of " + std::to_string(limits.max_pattern_len) +
              " bytes";
      return false;
    }
  }
  return true;
}

std::size_t Automaton::set_classes(std::size_t classes, bool all_used) noexcept {
  class_count_ = classes;
  has_free_class_ = !all_used;
  unsigned shift = 2;
  while ((std::size_t{1} << shift) < classes) ++shift;
  stride_shift_ = shift;
  return std::size_t{1} << shift;
}

std::unique_ptr<Automaton> Automaton::build(const std::vector<std::string>& patterns,
                                            const Limits& limits, bool prefilter,
                                            std::string& error) {
  if (!patterns_within(patterns, limits, error)) return nullptr;

  auto a = std::unique_ptr<Automaton>(new Automaton());
  for (const std::string& p : patterns) a->max_pattern_len_ = std::max(a->max_pattern_len_, p.size());

  // Byte classes: every byte that occurs in a pattern gets a class of its own; all other
  // bytes share class 0 and can only lead back to START or to DEAD.
  std::array<bool, 256> used{};
  for (const std::string& p : patterns)
    for (char c : p) used[static_cast<unsigned char>(c)] = true;
  const bool all_used = std::all_of(used.begin(), used.end(), [](bool u) { return u; });
  std::size_t classes = all_used ? 0 : 1;  // with every byte used, no shared class
  for (std::size_t b = 0; b < 256; ++b)
    a->classes_[b] = used[b] ? static_cast<std::uint8_t>(classes++) : 0;
  const std::size_t stride = a->set_classes(classes, all_used);
  const unsigned shift = a->stride_shift_;

  // Pre-multiplied ids must fit 32 bits: state * stride + class < 2^32.
  const std::size_t id_limit = (std::size_t{1} << 32) >> shift;
  const std::size_t max_states = std::min(limits.max_states, id_limit);
  auto too_many_states = [&] {
    error = "the patterns need more than " + std::to_string(max_states) +
            " automaton states, beyond the limit of " + std::to_string(max_states) + " states";
    if (max_states == id_limit && id_limit < limits.max_states)
      error += " that 32-bit state ids allow at a stride of " + std::to_string(stride);
  };
  if (max_states < 2) {
    too_many_states();
    return nullptr;
  }

  // 1. Trie, with dense rows, built here rather than through Trie (trie.hpp): its rows
  // become the table the search reads, and a Trie first made the build 14 % slower
  // (matcher_bench BM_BuildAutomaton; its nodes are a second copy of the structure, in
  // fresh pages every build). Each state remembers the first (lowest) pattern ending at
  // it, or inherits one through its failure link below.
  std::vector<std::uint32_t> next(2 * stride, kNone);
  std::vector<std::uint32_t> pat(2, kNone), len(2, 0);
  std::vector<bool> own_match(2, false);
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    const std::string& p = patterns[i];
    if (p.empty()) continue;
    std::uint32_t s = kStartTmp;
    for (char c : p) {
      std::uint32_t& slot = next[s * stride + a->classes_[static_cast<unsigned char>(c)]];
      if (slot == kNone) {
        const std::size_t fresh = pat.size();
        if (fresh >= max_states) {
          too_many_states();
          return nullptr;
        }
        slot = static_cast<std::uint32_t>(fresh);
        next.resize(next.size() + stride, kNone);
        pat.push_back(kNone);
        len.push_back(0);
        own_match.push_back(false);
      }
      s = next[s * stride + a->classes_[static_cast<unsigned char>(c)]];
    }
    if (!own_match[s]) {
      own_match[s] = true;
      pat[s] = static_cast<std::uint32_t>(i);
      len[s] = static_cast<std::uint32_t>(p.size());
    }
  }
  const std::size_t n_states = pat.size();

  // 2. Failure links, breadth first, resolved straight into the table. A state that ends
  // a pattern fails to DEAD: once a match is pending the search only goes on while that
  // match can grow, and never falls back to an occurrence that starts further right.
  std::vector<std::uint32_t> fail(n_states, kDeadTmp);
  std::vector<std::uint32_t> order;  // breadth-first order, START first
  order.reserve(n_states);
  std::fill_n(next.begin(), stride, kDeadTmp);  // DEAD loops on itself
  for (std::size_t c = 0; c < stride; ++c) {
    std::uint32_t& slot = next[kStartTmp * stride + c];
    if (slot == kNone) {
      slot = kStartTmp;  // unanchored: bytes that start nothing stay at START
    } else {
      fail[slot] = own_match[slot] ? kDeadTmp : kStartTmp;
      order.push_back(slot);
    }
  }
  for (std::size_t head = 0; head < order.size(); ++head) {
    const std::uint32_t u = order[head];
    const std::size_t fu = std::size_t{fail[u]} * stride;
    for (std::size_t c = 0; c < stride; ++c) {
      std::uint32_t& slot = next[u * stride + c];
      if (slot == kNone) {
        slot = next[fu + c];
        continue;
      }
      const std::uint32_t v = slot;
      fail[v] = own_match[v] ? kDeadTmp : next[fu + c];
      if (!own_match[v] && pat[fail[v]] != kNone) {
        // Not a pattern end itself, but a suffix is: report that (e.g. "bc" at "abc").
        pat[v] = pat[fail[v]];
        len[v] = len[fail[v]];
      }
      order.push_back(v);
    }
  }

  a->emit(next, pat, len, order, n_states);
  if (prefilter) a->prefilter_.build(patterns);
  return a;
}

// Renumbers the states of a finished search (`next`: n_states rows of the stride, with
// DEAD = 0 and START = 1; `pat`/`len`: the occurrence a state reports, kNone if none;
// `order`: every other state) as DEAD, match states, START, the rest, and fills the
// table the search reads, at 16 bits an entry when every id fits.
void Automaton::emit(const std::vector<std::uint32_t>& next, const std::vector<std::uint32_t>& pat,
                     const std::vector<std::uint32_t>& len, const std::vector<std::uint32_t>& order,
                     std::size_t n_states) {
  const unsigned shift = stride_shift_;
  const std::size_t stride = std::size_t{1} << shift;
  std::vector<std::uint32_t> renum(n_states, kNone);
  std::uint32_t fresh = 0;
  renum[kDeadTmp] = fresh++;
  for (std::uint32_t u : order)
    if (pat[u] != kNone) renum[u] = fresh++;
  const std::uint32_t n_match = fresh - 1;
  renum[kStartTmp] = fresh++;
  for (std::uint32_t u : order)
    if (renum[u] == kNone) renum[u] = fresh++;

  // Ids of 16 bits in 8-byte units (state * stride * 2 bytes / 8) where they fit, else
  // 32 bits; the table is written once, in its final width.
  const bool narrow = n_states * stride / 4 <= 0x10000;
  const unsigned unit = narrow ? shift - 2 : shift;
  if (narrow) {
    trans16_.resize(n_states * stride);
  } else {
    trans_.resize(n_states * stride);
  }
  match_pattern_.assign(n_match + 1, kNone);
  match_len_.assign(n_match + 1, 0);
  for (std::size_t u = 0; u < n_states; ++u) {
    const std::size_t row = std::size_t{renum[u]} << shift;
    const std::uint32_t* from = next.data() + u * stride;
    if (narrow) {
      for (std::size_t c = 0; c < stride; ++c) trans16_[row + c] = static_cast<std::uint16_t>(renum[from[c]] << unit);
    } else {
      for (std::size_t c = 0; c < stride; ++c) trans_[row + c] = renum[from[c]] << unit;
    }
    if (u != kDeadTmp && pat[u] != kNone) {
      match_pattern_[renum[u]] = pat[u];
      match_len_[renum[u]] = len[u];
    }
  }
  // The resets: bytes on which nine states in ten or more go to START (or to DEAD, after
  // which the search starts again behind the byte and mostly comes back to START on it).
  std::vector<std::size_t> to_start(stride, 0);
  for (std::size_t u = 0; u < n_states; ++u) {
    if (u == kDeadTmp) continue;
    for (std::size_t c = 0; c < class_count_; ++c) {
      const std::uint32_t v = next[u * stride + c];
      to_start[c] += v == kStartTmp || v == kDeadTmp;
    }
  }
  for (std::size_t b = 0; b < 256; ++b) resets_[b] = to_start[classes_[b]] * 10 >= (n_states - 1) * 9;
  start_ = renum[kStartTmp] << unit;
  max_match_ = n_match << unit;
  id_shift_ = unit;
}

std::size_t Automaton::memory_bytes() const noexcept {
  // The prefilter holds no heap memory.
  return trans_.capacity() * sizeof(std::uint32_t) + trans16_.capacity() * sizeof(std::uint16_t) +
         sizeof(classes_) + sizeof(resets_) + (match_pattern_.capacity() + match_len_.capacity()) * sizeof(std::uint32_t);
}

}  // namespace tarnwhisk
