#include "run/BoundedJson.h"

#include <utility>
#include <vector>

namespace morven {

namespace {

using nlohmann::json;

// The parser's events (nlohmann's SAX interface) built into a value as the
// shape allows.
class Reader final : public nlohmann::json_sax<json> {
 public:
  Reader(std::span<const JsonShape> shape, size_t maxMembers,
         std::span<const std::pair<std::string_view, TakeEntry>> handOver)
      : _shape(shape), _maxMembers(maxMembers), _handOver(handOver) {}

  BoundedParse result;

  bool null() override { return scalar(json(nullptr)); }
  bool boolean(bool v) override { return scalar(json(v)); }
  bool number_integer(number_integer_t v) override { return scalar(json(v)); }
  bool number_unsigned(number_unsigned_t v) override { return scalar(json(v)); }
  bool number_float(number_float_t v, const string_t&) override { return scalar(json(v)); }
  bool string(string_t& v) override { return scalar(json(std::move(v))); }
  bool binary(binary_t&) override { return scalar(json()); }  // not in JSON text
  bool start_object(size_t) override { return open(false); }
  bool start_array(size_t) override { return open(true); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }

  // A member given twice would be read as its last value, the first one
  // built for nothing: refused, as no run writes it.
  bool key(string_t& k) override {
    Frame& object = _frames.back();
    if (object.value != nullptr) {
      if (++object.count > _maxMembers) {
        return refuse(_frames.size() - 1,
                      "has more than " + std::to_string(_maxMembers) + " members");
      }
      if (object.value->contains(k)) {
        const std::string name = nameOf(_frames.size() - 1);
        result.refusedPath = name.empty() ? k : name + "." + k;
        result.refusal = "member " + result.refusedPath + " is given twice";
        return false;
      }
    }
    _key = std::move(k);
    return true;
  }

  bool parse_error(size_t, const std::string&, const json::exception&) override {
    result.syntaxError = true;
    return false;
  }

 private:
  struct Frame {
    json* value = nullptr;             // nullptr: read and dropped
    std::string path;                  // the shape's path
    const JsonShape* shape = nullptr;  // nullptr for a dropped one
    bool list = false;
    size_t count = 0;  // entries or members so far
    std::string key;   // its key in the object it stands in
    const TakeEntry* take = nullptr;
    bool stored = false;  // a value was put in its parent for it
  };

  const JsonShape* shapeAt(const std::string& path) const {
    for (const JsonShape& s : _shape) {
      if (s.path == path) return &s;
    }
    return nullptr;
  }

  const TakeEntry* handOverAt(const std::string& path) const {
    for (const auto& [at, take] : _handOver) {
      if (at == path) return &take;
    }
    return nullptr;
  }

  // The member's name as the messages give it: "files[3].errors".
  std::string nameOf(size_t frame) const {
    std::string name;
    for (size_t i = 1; i <= frame; ++i) {
      const Frame& parent = _frames[i - 1];
      if (parent.list) {
        name += '[';
        name += std::to_string(parent.count - 1);
        name += ']';
      } else {
        if (!name.empty()) name += '.';
        name += _frames[i].key;
      }
    }
    return name;
  }

  bool refuse(size_t frame, const std::string& what) {
    result.refusedPath = nameOf(frame);
    result.refusal = "member " + result.refusedPath + " " + what;
    return false;
  }

  // Counts a new entry of the list it goes into; false past the bound.
  bool counted() {
    Frame& parent = _frames.back();
    if (parent.value == nullptr || !parent.list) return true;
    ++parent.count;
    if (parent.shape != nullptr && parent.count > parent.shape->entries) {
      return refuse(_frames.size() - 1, "has more than " + std::to_string(parent.shape->entries) +
                                            " " + parent.shape->what);
    }
    return true;
  }

  // Puts v where the next value goes; nullptr when it is dropped.
  json* place(json&& v) {
    if (_frames.empty()) {
      result.value = std::move(v);
      return &result.value;
    }
    Frame& parent = _frames.back();
    if (parent.value == nullptr) return nullptr;
    if (!parent.list) {
      json& member = (*parent.value)[_key];
      member = std::move(v);
      return &member;
    }
    parent.value->push_back(std::move(v));
    return &parent.value->back();
  }

  bool scalar(json&& v) {
    if (!_frames.empty() && !counted()) return false;
    if (!_frames.empty() && _frames.back().take != nullptr && _frames.back().value != nullptr) {
      (*_frames.back().take)(v, _frames.back().count - 1);
      return true;
    }
    place(std::move(v));
    return true;
  }

  bool open(bool list) {
    if (!_frames.empty() && !counted()) return false;
    Frame f;
    f.list = list;
    const bool parentKept = _frames.empty() || _frames.back().value != nullptr;
    if (parentKept) {
      if (!_frames.empty()) {
        const Frame& parent = _frames.back();
        f.key = parent.list ? std::string() : _key;
        f.path = parent.list           ? parent.path + "[]"
                 : parent.path.empty() ? _key
                                       : parent.path + "." + _key;
      }
      // A container the shape does not name, or of another kind than it
      // names, stays empty: its kind is still there for the readers.
      json* v = place(list ? json::array() : json::object());
      f.stored = v != nullptr;
      const JsonShape* shape = shapeAt(f.path);
      if (shape != nullptr && shape->list == list) {
        f.value = v;
        f.shape = shape;
        f.take = handOverAt(f.path);
      }
    }
    _frames.push_back(std::move(f));
    return true;
  }

  bool close() {
    const bool stored = _frames.back().stored;
    _frames.pop_back();
    if (_frames.empty() || !stored) return true;
    Frame& parent = _frames.back();
    if (parent.take != nullptr && parent.value != nullptr) {
      (*parent.take)(parent.value->back(), parent.count - 1);
      parent.value->erase(parent.value->end() - 1);
    }
    return true;
  }

  std::span<const JsonShape> _shape;
  size_t _maxMembers;
  std::span<const std::pair<std::string_view, TakeEntry>> _handOver;
  std::vector<Frame> _frames;
  std::string _key;
};

// Reads everything and keeps nothing: where the text stops being JSON.
class Scanner final : public nlohmann::json_sax<json> {
 public:
  size_t errorAt = 0;
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(size_t) override { return true; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return true; }
  bool start_array(size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(size_t position, const std::string&, const json::exception&) override {
    errorAt = position;
    return false;
  }
};

}  // namespace

BoundedParse parseBounded(const std::string& text, std::span<const JsonShape> shape,
                          size_t maxMembers,
                          std::span<const std::pair<std::string_view, TakeEntry>> handOver) {
  Reader reader(shape, maxMembers, handOver);
  if (!json::sax_parse(text, &reader) && reader.result.refusal.empty())
    reader.result.syntaxError = true;
  return std::move(reader.result);
}

bool jsonAsFarAsItGoes(const std::string& text) {
  Scanner scanner;
  if (json::sax_parse(text, &scanner)) return true;
  return scanner.errorAt >= text.size();
}

}  // namespace morven
