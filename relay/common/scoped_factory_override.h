#pragma once
// How tests put a wrapper in place of a real object that cannot fail on demand (a database
// connection, the mail engine): a factory installed for the lifetime of one object, the way
// ScopedEnvOverride installs an Env. Code asks Installed() and makes the real object when it is
// empty. Tests only; single-threaded.

#include <functional>
#include <memory>
#include <utility>

namespace dbrelay {

template <typename Product>
class ScopedFactoryOverride {
 public:
  using Factory = std::function<std::unique_ptr<Product>()>;

  explicit ScopedFactoryOverride(Factory factory)
      : previous_(std::exchange(Slot(), std::move(factory))) {}
  ~ScopedFactoryOverride() { Slot() = std::move(previous_); }
  ScopedFactoryOverride(const ScopedFactoryOverride&) = delete;
  ScopedFactoryOverride& operator=(const ScopedFactoryOverride&) = delete;

  // The factory a test has installed; empty when none is.
  static const Factory& Installed() { return Slot(); }

 private:
  static Factory& Slot() {
    static Factory factory;
    return factory;
  }

  Factory previous_;
};

}  // namespace dbrelay
