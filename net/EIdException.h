#pragma once

#include <exception>
#include <string>
#include <utility>

namespace kv::net {

// Root of every failure raised by the connection layer and the HTTP client. Each class reports
// its own name, so tools and tests can show which failure it was without RTTI tricks.
class EIdException : public std::exception {
 public:
  explicit EIdException(std::string message = {}) : m_message(std::move(message)) {}

  const char* what() const noexcept override { return m_message.c_str(); }
  const std::string& Message() const noexcept { return m_message; }
  virtual const char* ClassName() const noexcept { return "EIdException"; }

 private:
  std::string m_message;
};

// Declares an exception class that only adds its name. Classes with a fixed message give
// themselves a default constructor instead of using this.
#define KV_DECLARE_EXCEPTION(Name, Base)                              \
  class Name : public Base {                                          \
   public:                                                            \
    using Base::Base;                                                 \
    const char* ClassName() const noexcept override { return #Name; } \
  }

// Declares an exception class whose default message is fixed text.
#define KV_DECLARE_EXCEPTION_WITH_TEXT(Name, Base, Text)              \
  class Name : public Base {                                          \
   public:                                                            \
    using Base::Base;                                                 \
    Name() : Base(Text) {}                                            \
    const char* ClassName() const noexcept override { return #Name; } \
  }

// Failures of our own streams (a file that cannot be created, a short write).
KV_DECLARE_EXCEPTION(EIdStreamError, EIdException);

}  // namespace kv::net
