// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <utility>

namespace tavrin::base {

// Why something failed: a code for the program to tell cases apart and a text for the
// user that says what happened and what to do. The code is of one of three kinds, and
// says which: an errno value, a component-model status (an HRESULT), or a library's own
// code (libavcodec's AVERROR and the like); interfaces that return a status convert at
// their edge. An Error made empty is success; as a condition, an Error is true when
// something failed (as std::error_code is).
struct Error {
    enum class Kind : unsigned char { System, Status, Library };

    Error() = default;
    static Error system(int errnoValue, std::string text) {
        return {errnoValue, std::move(text), Kind::System};
    }
    static Error status(int hresult, std::string text) { return {hresult, std::move(text), Kind::Status}; }
    static Error library(int code, std::string text) { return {code, std::move(text), Kind::Library}; }

    int code = 0;
    std::string text;
    Kind kind = Kind::System;

    explicit operator bool() const { return code != 0; }

  private:
    Error(int c, std::string t, Kind k) : code(c), text(std::move(t)), kind(k) {}
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
