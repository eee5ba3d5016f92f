// A JSON document of a known shape read with bounds: the containers the
// shape names are built, each list up to the entries a valid document can
// hold; a longer list is refused at the entry past its bound, before it is
// built, and a container the shape does not name is kept empty, its
// content read and dropped. So the memory a hostile document takes is
// bounded by its shape, not by its text. The merge reads statistics documents this way
// (StatisticsDocument).
#ifndef MORVEN_BOUNDEDJSON_H
#define MORVEN_BOUNDEDJSON_H

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace morven {

// One container of the shape: its path ("statistics.toa.counts", with "[]"
// for any entry of a list: "files[].errors"), whether it is a list or an
// object, and for a list the most entries it may hold and what they are
// (for the message).
struct JsonShape {
  std::string_view path;
  bool list;
  size_t entries = 0;
  const char* what = "";
};

// The entries of a list handed to the caller one by one as each is
// complete, instead of being kept in the list (which stays empty): the
// entry and its index.
using TakeEntry = std::function<void(nlohmann::json& entry, size_t index)>;

struct BoundedParse {
  nlohmann::json value;
  bool syntaxError = false;  // not JSON text
  std::string refusal;       // a container past its bound: why (path and bound)
  std::string refusedPath;   // the path of that container, as named in refusal
};

// Reads text as the shape says. A container of another kind than the shape
// names (an object where a list belongs), or at a place the shape does not
// name, is kept empty: its readers refuse its kind as they would refuse
// any other member of the wrong type. Every
// object holds at most maxMembers members. The lists at the paths of
// handOver give their entries to the functions there.
BoundedParse parseBounded(const std::string& text, std::span<const JsonShape> shape,
                          size_t maxMembers,
                          std::span<const std::pair<std::string_view, TakeEntry>> handOver);

// Whether text is JSON as far as it goes: for a text cut short, which a
// parse refuses at its end anyway.
bool jsonAsFarAsItGoes(const std::string& text);

}  // namespace morven

#endif  // MORVEN_BOUNDEDJSON_H
