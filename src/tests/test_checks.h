// Checks shared by nimbo's unit tests (GoogleTest; kept apart from test_helpers.h, which the
// benchmarks use without GoogleTest).
#pragma once

#include <nimbo/nimbo_exception.h>

#include <gtest/gtest.h>
#include <Interface_Static.hxx>

#include <functional>
#include <string>

namespace nimbo::test {

/// Checks that `call` throws nimbo_exception with exactly `message`.
inline void expectRefusal(const std::function<void()> &call, const std::string &message) {
  try {
    call();
    ADD_FAILURE() << "expected nimbo_exception: " << message;
  } catch (const nimbo_exception &error) {
    EXPECT_EQ(std::string(error.what()), message);
  }
}

/// Sets a process-wide kernel parameter for the scope and restores it afterwards.
class ScopedStatic {
 public:
  ScopedStatic(std::string name, const std::string &value)
      : name_(std::move(name)), saved_(Interface_Static::CVal(name_.c_str())) {
    EXPECT_TRUE(Interface_Static::SetCVal(name_.c_str(), value.c_str())) << name_;
  }
  ~ScopedStatic() { Interface_Static::SetCVal(name_.c_str(), saved_.c_str()); }
  ScopedStatic(const ScopedStatic &) = delete;
  ScopedStatic &operator=(const ScopedStatic &) = delete;

 private:
  std::string name_;
  std::string saved_;
};

}  // namespace nimbo::test
