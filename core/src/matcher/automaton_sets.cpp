// Construction of the automaton for patterns whose positions accept sets of bytes (a
// word's letter that may be written several ways): the patterns form a trie whose edges
// carry sets, which is not deterministic, and the automaton is made from it by the subset
// construction, keeping the leftmost-longest order of the literal automaton.
//
// A state of the search is the set of trie nodes that the text read since the search
// (re)started may be in, each node standing for an occurrence in progress that started
// depth(node) bytes back. The deepest node that ends a pattern is the occurrence the
// state reports (the leftmost one to end here; among equal ones the lowest id). Once one
// is pending, occurrences that start later can no longer win: nodes shallower than it
// are dropped and no new occurrence starts (the state is "committed"), so that the search
// only goes on while the pending occurrence or one that started earlier may still grow.
// A committed state with no node left is DEAD. This is the literal automaton's order:
// there every state stands for one node and its chain of failure links.
#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <unordered_map>

#include "matcher/automaton.hpp"

namespace tarnwhisk {

namespace {

constexpr std::uint32_t kNoPattern = std::numeric_limits<std::uint32_t>::max();

struct Node {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;  // (label, child)
  std::uint32_t depth = 0;
  std::uint32_t pattern = kNoPattern;  // the pattern that ends here
};

std::string key_of(const std::vector<std::uint32_t>& nodes, bool committed) {
  std::string key(1, committed ? '\1' : '\0');
  key.append(reinterpret_cast<const char*>(nodes.data()), nodes.size() * sizeof(std::uint32_t));
  return key;
}

}  // namespace

std::unique_ptr<Automaton> Automaton::build_sets(const std::vector<std::string>& patterns,
                                                 const std::array<ByteSet, 256>& accepts,
                                                 const Limits& limits, std::string& error) {
  const std::size_t max_patterns =
      std::min<std::size_t>(limits.max_patterns, std::numeric_limits<std::uint32_t>::max());
  if (patterns.size() > max_patterns) {
    error = std::to_string(patterns.size()) + " patterns given, more than the limit of " +
            std::to_string(max_patterns) + " patterns";
    return nullptr;
  }
  auto a = std::unique_ptr<Automaton>(new Automaton());

  // The trie of the patterns' bytes; an edge labelled b accepts the bytes accepts[b].
  std::array<bool, 256> used{};
  std::vector<Node> nodes(1);
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    const std::string& p = patterns[i];
    if (p.size() > limits.max_pattern_len) {
      error = "pattern " + std::to_string(i) + " is " + std::to_string(p.size()) +
              " bytes long, longer than the limit of " + std::to_string(limits.max_pattern_len) + " bytes";
      return nullptr;
    }
    if (p.empty()) continue;
    a->max_pattern_len_ = std::max(a->max_pattern_len_, p.size());
    std::uint32_t s = 0;
    for (char ch : p) {
      const auto label = static_cast<unsigned char>(ch);
      used[label] = true;
      std::uint32_t child = kNoPattern;
      for (const auto& [l, c] : nodes[s].edges)
        if (l == label) child = c;
      if (child == kNoPattern) {
        child = static_cast<std::uint32_t>(nodes.size());
        nodes[s].edges.emplace_back(label, child);
        Node n;
        n.depth = nodes[s].depth + 1;
        nodes.push_back(std::move(n));
      }
      s = child;
    }
    if (nodes[s].pattern == kNoPattern) nodes[s].pattern = static_cast<std::uint32_t>(i);
  }
  std::vector<ByteSet> labels(256);
  for (std::size_t b = 0; b < 256; ++b)
    if (used[b]) labels[b] = accepts[b];

  // Byte classes: bytes in the same labels behave alike. Bytes in none share class 0.
  std::unordered_map<std::string, std::uint8_t> class_of_signature;
  std::array<std::string, 256> signature;
  bool all_used = true;
  for (std::size_t b = 0; b < 256; ++b) {
    signature[b].assign(labels.size(), '0');
    bool used = false;
    for (std::size_t l = 0; l < labels.size(); ++l)
      if (labels[l][b]) signature[b][l] = '1', used = true;
    all_used = all_used && used;
  }
  std::size_t classes = all_used ? 0 : 1;
  for (std::size_t b = 0; b < 256; ++b) {
    if (signature[b].find('1') == std::string::npos) {
      a->classes_[b] = 0;
      continue;
    }
    auto [it, fresh] = class_of_signature.emplace(signature[b], static_cast<std::uint8_t>(classes));
    if (fresh) ++classes;
    a->classes_[b] = it->second;
  }
  a->class_count_ = classes;
  a->has_free_class_ = !all_used;
  unsigned shift = 2;
  while ((std::size_t{1} << shift) < classes) ++shift;
  a->stride_shift_ = shift;
  const std::size_t stride = std::size_t{1} << shift;
  // Which classes each label holds.
  std::vector<std::vector<bool>> label_has(labels.size(), std::vector<bool>(stride, false));
  for (std::size_t l = 0; l < labels.size(); ++l)
    for (std::size_t b = 0; b < 256; ++b)
      if (labels[l][b]) label_has[l][a->classes_[b]] = true;

  const std::size_t id_limit = (std::size_t{1} << 32) >> shift;
  const std::size_t max_states = std::min(limits.max_states, id_limit);

  // The subset construction, breadth first: DEAD is 0 (committed, no node), START 1.
  std::vector<std::vector<std::uint32_t>> state_nodes = {{}, {0}};
  std::vector<bool> committed = {true, false};
  std::unordered_map<std::string, std::uint32_t> state_ids = {{key_of({}, true), 0}, {key_of({0}, false), 1}};
  std::vector<std::uint32_t> next(2 * stride, 0);
  std::vector<std::uint32_t> pat(2, kNoPattern), len(2, 0);
  std::vector<std::uint32_t> order;
  std::vector<std::uint32_t> set;
  for (std::uint32_t q = 1; q < state_nodes.size(); ++q) {
    if (q >= 2) order.push_back(q);
    // The occurrence this state reports: the deepest node that ends a pattern.
    std::uint32_t m = kNoPattern;
    for (std::uint32_t n : state_nodes[q]) {
      if (nodes[n].pattern == kNoPattern) continue;
      if (m == kNoPattern || nodes[n].depth > nodes[m].depth ||
          (nodes[n].depth == nodes[m].depth && nodes[n].pattern < nodes[m].pattern))
        m = n;
    }
    if (m != kNoPattern) {
      pat[q] = nodes[m].pattern;
      len[q] = nodes[m].depth;
    }
    const bool commit = committed[q] || m != kNoPattern;
    const std::uint32_t floor = m != kNoPattern ? nodes[m].depth : 0;
    for (std::size_t c = 0; c < classes; ++c) {
      set.clear();
      for (std::uint32_t n : state_nodes[q]) {
        if (nodes[n].depth < floor) continue;
        for (const auto& [label, child] : nodes[n].edges)
          if (label_has[label][c]) set.push_back(child);
      }
      if (!commit) set.push_back(0);
      std::sort(set.begin(), set.end());
      set.erase(std::unique(set.begin(), set.end()), set.end());
      std::uint32_t to = 0;
      if (!set.empty()) {
        auto [it, fresh] = state_ids.emplace(key_of(set, commit), static_cast<std::uint32_t>(state_nodes.size()));
        if (fresh) {
          if (state_nodes.size() >= max_states) {
            error = "the patterns need more than " + std::to_string(max_states) +
                    " automaton states, beyond the limit of " + std::to_string(max_states) + " states";
            return nullptr;
          }
          state_nodes.push_back(set);
          committed.push_back(commit);
          next.resize(next.size() + stride, 0);
          pat.push_back(kNoPattern);
          len.push_back(0);
        }
        to = it->second;
      }
      next[std::size_t{q} * stride + c] = to;
    }
    // Done with this state's nodes; only the id map still refers to the set, by value.
    std::vector<std::uint32_t>().swap(state_nodes[q]);
  }
  a->emit(next, pat, len, order, state_nodes.size());
  return a;
}

}  // namespace tarnwhisk
