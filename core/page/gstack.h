// The q/Q stack of the content walkers (text runs, table rules), bounded.
//
// A content stream of a few kilobytes can inflate to hundreds of millions of
// q operators; saving a state for each would cost gigabytes. Real documents
// nest a few levels deep, so beyond kMaxGraphicsNesting levels a q is only
// counted: it saves nothing, and the Q that closes it restores nothing. The
// count keeps every later Q matched with its own q, so the state saved at
// the deepest kept level comes back exactly when that level closes and
// drawing after an excess of q stays where it belongs.
#pragma once

#include <cstdint>
#include <vector>

namespace vellum {

inline constexpr uint64_t kMaxGraphicsNesting = 256;

template <class State>
class GraphicsStack {
 public:
  // q: save `state` (at most kMaxGraphicsNesting levels are kept).
  void save(const State& state) {
    if (depth_++ < kMaxGraphicsNesting) saved_.push_back(state);
  }
  // Q: restore the state its q saved, if it saved one; a Q with no open q is
  // ignored.
  void restore(State& state) {
    if (depth_ == 0) return;
    if (depth_-- <= kMaxGraphicsNesting) {
      state = saved_.back();
      saved_.pop_back();
    }
  }

 private:
  std::vector<State> saved_;
  uint64_t depth_ = 0;  // open q levels, kept or not
};

}  // namespace vellum
