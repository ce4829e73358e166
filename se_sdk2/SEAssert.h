// Contract checks between host, frame and module.
//
// A breach is a programming error on one side of the boundary. In builds with
// checks (the default unless NDEBUG is defined) it is reported on stderr with
// the frame source file and line and the text of the broken condition, and
// the process stops. Without checks the condition is not evaluated.
#pragma once

#ifndef SE_DEBUG_CHECKS
#ifdef NDEBUG
#define SE_DEBUG_CHECKS 0
#else
#define SE_DEBUG_CHECKS 1
#endif
#endif

[[noreturn]] void SEAssertFailed(const char* text, const char* file, int line);

#if SE_DEBUG_CHECKS
#define SE_ASSERT(condition, text) ((condition) ? (void)0 : SEAssertFailed(text, __FILE__, __LINE__))
#else
#define SE_ASSERT(condition, text) ((void)0)
#endif
