// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <utility>

namespace tavrin::base {

// Why something failed: a code for the program to tell cases apart (an errno value,
// a library's code, a component-model status) and a text for the user that says what
// happened and what to do. Code 0 is success; as a condition, an Error is true when
// something failed (as std::error_code is).
struct Error {
    int code = 0;
    std::string text;

    explicit operator bool() const { return code != 0; }
};

// A value, or the error that stood in its way; true when it holds the value.
template <class T> class Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }
    T& operator*() { return value_; }
    T* operator->() { return &value_; }
    const Error& error() const { return error_; }

  private:
    T value_{};
    Error error_;
};

} // namespace tavrin::base
