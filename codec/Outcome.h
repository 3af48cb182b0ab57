#pragma once

// What a plain function of the core gives back when it can fail: its value,
// or a Failure saying why not. One shape for every such function, so that a
// caller always asks the same way ("if (!outcome)") and always finds the
// reason in the same place.

#include <utility>
#include <variant>

#include <QString>

namespace pixquill {

// Why something was not done. Reason is a short text in the program's words,
// ready to be shown after a name or in a caption, with the system's or the
// library's own words in brackets where they say more. Code tells failures
// apart where a caller must act on which one it was (each function names its
// codes); 0 where there is only one kind.
struct Failure {
    QString Reason;
    int Code = 0;

    friend bool operator==(const Failure&, const Failure&) = default;
};

// A value of T, or a Failure. Outcome<> carries no value: it only says
// whether the work was done.
template <typename T = void>
class [[nodiscard]] Outcome {
public:
    Outcome(T value) : m_state(std::move(value)) {}
    Outcome(Failure failure) : m_state(std::move(failure)) {}

    bool Ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return Ok(); }

    // Only when Ok().
    const T& Value() const& { return std::get<0>(m_state); }
    T& Value() & { return std::get<0>(m_state); }
    T&& Value() && { return std::get<0>(std::move(m_state)); }
    const T& operator*() const& { return Value(); }
    const T* operator->() const { return &Value(); }

    // Only when !Ok().
    const Failure& Error() const { return std::get<1>(m_state); }
    // The reason, or an empty text when Ok().
    QString Reason() const { return Ok() ? QString() : Error().Reason; }

private:
    std::variant<T, Failure> m_state;
};

template <>
class [[nodiscard]] Outcome<void> {
public:
    Outcome() = default; // done
    Outcome(Failure failure) : m_failed(true), m_failure(std::move(failure)) {}

    bool Ok() const { return !m_failed; }
    explicit operator bool() const { return Ok(); }

    // Only when !Ok().
    const Failure& Error() const { return m_failure; }
    // The reason, or an empty text when Ok().
    QString Reason() const { return m_failure.Reason; }

private:
    bool m_failed = false;
    Failure m_failure;
};

} // namespace pixquill
