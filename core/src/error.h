// The engine's one error type and the Result wrapper that carries it. Failures are
// values: only opening a file and reading a page's resources can produce one.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace velko {

struct Error {
  enum class Kind : std::uint8_t { Io, Malformed, PageMissing };

  Kind kind = Kind::Malformed;
  std::string path;         // Io: the path as the caller gave it
  std::string source;       // Io: the system's error text; Malformed: the library's text
  int os_error = 0;         // Io: the errno value, so callers can tell "missing" from "denied"
  std::uint32_t page = 0;   // PageMissing: the page number

  static Error io(std::string path, int os_error);
  static Error malformed(std::string library_text);
  static Error page_missing(std::uint32_t page);

  // The display text; part of the interface (the Python binding passes it on).
  std::string message() const;
};

// Either a value or an Error.
template <class T>
class Result {
 public:
  Result(T value) : v_(std::move(value)) {}
  Result(Error error) : v_(std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const Error& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

}  // namespace velko
