// The registry calls of a module, seen from outside: its imports of the registry functions are
// redirected here, where each call is counted by kind and a chosen one can be made to fail. For
// benchmarks (calls per banknote) and for tests that need a registry failure at one exact step.
#pragma once
#include <windows.h>
#include <array>
#include <string>

namespace Host {

enum class RegCall { Open, Create, Query, Set, Delete, EnumValue, EnumKey, QueryInfo, Close, Notify };
inline constexpr size_t kRegCallKinds = 10;

class RegistryCalls {
public:
    using Counts = std::array<unsigned long long, kRegCallKinds>;

    // Redirects the module's registry imports; calls are counted from then on. Repeatable.
    static void Redirect(HMODULE module);
    static Counts Taken();  // calls made since the last Reset
    static void Reset();
    static unsigned long long Total(const Counts& counts);
    // The kinds in words ("query", "value enumeration"), for printing counts.
    static const char* Name(RegCall kind);
    // "128 queries, 8 sets, ..." of the kinds with calls, largest first, each divided by `per`.
    static std::string Describe(const Counts& counts, double per = 1.0);

    // The `nth` call of `kind` from now on (1: the next one) does nothing and answers `error`.
    static void FailAt(RegCall kind, unsigned nth, LONG error);
    static void ClearFailure();
    // Whether the armed failure was answered since FailAt.
    static bool FailureHit();
};

}  // namespace Host
