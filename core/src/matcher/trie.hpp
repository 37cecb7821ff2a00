// A trie of byte strings: the first step of the set automaton (automaton_sets.cpp, words
// whose letters accept several bytes) and of the allowlist's (allowlist.cpp). Each
// resolves its failure links its own way over it: the matcher's are leftmost-longest (a
// node that ends a word fails to DEAD), the allowlist's report the longest term ending
// at every byte. The literal automaton (automaton.cpp) builds its trie straight into its
// dense table instead: going through this one cost its build 14 %.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

namespace tarnwhisk {

class Trie {
 public:
  static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

  struct Node {
    std::uint32_t label = 0;     // of the edge from the parent
    std::uint32_t depth = 0;     // bytes from the root
    std::uint32_t word = kNone;  // the first (lowest) id added for the string that ends here
    // The children as a list through the nodes themselves (one allocation for the whole
    // trie, not one per node: a word list's trie has thousands of nodes).
    std::uint32_t first_child = kNone, last_child = kNone, next_sibling = kNone;
  };

  // The root alone: node 0, depth 0.
  Trie() : nodes_(1) {}

  // Adds `word` under `id`, each byte b taken as the edge label `label(b)`; new nodes are
  // numbered in the order they are made. Returns false when that would take more than
  // `max_nodes` nodes, the root included (the nodes made before stay).
  template <class Label>
  bool add(std::string_view word, std::uint32_t id, Label&& label,
           std::size_t max_nodes = std::numeric_limits<std::size_t>::max()) {
    std::uint32_t s = 0;
    for (char ch : word) {
      const std::uint32_t l = label(static_cast<unsigned char>(ch));
      std::uint32_t t = child(s, l);
      if (t == kNone) {
        if (nodes_.size() >= max_nodes) return false;
        t = static_cast<std::uint32_t>(nodes_.size());
        Node fresh;
        fresh.label = l;
        fresh.depth = nodes_[s].depth + 1;
        nodes_.push_back(fresh);
        Node& parent = nodes_[s];
        if (parent.last_child == kNone) {
          parent.first_child = t;
        } else {
          nodes_[parent.last_child].next_sibling = t;
        }
        parent.last_child = t;
      }
      s = t;
    }
    if (nodes_[s].word == kNone) nodes_[s].word = id;
    return true;
  }

  // The child of node s along `label`, or kNone.
  std::uint32_t child(std::uint32_t s, std::uint32_t label) const noexcept {
    for (std::uint32_t c = nodes_[s].first_child; c != kNone; c = nodes_[c].next_sibling)
      if (nodes_[c].label == label) return c;
    return kNone;
  }

  // Calls f(label, child) for each child of node s, in the order they were added.
  template <class F>
  void for_each_child(std::uint32_t s, F&& f) const {
    for (std::uint32_t c = nodes_[s].first_child; c != kNone; c = nodes_[c].next_sibling) f(nodes_[c].label, c);
  }

  // Every node, the root first, parents before children, siblings in the order added.
  std::vector<std::uint32_t> breadth_first() const {
    std::vector<std::uint32_t> order;
    order.reserve(nodes_.size());
    order.push_back(0);
    for (std::size_t i = 0; i < order.size(); ++i)
      for (std::uint32_t c = nodes_[order[i]].first_child; c != kNone; c = nodes_[c].next_sibling) order.push_back(c);
    return order;
  }

  std::size_t size() const noexcept { return nodes_.size(); }
  const Node& operator[](std::uint32_t s) const noexcept { return nodes_[s]; }

 private:
  std::vector<Node> nodes_;
};

}  // namespace tarnwhisk
