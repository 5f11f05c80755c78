// Strict test doubles in the manner of Wine's conformance tests. A stub says CHECK_EXPECT(name) when it may be called
// once, CHECK_EXPECT2(name) when any number of times; a call the test did not SET_EXPECT fails the test at once.
// CHECK_CALLED(name) fails when an expected call never came, and clears the expectation.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace strict {

struct Expectation { bool expected = false; int calls = 0; };

inline std::map<std::string, Expectation>& Table() {
    static std::map<std::string, Expectation> table;
    return table;
}

inline void Called(const char* name, bool once, const char* file, int line) {
    Expectation& e = Table()[name];
    if (!e.expected) ADD_FAILURE_AT(file, line) << "unexpected call " << name;
    ++e.calls;
    if (once) e.expected = false;
}

inline int Calls(const char* name) { return Table().count(name) ? Table()[name].calls : 0; }
inline void Reset() { Table().clear(); }

}  // namespace strict

#define SET_EXPECT(name) (::strict::Table()[#name] = ::strict::Expectation{true, 0})
#define CHECK_EXPECT(name) ::strict::Called(#name, true, __FILE__, __LINE__)
#define CHECK_EXPECT2(name) ::strict::Called(#name, false, __FILE__, __LINE__)
#define CHECK_CALLED(name) \
    do { EXPECT_NE(0, ::strict::Calls(#name)) << "expected " #name; ::strict::Table().erase(#name); } while (0)
