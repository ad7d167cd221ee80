#include "error.h"

#include <system_error>

namespace velko {

Error Error::io(std::string path, int os_error) {
  Error e;
  e.kind = Kind::Io;
  e.path = std::move(path);
  e.os_error = os_error;
  e.source = std::generic_category().message(os_error);
  return e;
}

Error Error::malformed(std::string library_text) {
  Error e;
  e.kind = Kind::Malformed;
  e.source = std::move(library_text);
  return e;
}

Error Error::page_missing(std::uint32_t page) {
  Error e;
  e.kind = Kind::PageMissing;
  e.page = page;
  return e;
}

std::string Error::message() const {
  switch (kind) {
    case Kind::Io:
      return "could not read `" + path + "`: " + source;
    case Kind::Malformed:
      return "malformed PDF: " + source;
    case Kind::PageMissing:
      return "page " + std::to_string(page) + " does not exist in this document";
  }
  return source;
}

}  // namespace velko
