// Export and calling-convention macros for the host boundary.
//
// Every function that crosses the boundary (the two exports, the three entry
// points of HostRecord and the host callback) is a plain function with the
// platform's standard calling convention for plain functions: cdecl on 32-bit
// x86, on Linux and on Windows alike.
#pragma once

#if defined(_WIN32)
#define SE_CALL __cdecl
#define SE_EXPORT __declspec(dllexport)
#else
#define SE_CALL
#define SE_EXPORT __attribute__((visibility("default")))
#endif

// The host may call a process function with a stack aligned to 4 bytes only;
// forwarding functions realign it so that 16-byte vector temporaries are safe.
#if defined(__i386__) && (defined(__GNUC__) || defined(__clang__))
#define SE_REALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define SE_REALIGN_STACK
#endif
