#pragma once
// The base exception of the whole system and the framework's own failures.

#include <exception>
#include <string>

#include "framework/class_name.h"

namespace ah {

// Every exception the system raises derives from this; Message() is the
// fixed text the raising site gives, byte for byte.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message = {}) : message_(std::move(message)) {}
  ~Exception() override = default;

  const std::string& Message() const { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }
  AH_CLASS_NAME(Exception)

 private:
  std::string message_;
};

// Integer and date conversions that cannot give a value, and refused
// assignments between persistent objects.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
  AH_CLASS_NAME(EConvertError)
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
  AH_CLASS_NAME(EStreamError)
};

// "Cannot create file "%s". %s"
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  AH_CLASS_NAME(EFCreateError)
};

// "Cannot open file "%s". %s"
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  AH_CLASS_NAME(EFOpenError)
};

class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  AH_CLASS_NAME(EReadError)
};

class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  AH_CLASS_NAME(EWriteError)
};

// "List index out of bounds (%d)"
class EStringListError : public Exception {
 public:
  using Exception::Exception;
  AH_CLASS_NAME(EStringListError)
};

}  // namespace ah
