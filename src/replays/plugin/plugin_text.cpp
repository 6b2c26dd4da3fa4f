#include "replays/plugin/plugin_text.h"

#include <locale>
#include <ostream>
#include <streambuf>

#include "replays/api/replays_text.h"

namespace Zorv::Client::Replays {

namespace {

// Appends everything written to a string of the caller's.
class StringOutput final : public std::streambuf {
 public:
  explicit StringOutput(std::string& text) : text_(text) {}

 protected:
  int_type overflow(int_type character) override {
    if (!traits_type::eq_int_type(character, traits_type::eof())) {
      text_.push_back(traits_type::to_char_type(character));
    }
    return traits_type::not_eof(character);
  }
  std::streamsize xsputn(const char* characters, std::streamsize count) override {
    text_.append(characters, static_cast<size_t>(count));
    return count;
  }

 private:
  std::string& text_;
};

}  // namespace

template <typename T>
std::string PluginText(const T& value) {
  std::string text;
  StringOutput buffer(text);
  std::ostream out(&buffer);
  out.imbue(std::locale::classic());
  out << value;
  return text;
}

template std::string PluginText(const Api::ReplayMetadata&);
template std::string PluginText(const LCDS::ReplayResponseStatus&);

}  // namespace Zorv::Client::Replays
