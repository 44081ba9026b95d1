#pragma once
// Assignable objects: dest.Assign(source) copies what the two classes agree
// on; a pair that does not know each other raises EConvertError.

#include "framework/class_name.h"

namespace ah {

class TPersistent {
 public:
  TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;
  virtual ~TPersistent() = default;

  // Default: asks the source to copy itself into this object.
  virtual void Assign(const TPersistent& source);
  AH_CLASS_NAME(TPersistent)

 protected:
  // Default: "Cannot assign a <source class> to a <dest class>".
  virtual void AssignTo(TPersistent& dest) const;
  // Raises the refusal for a source this object cannot take.
  [[noreturn]] void AssignError(const TPersistent* source) const;
};

}  // namespace ah
