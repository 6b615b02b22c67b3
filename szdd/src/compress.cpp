// Optimal-parse compressor for SZDD mode "A".
//
// Every parse of the input is a path over positions 0..n: a literal is an
// edge i -> i+1 costing 9 bits, a match an edge i -> i+k costing 17 bits for
// any k from 3 to the longest match at i (every prefix of a match is a match,
// and the distance does not change the cost).  The file's length is
// 14 + ceil(bits / 8), which grows with the bit count, so the shortest path
// in bits is the smallest file.  The path is found backwards in one sweep.
//
// Match finding: a binary tree per three-byte hash bucket, as in LZMA's
// "bt" match finder, over a virtual buffer made of the ring's 4,096 initial
// blanks followed by the input.  A match at input position i may start at
// any earlier position at most 4,096 back, blanks included; copies are byte
// by byte, so a match may run past i (overlap).  Each tree keeps the
// positions of its bucket sorted by their next 18 bytes, the most recent at
// the root; the walk that inserts position i passes by its sorted
// neighbours, so it sees the longest match exactly, in O(depth) steps.
// Nodes are only ever older than their parents, so the walk stops at the
// first node that has left the window.
//
// Pass 1 stores the longest match length of every position (one byte per
// input byte), the backward sweep turns it into the chosen length in place,
// and pass 2 walks the input again, taking the source of each chosen match
// from the same tree walk.
#include <algorithm>
#include <bitset>
#include <bit>
#include <cstring>
#include <memory>

#include "szdd/szdd.hpp"

namespace szdd {
namespace {

constexpr unsigned kHashBits = 15;
constexpr std::uint32_t kWindow = kRingSize;

inline std::uint32_t hash3(const std::uint8_t* p) {
  const std::uint32_t v = p[0] | p[1] << 8 | p[2] << 16;
  return (v * 2654435761u) >> (32 - kHashBits);
}

// Extends a common prefix of a and b from `len` up to at most `limit`
// (<= 18) bytes; reads nothing at or beyond a + limit or b + limit.
inline unsigned extend(const std::uint8_t* a, const std::uint8_t* b, unsigned len,
                       unsigned limit) {
  if constexpr (std::endian::native == std::endian::little) {
    while (len + 8 <= limit) {
      std::uint64_t x, y;
      std::memcpy(&x, a + len, 8);
      std::memcpy(&y, b + len, 8);
      if (x != y) return len + static_cast<unsigned>(std::countr_zero(x ^ y)) / 8;
      len += 8;
    }
  }
  while (len < limit && a[len] == b[len]) ++len;
  return len;
}

// Global positions: the blanks are [kBlanks, kBase), input byte i is at
// kBase + i; 0 means "no node" and is always outside the window.
constexpr std::uint32_t kBlanks = 2 * kWindow;
constexpr std::uint32_t kBase = kBlanks + kWindow;
constexpr std::uint32_t kCyclic = 2 * kWindow;  // node slots, power of two

class MatchFinder {
 public:
  explicit MatchFinder(std::span<const std::uint8_t> input) : in_(input) {
    // The head buffer: the blanks and the first input bytes, enough for
    // every comparison made while coding the first 4,096 positions.
    const std::size_t k = std::min<std::size_t>(input.size(), kWindow + 2 * kMaxMatch);
    head_.assign(kWindow, kRingFill);
    head_.insert(head_.end(), input.begin(), input.begin() + k);
    head_.resize(head_.size() + kMaxMatch, 0);  // padding, never matched
    std::fill(std::begin(heads_), std::end(heads_), 0u);
    std::fill(std::begin(son_), std::end(son_), 0u);
    // Insert the blanks: each has the 18 bytes that follow it in the ring.
    for (std::uint32_t g = kBlanks; g < kBase; ++g) {
      const std::uint64_t avail = input.size() + (kBase - g);
      if (avail >= kMinMatch)
        insert(g, static_cast<unsigned>(std::min<std::uint64_t>(avail, kMaxMatch)),
               [](unsigned, std::uint32_t) {});
    }
  }

  // Pointer to global position g while coding position `cur`: every
  // position touched then lies in [cur - 4096, cur + 18).
  const std::uint8_t* at(std::uint32_t cur, std::uint32_t g) const {
    return cur < kBase + kWindow ? head_.data() + (g - kBlanks) : in_.data() + (g - kBase);
  }

  // Inserts position g (with at least `limit` >= 3 bytes from it) and calls
  // on_match(length, source) for each longer match met on the way, lengths
  // rising from 3 to the longest.
  template <class F>
  void insert(std::uint32_t g, unsigned limit, F&& on_match) {
    const std::uint8_t* cur = at(g, g);
    const std::uint32_t h = hash3(cur);
    std::uint32_t m = heads_[h];
    heads_[h] = g;
    std::uint32_t* ptr0 = &son_[2 * (g & (kCyclic - 1)) + 1];  // greater side
    std::uint32_t* ptr1 = &son_[2 * (g & (kCyclic - 1))];      // smaller side
    unsigned len0 = 0, len1 = 0, best = kMinMatch - 1;
    for (unsigned steps = 0;; ++steps) {
      const std::uint32_t delta = g - m;
      if (delta > kWindow || steps > kWindow) {
        *ptr0 = *ptr1 = 0;
        return;
      }
      std::uint32_t* pair = &son_[2 * (m & (kCyclic - 1))];
      const std::uint8_t* pb = at(g, m);
      unsigned len = std::min(len0, len1);
      if (pb[len] == cur[len]) {
        len = extend(pb, cur, len + 1, limit);
        if (len > best) {
          best = len;
          on_match(len, m);
          if (len == limit) {  // equal: the new node takes m's place
            *ptr1 = pair[0];
            *ptr0 = pair[1];
            return;
          }
        }
      }
      if (pb[len] < cur[len]) {
        *ptr1 = m;
        ptr1 = pair + 1;
        m = *ptr1;
        len1 = len;
      } else {
        *ptr0 = m;
        ptr0 = pair;
        m = *ptr0;
        len0 = len;
      }
    }
  }

 private:
  std::span<const std::uint8_t> in_;
  std::vector<std::uint8_t> head_;
  std::uint32_t heads_[1u << kHashBits];
  std::uint32_t son_[2 * kCyclic];
};

// Pass 2 only needs a source for each chosen match, whose length is known
// to be available: hash chains, cheap to keep up, searched only at match
// starts, and stopped at the first candidate that is long enough.
class ChainFinder {
 public:
  explicit ChainFinder(const MatchFinder& tree, std::size_t n) : tree_(tree) {
    std::fill(std::begin(heads_), std::end(heads_), 0u);
    std::fill(std::begin(prev_), std::end(prev_), 0u);
    for (std::uint32_t g = kBlanks; g < kBase; ++g)
      if (n + (kBase - g) >= kMinMatch) insert(g);
  }

  void insert(std::uint32_t g) {
    const std::uint32_t h = hash3(tree_.at(g, g));
    prev_[g & (kWindow - 1)] = heads_[h];
    heads_[h] = g;
  }

  // A source of a match of exactly k bytes at g (one is known to exist).
  std::uint32_t find(std::uint32_t g, unsigned k) const {
    const std::uint8_t* cur = tree_.at(g, g);
    std::uint32_t last = g;
    for (std::uint32_t c = heads_[hash3(cur)]; c < last && g - c <= kWindow;
         last = c, c = prev_[c & (kWindow - 1)])
      if (extend(tree_.at(g, c), cur, 0, k) == k) return c;
    return 0;  // not reached: pass 1 found such a match
  }

 private:
  const MatchFinder& tree_;
  std::uint32_t heads_[1u << kHashBits];
  std::uint32_t prev_[kWindow];
};

unsigned limit_at(std::size_t i, std::size_t n) {
  return static_cast<unsigned>(std::min<std::size_t>(kMaxMatch, n - i));
}

void report(const CompressOptions& o, std::uint64_t done, std::uint64_t total) {
  if (o.progress) o.progress(done, total);
}

// Alignment of the file's length.  Every parse costs at least the optimum in
// bits, and the file is 14 + ceil(bits / 8) bytes long, so the smallest
// aligned file is the parse with the least slack (bits above the optimum)
// whose length fits.  Over a suffix of the input that starts on the optimal
// path, a backward sweep finds for every position the set of slacks that
// some parse of the rest reaches, next to the optimum of the rest; a forward
// walk then follows a parse with the slack wanted.  Near-optimal parses are
// plentiful, so a short suffix almost always suffices; it grows only when
// it does not.
using SlackSet = std::bitset<128>;  // bit s: slack s reachable
constexpr unsigned kMaxSlack = 127;

class SuffixSlacks {
 public:
  SuffixSlacks(const std::vector<std::uint8_t>& longest, std::size_t from)
      : longest_(longest), from_(from), best_(longest.size() - from + 1, 0),
        reach_(longest.size() - from + 1, 0) {
    const std::size_t n = longest.size();
    reach_[n - from] = 1;
    for (std::size_t i = n; i-- > from;) {
      std::uint64_t best = kLiteralBits + best_at(i + 1);
      for (unsigned k = kMinMatch; k <= longest[i]; ++k)
        best = std::min<std::uint64_t>(best, kMatchBits + best_at(i + k));
      best_[i - from] = best;
      SlackSet reach = 0;
      for_each_edge(i, [&](unsigned, unsigned slack, SlackSet next) {
        reach |= next << slack;
        return false;
      });
      reach_[i - from] = reach;
    }
  }

  bool reaches(unsigned slack) const { return reach_[0].test(slack); }

  // Rewrites choice[from, n) to a parse of exactly `slack` bits above the
  // optimum of the suffix.
  void follow(unsigned slack, std::vector<std::uint8_t>& choice) const {
    for (std::size_t i = from_; i < longest_.size();) {
      unsigned taken = 0;
      for_each_edge(i, [&](unsigned length, unsigned edge_slack, SlackSet next) {
        if (edge_slack > slack || !next.test(slack - edge_slack)) return false;
        taken = length;
        slack -= edge_slack;
        return true;
      });
      choice[i] = static_cast<std::uint8_t>(taken == 1 ? 0 : taken);
      i += taken;
    }
  }

 private:
  std::uint64_t best_at(std::size_t i) const { return best_[i - from_]; }

  // Calls visit(length, slack of the edge, slacks reached behind it) for the
  // literal and each match at i, until visit returns true.
  template <class F>
  void for_each_edge(std::size_t i, F&& visit) const {
    const auto edge = [&](unsigned length, unsigned bits) {
      const std::uint64_t slack = bits + best_at(i + length) - best_at(i);
      return slack <= kMaxSlack &&
             visit(length, static_cast<unsigned>(slack), reach_[i + length - from_]);
    };
    if (edge(1, kLiteralBits)) return;
    for (unsigned k = kMinMatch; k <= longest_[i]; ++k)
      if (edge(k, kMatchBits)) return;
  }

  const std::vector<std::uint8_t>& longest_;
  std::size_t from_;
  std::vector<std::uint64_t> best_;
  std::vector<SlackSet> reach_;
};

bool length_fits(std::uint64_t before, std::uint64_t bits) {
  return (before + kHeaderSize + (bits + 7) / 8) % 8 == 0;
}

// Turns the optimal `choice` into the cheapest parse whose file, behind
// `before` bytes, ends on a multiple of 8; false when none does.
bool align_parse(const std::vector<std::uint8_t>& longest, std::uint64_t optimum_bits,
                 std::uint64_t before, std::vector<std::uint8_t>& choice) {
  const std::size_t n = longest.size();
  for (std::size_t span = 1 << 16;; span *= 8) {
    std::size_t from = 0;  // the first position of the optimal path in the span
    while (from + span < n) from += choice[from] ? choice[from] : 1;
    const SuffixSlacks slacks(longest, from);
    for (unsigned slack = 0; slack <= kMaxSlack; ++slack)
      if (slacks.reaches(slack) && length_fits(before, optimum_bits + slack)) {
        slacks.follow(slack, choice);
        return true;
      }
    if (from == 0) return false;
  }
}

}  // namespace

std::vector<std::uint8_t> longest_matches(std::span<const std::uint8_t> input) {
  const std::size_t n = input.size();
  std::vector<std::uint8_t> len(n, 0);
  auto mf = std::make_unique<MatchFinder>(input);
  for (std::size_t i = 0; i + kMinMatch <= n; ++i)
    mf->insert(static_cast<std::uint32_t>(kBase + i), limit_at(i, n),
               [&](unsigned l, std::uint32_t) { len[i] = static_cast<std::uint8_t>(l); });
  return len;
}

std::vector<std::uint8_t> compress(std::span<const std::uint8_t> input,
                                   const CompressOptions& options,
                                   CompressStats* stats) {
  const std::size_t n = input.size();
  if (n > 0xFFFFFFFFu - kBase - kMaxMatch)
    throw Error(ErrorKind::too_large,
                "input of " + std::to_string(n) +
                    " bytes is too large for an SZDD file (its size field has 32 bits)");
  const std::uint64_t work = 2 * static_cast<std::uint64_t>(n);
  constexpr std::size_t kReportEvery = 1 << 18;

  // Pass 1: longest match everywhere.
  std::vector<std::uint8_t> choice(n, 0), longest;
  {
    auto mf = std::make_unique<MatchFinder>(input);
    for (std::size_t i = 0; i + kMinMatch <= n; ++i) {
      mf->insert(static_cast<std::uint32_t>(kBase + i), limit_at(i, n),
                 [&](unsigned l, std::uint32_t) { choice[i] = static_cast<std::uint8_t>(l); });
      if ((i & (kReportEvery - 1)) == 0) report(options, i, work);
    }
  }

  if (options.align_after) longest = choice;

  // Backward sweep: cost[i] = cheapest coding of input[i, n), in bits.
  // Only the next 18 costs are needed at a time.
  constexpr std::size_t kRing = 32;
  std::uint64_t cost[kRing] = {};
  for (std::size_t i = n; i-- > 0;) {
    std::uint64_t best = kLiteralBits + cost[(i + 1) % kRing];
    unsigned pick = 0;
    for (unsigned k = kMinMatch, m = choice[i]; k <= m; ++k) {
      const std::uint64_t c = kMatchBits + cost[(i + k) % kRing];
      const bool better = c <= best;  // ties: the longer match, fewer items
      best = better ? c : best;
      pick = better ? k : pick;
    }
    cost[i % kRing] = best;
    choice[i] = static_cast<std::uint8_t>(pick);
  }
  const std::uint64_t optimum_bits = cost[0];
  const bool aligned = options.align_after &&
                       align_parse(longest, optimum_bits, *options.align_after, choice);

  // Pass 2: emit the chosen path.
  std::vector<std::uint8_t> out;
  out.reserve(kHeaderSize + n + n / 8 + 2);
  Header h;
  h.last_char = options.last_char;
  h.expanded_size = static_cast<std::uint32_t>(n);
  const auto hdr = make_header(h);
  out.insert(out.end(), hdr.begin(), hdr.end());

  std::uint64_t literals = 0, matches = 0;
  {
    auto tree = std::make_unique<MatchFinder>(input);  // for its buffers
    auto mf = std::make_unique<ChainFinder>(*tree, n);
    std::size_t flag_at = 0, next_report = kReportEvery;
    unsigned items = 8;
    for (std::size_t i = 0; i < n;) {
      if (items == 8) {
        flag_at = out.size();
        out.push_back(0);
        items = 0;
      }
      if (i >= next_report) {
        report(options, n + i, work);
        next_report += kReportEvery;
      }
      const unsigned k = choice[i];
      const auto g = static_cast<std::uint32_t>(kBase + i);
      if (k == 0) {
        out[flag_at] |= static_cast<std::uint8_t>(1u << items);
        out.push_back(input[i]);
        if (n - i >= kMinMatch) mf->insert(g);
        ++i;
        ++literals;
      } else {
        const std::uint32_t src = mf->find(g, k);
        const unsigned ring = (src - kBlanks - 16) & 0xFFF;  // ring slot of src
        out.push_back(static_cast<std::uint8_t>(ring & 0xFF));
        out.push_back(static_cast<std::uint8_t>((ring >> 4 & 0xF0) | (k - kMinMatch)));
        for (unsigned j = 0; j < k; ++j)
          if (n - (i + j) >= kMinMatch) mf->insert(g + j);
        i += k;
        ++matches;
      }
      ++items;
    }
  }
  report(options, work, work);

  if (stats) {
    stats->input_bytes = n;
    stats->literals = literals;
    stats->matches = matches;
    stats->optimum_bits = optimum_bits;
    stats->optimum_bytes = kHeaderSize + (optimum_bits + 7) / 8;
    stats->output_bytes = out.size();
    stats->aligned = aligned;
  }
  return out;
}

}  // namespace szdd
