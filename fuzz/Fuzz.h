// The fuzz drivers: each runs generated and mutated inputs through one parser of the tree for a
// given time and reports every fault it sees with the input that caused it.
#pragma once
#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace Fuzz {

using Random = std::mt19937;

class Run {
public:
    Run(const char* driver, unsigned seed, double seconds);
    // Keeps drawing inputs while time remains.
    bool More();
    // Records a fault with the input that caused it (printed escaped, so that it can be replayed).
    void Fault(const std::string& what, const std::wstring& input);
    // The input being tried, printed if the process dies on it (and at once with --trace).
    void Trying(const std::wstring& input);
    // "fuzz DRIVER: N inputs, N faults (seed S, T s)"; true when there were none.
    bool Summary() const;
    Random random;
    // Set from the command line: a number of inputs that replaces the time (0: none), and
    // whether each input is printed before it is tried.
    static size_t limit;
    static bool trace;

private:
    const char* driver_;
    unsigned seed_;
    std::chrono::steady_clock::time_point end_, start_;
    size_t inputs_ = 0, faults_ = 0;
};

// Uniform in [0, n).
inline size_t Below(Random& random, size_t n) { return n ? std::uniform_int_distribution<size_t>(0, n - 1)(random) : 0; }
template <class T> const T& Pick(Random& random, const std::vector<T>& items) { return items[Below(random, items.size())]; }

// Random edits of `text`: characters and pieces from `alphabet` inserted, runs deleted,
// duplicated or swapped.
std::wstring Mutate(Random& random, std::wstring text, const std::vector<std::wstring>& alphabet);

// A printable form of a wide text: C-style escapes for controls, \uXXXX beyond ASCII.
std::string Escape(const std::wstring& text);

bool FuzzTemplates(Run& run);
bool FuzzDecoding(Run& run);
// `plugin` empty: the scenario lines are parsed only, without running commands against a terminal.
bool FuzzScenarioLines(Run& run, const std::wstring& plugin);

}  // namespace Fuzz
