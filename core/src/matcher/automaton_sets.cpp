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
#include <bitset>
#include <cstring>
#include <limits>
#include <string>
#include <unordered_map>

#include "matcher/automaton.hpp"
#include "matcher/trie.hpp"

namespace tarnwhisk {

namespace {

constexpr std::uint32_t kNoPattern = std::numeric_limits<std::uint32_t>::max();

}  // namespace

std::unique_ptr<Automaton> Automaton::build_sets(const std::vector<std::string>& patterns,
                                                 const std::array<ByteSet, 256>& accepts,
                                                 const Limits& limits, std::string& error) {
  if (!patterns_within(patterns, limits, error)) return nullptr;
  auto a = std::unique_ptr<Automaton>(new Automaton());

  // The trie of the patterns' bytes; an edge labelled b accepts the bytes accepts[b].
  std::array<bool, 256> used{};
  Trie nodes;
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    const std::string& p = patterns[i];
    if (p.empty()) continue;
    a->max_pattern_len_ = std::max(a->max_pattern_len_, p.size());
    for (char ch : p) used[static_cast<unsigned char>(ch)] = true;
    nodes.add(p, static_cast<std::uint32_t>(i), [](unsigned char b) { return std::uint32_t{b}; });
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
  const std::size_t stride = a->set_classes(classes, all_used);
  const unsigned shift = a->stride_shift_;
  // Which classes each label holds.
  std::vector<std::vector<std::uint8_t>> label_classes(labels.size());
  for (std::size_t l = 0; l < labels.size(); ++l) {
    std::bitset<256> has;
    for (std::size_t b = 0; b < 256; ++b)
      if (labels[l][b]) has[a->classes_[b]] = true;
    for (std::size_t c = 0; c < classes; ++c)
      if (has[c]) label_classes[l].push_back(static_cast<std::uint8_t>(c));
  }
  std::vector<std::vector<std::uint32_t>> by_class(classes);
  // The root is in every state that has no match yet (the search is unanchored), and its
  // children for a class are always the same: kept apart, and where no other node of the
  // state goes on by a class, the state that the root alone leads to is looked up once.
  std::vector<std::vector<std::uint32_t>> root_by_class(classes);
  nodes.for_each_child(0, [&](std::uint32_t label, std::uint32_t child) {
    for (std::uint8_t c : label_classes[label]) root_by_class[c].push_back(child);
  });
  constexpr std::uint32_t kUnknown = 0xFFFFFFFFu;
  std::vector<std::uint32_t> root_only(classes, kUnknown);

  const std::size_t id_limit = (std::size_t{1} << 32) >> shift;
  const std::size_t max_states = std::min(limits.max_states, id_limit);

  // The subset construction, breadth first: DEAD is 0 (committed, no node), START 1. The
  // states' node sets lie one after another in `pool`; `table` finds a state by its set.
  std::vector<std::uint32_t> pool = {0};
  std::vector<std::uint32_t> first = {0, 0, 1};  // state q's nodes: pool[first[q], first[q + 1])
  std::vector<bool> committed = {true, false};
  std::vector<std::uint32_t> table(1024, kNoPattern);
  auto hash_of = [](const std::uint32_t* nodes, std::size_t n, bool commit) {
    std::uint64_t h = commit ? 0x9E3779B97F4A7C15ull : 0x2545F4914F6CDD1Dull;
    for (std::size_t i = 0; i < n; ++i) h = (h ^ nodes[i]) * 0x100000001B3ull;
    return h ^ (h >> 29);
  };
  auto same = [&](std::uint32_t q, const std::uint32_t* nodes, std::size_t n, bool commit) {
    return committed[q] == commit && first[q + 1] - first[q] == n &&
           std::equal(nodes, nodes + n, pool.begin() + first[q]);
  };
  auto insert = [&](std::uint32_t q) {
    const std::size_t mask = table.size() - 1;
    std::size_t i = hash_of(pool.data() + first[q], first[q + 1] - first[q], committed[q]) & mask;
    while (table[i] != kNoPattern) i = (i + 1) & mask;
    table[i] = q;
  };
  insert(0);
  insert(1);
  std::vector<std::uint32_t> next(2 * stride, 0);
  std::vector<std::uint32_t> pat(2, kNoPattern), len(2, 0);
  std::vector<std::uint32_t> order;
  for (std::uint32_t q = 1; q + 1 < first.size(); ++q) {
    if (q >= 2) order.push_back(q);
    // The occurrence this state reports: the deepest node that ends a pattern.
    std::uint32_t m = kNoPattern;
    for (std::uint32_t k = first[q]; k < first[q + 1]; ++k) {
      const std::uint32_t n = pool[k];
      if (nodes[n].word == kNoPattern) continue;
      if (m == kNoPattern || nodes[n].depth > nodes[m].depth ||
          (nodes[n].depth == nodes[m].depth && nodes[n].word < nodes[m].word))
        m = n;
    }
    if (m != kNoPattern) {
      pat[q] = nodes[m].word;
      len[q] = nodes[m].depth;
    }
    const bool commit = committed[q] || m != kNoPattern;
    const std::uint32_t floor = m != kNoPattern ? nodes[m].depth : 0;
    // Each node's children, handed to the classes its edges take: one pass over the
    // edges instead of one for each class.
    for (std::size_t c = 0; c < classes; ++c) by_class[c].clear();
    bool with_root = false;
    for (std::uint32_t k = first[q]; k < first[q + 1]; ++k) {
      const Trie::Node& node = nodes[pool[k]];
      if (node.depth < floor) continue;
      if (pool[k] == 0) {
        with_root = true;
        continue;
      }
      nodes.for_each_child(pool[k], [&](std::uint32_t label, std::uint32_t child) {
        for (std::uint8_t c : label_classes[label]) by_class[c].push_back(child);
      });
    }
    for (std::size_t c = 0; c < classes; ++c) {
      std::vector<std::uint32_t>& set = by_class[c];
      const bool root_alone = with_root && set.empty();
      if (root_alone && root_only[c] != kUnknown) {
        next[std::size_t{q} * stride + c] = root_only[c];
        continue;
      }
      if (with_root) set.insert(set.end(), root_by_class[c].begin(), root_by_class[c].end());
      if (set.empty()) {  // nothing goes on: START, or DEAD once committed
        next[std::size_t{q} * stride + c] = commit ? 0 : 1;
        if (root_alone) root_only[c] = commit ? 0 : 1;
        continue;
      }
      if (!commit) set.push_back(0);
      std::sort(set.begin(), set.end());
      set.erase(std::unique(set.begin(), set.end()), set.end());
      std::uint32_t to = 0;
      if (!set.empty()) {
        const std::size_t mask = table.size() - 1;
        std::size_t i = hash_of(set.data(), set.size(), commit) & mask;
        while (table[i] != kNoPattern && !same(table[i], set.data(), set.size(), commit)) i = (i + 1) & mask;
        if (table[i] != kNoPattern) {
          to = table[i];
        } else {
          to = static_cast<std::uint32_t>(first.size() - 1);
          if (to >= max_states) {
            error = "the patterns need more than " + std::to_string(max_states) +
                    " automaton states, beyond the limit of " + std::to_string(max_states) + " states";
            return nullptr;
          }
          pool.insert(pool.end(), set.begin(), set.end());
          first.push_back(static_cast<std::uint32_t>(pool.size()));
          committed.push_back(commit);
          next.resize(next.size() + stride, 0);
          pat.push_back(kNoPattern);
          len.push_back(0);
          table[i] = to;
          if (2 * (first.size() - 1) > table.size()) {  // keep the table at most half full
            table.assign(table.size() * 2, kNoPattern);
            for (std::uint32_t r = 0; r + 1 < first.size(); ++r) insert(r);
          }
        }
      }
      next[std::size_t{q} * stride + c] = to;
      if (root_alone) root_only[c] = to;
    }
  }
  const std::size_t n_states = first.size() - 1;
  a->emit(next, pat, len, order, n_states);
  return a;
}

}  // namespace tarnwhisk
