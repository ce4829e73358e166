// Contract checks between host, frame and module.
//
// A breach is a programming error on one side of the boundary. In builds with
// checks (the default unless NDEBUG is defined) it is reported on stderr with
// the frame source file and line, the text of the broken condition and the
// call (and sample clock) it broke in, and the process stops. Without checks the condition is not evaluated.
#pragma once

#ifndef SE_DEBUG_CHECKS
#ifdef NDEBUG
#define SE_DEBUG_CHECKS 0
#else
#define SE_DEBUG_CHECKS 1
#endif
#endif

// Writes "file(line): assertion failed: <condition>; <where>" to stderr and
// stops the process; `where` (printf-style) names the call and, where the
// check has one, the sample clock.
[[noreturn]] void SEAssertFailed(const char* condition, const char* file, int line, const char* where_format, ...)
    __attribute__((format(printf, 4, 5)));

#if SE_DEBUG_CHECKS
// The condition reports its own text (#condition).
#define SE_ASSERT(condition, ...) ((condition) ? (void)0 : SEAssertFailed(#condition, __FILE__, __LINE__, __VA_ARGS__))
// A rule with a text of its own, reported in place of the expression that
// tests it.
#define SE_ASSERT_RULE(holds, rule_text, ...) \
    ((holds) ? (void)0 : SEAssertFailed(rule_text, __FILE__, __LINE__, __VA_ARGS__))
#else
// Not evaluated (sizeof), but the names it uses still count as used.
#define SE_ASSERT(condition, ...) ((void)sizeof(!(condition)))
#define SE_ASSERT_RULE(holds, rule_text, ...) ((void)sizeof(!(holds)))
#endif
