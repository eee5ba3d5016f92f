// Writing a file that a viewer may be reading: the new content goes to a
// temporary file in the same directory, which then takes the name in one
// step (rename), so that a reader sees the old file or the new one, never
// half of one.
#ifndef MORVEN_REPLACEFILE_H
#define MORVEN_REPLACEFILE_H

#include <functional>
#include <string>

namespace morven {

// write(tmp, error) writes the content to the file tmp; false with a
// reason. False with the reason in error if the writing or the renaming
// failed (the temporary file is removed then).
bool replaceFile(const std::string& path, std::string& error,
                 const std::function<bool(const std::string&, std::string&)>& write);

// Writes the text to the file; false with the reason in error.
bool writeTextFile(const std::string& path, const std::string& text, std::string& error);

}  // namespace morven

#endif  // MORVEN_REPLACEFILE_H
