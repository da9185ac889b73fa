// A header in another folder: a host include and a call in an inline function.
#pragma once
#include <fcntl.h>  // HIT

inline int openRaw(const char* p) { return ::openat(0, p, 0); }  // HIT
