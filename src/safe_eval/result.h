// A success value or an error message: how every operation of the rewriter answers.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace lumra::safe_eval {

template <class T>
class Result {
public:
    // By reference: a tree moved through a by-value parameter would be moved twice.
    Result(T&& value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(google-explicit-constructor)
    Result(const T& value) : v_(std::in_place_index<0>, value) {}       // NOLINT(google-explicit-constructor)
    static Result failure(std::string message) { return Result(std::in_place_index<1>, std::move(message)); }

    bool ok() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    const std::string& error() const& { return std::get<1>(v_); }
    std::string&& error() && { return std::get<1>(std::move(v_)); }

private:
    template <std::size_t I, class U>
    Result(std::in_place_index_t<I> tag, U&& u) : v_(tag, std::forward<U>(u)) {}

    std::variant<T, std::string> v_;
};

}  // namespace lumra::safe_eval
