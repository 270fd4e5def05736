// The neighbour lists of the window classes without forming every class pair.
//
// Two classes lie within the radius only if they share most of the window's
// weight, most of it on the unbroken run outward from the centre. The
// classes go into a trie over their allele codes, markers taken outward from
// the centre. A query walks down it, following its own code as a match and
// every other code as a mismatch that ends the run on that side, and leaves a
// branch once the shared weight still within reach cannot bring the distance
// below the radius. The bound keeps a margin far above rounding, and each
// class reached is tested with the exact distance, so the lists are those a
// test of every pair gives, in the same ascending order.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "dbscan.h"

namespace {

// The centre, then the markers right and left of it alternately, outward.
std::vector<int> OutwardOrder(const WindowWeights& w) {
  std::vector<int> order{w.pos};
  const int hi = w.lo + w.Span() - 1;
  for (int d = 1; w.pos + d <= hi || w.pos - d >= w.lo; d++) {
    if (w.pos + d <= hi) order.push_back(w.pos + d);
    if (w.pos - d >= w.lo) order.push_back(w.pos - d);
  }
  return order;
}

// Classes sorted by their codes in outward order; a node holds the classes
// sorted[from .. to) that share the codes of its first `depth` markers, and
// its children are nodes[first .. first + count).
struct Trie {
  struct Node {
    int code, depth, from, to, first, count;
  };
  int span = 0;
  std::vector<int> keys;  // keys[c * span + t]: the code of class c at the t-th marker outward
  std::vector<int> sorted;
  std::vector<Node> nodes;
  int Key(int c, int t) const { return keys[static_cast<std::size_t>(c) * span + t]; }
};

Trie BuildTrie(const PositionState& s, const std::vector<int>& order) {
  Trie trie;
  const int C = s.numWindowClasses, span = trie.span = static_cast<int>(order.size());
  trie.keys.resize(static_cast<std::size_t>(C) * span);
  for (int c = 0; c < C; c++)
    for (int t = 0; t < span; t++)
      trie.keys[static_cast<std::size_t>(c) * span + t] =
          s.classCodes[static_cast<std::size_t>(c) * span + (order[t] - s.weights.lo)];
  trie.sorted.resize(C);
  std::iota(trie.sorted.begin(), trie.sorted.end(), 0);
  std::sort(trie.sorted.begin(), trie.sorted.end(), [&trie](int a, int b) {
    const int* ka = &trie.keys[static_cast<std::size_t>(a) * trie.span];
    const int* kb = &trie.keys[static_cast<std::size_t>(b) * trie.span];
    return std::lexicographical_compare(ka, ka + trie.span, kb, kb + trie.span);
  });
  // Breadth first, so that the children of a node are consecutive.
  trie.nodes.push_back({-1, 0, 0, C, 0, 0});
  for (std::size_t i = 0; i < trie.nodes.size(); i++) {
    const Trie::Node node = trie.nodes[i];
    if (node.to - node.from < 2 || node.depth == span) continue;
    const int first = static_cast<int>(trie.nodes.size());
    for (int a = node.from; a < node.to;) {
      const int code = trie.Key(trie.sorted[a], node.depth);
      int b = a + 1;
      while (b < node.to && trie.Key(trie.sorted[b], node.depth) == code) b++;
      trie.nodes.push_back({code, node.depth + 1, a, b, 0, 0});
      a = b;
    }
    trie.nodes[i].first = first;
    trie.nodes[i].count = static_cast<int>(trie.nodes.size()) - first;
  }
  return trie;
}

// What a query can still gain from depth t on: the identity weights, and the
// run weights of each side while its run lasts.
struct Reachable {
  std::vector<double> identity, right, left;
};

Reachable ReachableFrom(const std::vector<int>& order, int pos, int lo, const std::vector<double>& identity,
                        const std::vector<double>& run) {
  const std::size_t depth = order.size();
  Reachable r{std::vector<double>(depth + 1, 0.0), std::vector<double>(depth + 1, 0.0),
              std::vector<double>(depth + 1, 0.0)};
  for (std::size_t t = depth; t-- > 0;) {
    const int k = order[t];
    r.identity[t] = r.identity[t + 1] + identity[k - lo];
    r.right[t] = r.right[t + 1] + (k > pos ? run[k - lo] : 0.0);
    r.left[t] = r.left[t + 1] + (k < pos ? run[k - lo] : 0.0);
  }
  return r;
}

// The bound holds only for weights that cannot take shared weight away.
bool Prunable(const std::vector<double>& identity, const std::vector<double>& run, double total) {
  auto usable = [](double w) { return std::isfinite(w) && w >= 0.0; };
  return usable(total) && total > 0.0 && std::all_of(identity.begin(), identity.end(), usable) &&
         std::all_of(run.begin(), run.end(), usable);
}

}  // namespace

CDataPoints::ShareWeights CDataPoints::ShareWeightsOf(const WindowWeights& w) const {
  ShareWeights share{w.w1, w.w2, w.total};
  const double p0 = weightFuntionParm[0];
  if (weightFuntionClass == 3) {
    if (p0 != 1.0 && p0 != 3.0) std::fill(share.identity.begin(), share.identity.end(), 0.0);
    if (p0 != 2.0 && p0 != 3.0) std::fill(share.run.begin(), share.run.end(), 0.0);
    share.total = p0 == 1.0 ? w.sum1 : p0 == 2.0 ? w.sum2 : p0 == 3.0 ? w.sum1 + w.sum2 : std::nan("");
  }
  share.run[w.pos - w.lo] = 0.0;  // the centre starts the runs but adds no run weight
  return share;
}

void CDataPoints::FindNeighbourClasses(PositionState& s) const {
  const int C = s.numWindowClasses;
  const WindowWeights& w = s.weights;
  const ShareWeights share = ShareWeightsOf(w);
  const std::vector<int> order = OutwardOrder(w);
  const Trie trie = BuildTrie(s, order);
  const Reachable reach = ReachableFrom(order, w.pos, w.lo, share.identity, share.run);
  // A branch whose shared weight stays below this cannot hold a neighbour.
  const double need = Prunable(share.identity, share.run, share.total)
                          ? (1.0 - s.epslion) * share.total - 1e-9 * share.total
                          : -std::numeric_limits<double>::infinity();
  struct Step {
    int node;
    double shared;
    bool right, left;
  };
  std::vector<Step> stack;
  std::vector<int> candidates;
  s.neighbourStart.assign(C + 1, 0);
  s.neighbourClasses.clear();
  for (int query = 0; query < C; query++) {
    candidates.clear();
    stack.assign(1, Step{0, 0.0, true, true});
    while (!stack.empty()) {
      const Step step = stack.back();
      stack.pop_back();
      const Trie::Node& node = trie.nodes[step.node];
      const int t = node.depth;
      const double bound = step.shared + reach.identity[t] + (step.right ? reach.right[t] : 0.0) +
                           (step.left ? reach.left[t] : 0.0);
      if (bound < need) continue;
      if (node.count == 0) {
        candidates.insert(candidates.end(), trie.sorted.begin() + node.from, trie.sorted.begin() + node.to);
        continue;
      }
      const int k = order[t], own = trie.Key(query, t);
      const double identity = share.identity[k - w.lo], run = share.run[k - w.lo];
      for (int child = node.first; child < node.first + node.count; child++) {
        const bool match = trie.nodes[child].code == own;
        Step next{child, step.shared, step.right, step.left};
        if (k == w.pos) {
          next.right = next.left = match;
          if (match) next.shared += identity;
        } else {
          bool& side = k > w.pos ? next.right : next.left;
          if (match) next.shared += identity + (side ? run : 0.0);
          side = side && match;
        }
        stack.push_back(next);
      }
    }
    std::sort(candidates.begin(), candidates.end());
    for (int c : candidates)
      if (ClassDistance(s, query, c) < s.epslion) s.neighbourClasses.push_back(c);
    s.neighbourStart[query + 1] = static_cast<int>(s.neighbourClasses.size());
  }
}
