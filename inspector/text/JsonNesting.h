// How deep a JSON text nests, counted before it is parsed: a text from a
// file or a document decides how deep the parser and every later walk of
// the value go, so a text that nests too deep is refused first.
#ifndef MORVEN_JSONNESTING_H
#define MORVEN_JSONNESTING_H

#include <algorithm>
#include <string_view>

namespace morven {

// Largest nesting of arrays and objects in a JSON text, strings skipped.
inline int jsonNestingDepth(std::string_view text) {
  int depth = 0, deepest = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

}  // namespace morven

#endif  // MORVEN_JSONNESTING_H
