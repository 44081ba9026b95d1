#pragma once
// Run-time class names: messages such as "Cannot assign a %s to a %s" and
// "already registered with class name %s" print them.

#define AH_CLASS_NAME(name) \
  static const char* StaticClassName() { return #name; } \
  virtual const char* ClassName() const { return #name; }
